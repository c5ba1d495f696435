// Fuzz target: ParseYaml over arbitrary bytes, with its tree built through
// `TreeBuilder` (members gathered in arrival order, recurring orders reused,
// open structures settled before an alias copies them) and once more through
// the plain builder (plain_readers.h); the two results must be the same
// (same_tree.h).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/yaml_reader.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/plain_readers.h"
#include "fuzz/same_tree.h"

namespace Kestrel::Fuzz {

int FuzzGatheringYaml(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckSameResult(ParseYaml(text), KestrelPlainTree::ParseYaml(text), "YAML");
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzGatheringYaml)
