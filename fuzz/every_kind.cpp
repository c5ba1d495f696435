#include "fuzz/every_kind.h"

#include <cstdio>
#include <string>

#include "binding/assign_native.h"
#include "binding/convert_native.h"
#include "formats/json_reader.h"
#include "formats/json_writer.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/every_kind.h"

namespace Kestrel::Fuzz {

namespace {

using Testing::EveryKind;

// Assigns `tree` to a fresh T: a rejection is fine, but it must carry a message.
template <class T>
void AssignAlone(const BindingProperty& tree) {
  PropertyResult status;
  T native{};
  AssignNative(status, native, tree, "<value>", EveryKindRegistry());
  Check(status.IsValid() || !status.GetError().empty(), "a rejected assignment gives a message");
}

}  // namespace

TypeRegistry& EveryKindRegistry() {
  static TypeRegistry* const registry = [] {
    auto* made = new TypeRegistry();
    Testing::RegisterEveryKind(*made);
    return made;
  }();
  return *registry;
}

void CheckNativeRoundTrip(const BindingProperty& tree) {
  TypeRegistry& registry = EveryKindRegistry();
  AssignAlone<bool>(tree);
  AssignAlone<int8_t>(tree);
  AssignAlone<uint16_t>(tree);
  AssignAlone<int32_t>(tree);
  AssignAlone<uint64_t>(tree);
  AssignAlone<int64_t>(tree);
  AssignAlone<float>(tree);
  AssignAlone<double>(tree);
  AssignAlone<std::string>(tree);
  AssignAlone<std::vector<uint8_t>>(tree);
  AssignAlone<Testing::Level>(tree);
  AssignAlone<std::vector<Testing::Member>>(tree);
  AssignAlone<std::unordered_map<std::string, std::vector<bool>>>(tree);

  PropertyResult status;
  EveryKind first;
  AssignNative(status, first, tree, "<value>", registry);
  Check(status.IsValid() || !status.GetError().empty(), "a rejected assignment gives a message");

  // Whatever was assigned (a rejection leaves the fields before it set) is a
  // native value that converts and assigns back unchanged.
  PropertyResult converted;
  ConvertNative(converted, first, registry);
  Check(converted.IsValid(), "a registered struct converts");
  PropertyResult again_status;
  EveryKind second;
  AssignNative(again_status, second, converted, "<value>", registry);
  if (!again_status.IsValid()) {
    std::fprintf(stderr, "%s\n", std::string(again_status.GetError()).c_str());
  }
  Check(again_status.IsValid(), "the conversion of a native value assigns back");
  PropertyResult reconverted;
  ConvertNative(reconverted, second, registry);
  CheckNoDifference(CompareRoundTrip(converted, reconverted, RoundTrip::kFromJson),
                    "native value converted, assigned back and converted again");

  // Its JSON text, with enumerators by name and blobs in Base64, assigns too.
  const PropertyResult reread = ParseJson(WriteJson(converted, &registry));
  Check(reread.IsValid(), "the JSON text of a converted native value parses");
  PropertyResult json_status;
  EveryKind third;
  AssignNative(json_status, third, reread, "<value>", registry);
  if (!json_status.IsValid()) {
    std::fprintf(stderr, "%s\n", std::string(json_status.GetError()).c_str());
  }
  Check(json_status.IsValid(), "the JSON text of a converted native value assigns back");
}

}  // namespace Kestrel::Fuzz
