// Fuzz target: ParseMessagePack over arbitrary bytes, with its tree built
// through `TreeBuilder` (members gathered in arrival order, recurring orders
// reused, structures left open by a truncated input settled) and once more
// through the plain builder (plain_readers.h); the two results and read
// positions must be the same (same_tree.h).
#include <cstddef>
#include <cstdint>

#include "formats/msgpack_reader.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/plain_readers.h"
#include "fuzz/same_tree.h"

namespace Kestrel::Fuzz {

int FuzzGatheringMessagePack(const uint8_t* data, std::size_t size) {
  std::size_t gathered_position = 0;
  std::size_t plain_position = 0;
  const PropertyResult gathered = ParseMessagePack(data, size, &gathered_position);
  const PropertyResult plain = KestrelPlainTree::ParseMessagePack(data, size, &plain_position);
  Check(gathered_position == plain_position, "the gathered and the plain reading stop alike");
  CheckSameResult(gathered, plain, "MessagePack");
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzGatheringMessagePack)
