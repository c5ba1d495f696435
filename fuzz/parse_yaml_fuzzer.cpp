// Fuzz target: ParseYaml over arbitrary bytes, then the tree written with
// WriteJson and read back, which must give the same tree up to what JSON cannot
// hold (see RoundTrip::kFromOtherFormat); the tree is also assigned to native
// values of every kind (every_kind.h).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/yaml_reader.h"
#include "fuzz/every_kind.h"
#include "fuzz/fuzz_support.h"

namespace Kestrel::Fuzz {

int FuzzParseYaml(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  LooksLikeYaml(std::string(text).c_str());
  const PropertyResult tree = ParseYaml(text);
  if (!tree.IsValid()) {
    Check(!tree.GetError().empty(), "a refused YAML text gives a message");
    return 0;
  }
  CheckJsonRoundTrip(tree, RoundTrip::kFromOtherFormat);
  CheckNativeRoundTrip(tree);
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzParseYaml)
