// Fuzz target: ParseJson over arbitrary bytes (not NUL-terminated, so reading
// past the end shows up), then the tree written with WriteJson and read back,
// which must give the same tree, and assigned to native values of every kind
// (every_kind.h).
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/json_reader.h"
#include "fuzz/every_kind.h"
#include "fuzz/fuzz_support.h"

namespace Kestrel::Fuzz {

int FuzzParseJson(const uint8_t* data, std::size_t size) {
  const PropertyResult tree = ParseJson(reinterpret_cast<const char*>(data), size);
  const std::string text(reinterpret_cast<const char*>(data), size);
  LooksLikeJson(text.c_str());
  if (!tree.IsValid()) {
    Check(tree.GetError().starts_with("Error: "), "a refused JSON text gives the parse message");
    return 0;
  }
  CheckJsonRoundTrip(tree, RoundTrip::kFromJson);
  CheckNativeRoundTrip(tree);
  const BindingProperty copy(tree);
  CheckNoDifference(CompareRoundTrip(tree, copy, RoundTrip::kFromJson), "copy of a parsed tree");
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzParseJson)
