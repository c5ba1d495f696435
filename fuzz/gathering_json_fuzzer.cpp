// Fuzz target: ParseJson over arbitrary bytes, with its tree built through
// `TreeBuilder` (members gathered in arrival order, recurring orders reused)
// and once more through the plain builder (plain_readers.h); the two results
// must be the same (same_tree.h).
#include <cstddef>
#include <cstdint>

#include "formats/json_reader.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/plain_readers.h"
#include "fuzz/same_tree.h"

namespace Kestrel::Fuzz {

int FuzzGatheringJson(const uint8_t* data, std::size_t size) {
  const auto* text = reinterpret_cast<const char*>(data);
  CheckSameResult(ParseJson(text, size), KestrelPlainTree::ParseJson(text, size), "JSON");
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzGatheringJson)
