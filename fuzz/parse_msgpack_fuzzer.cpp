// Fuzz target: ParseMessagePack over arbitrary bytes, then the tree written
// with WriteJson and read back, which must give the same tree up to what JSON
// cannot hold (see RoundTrip::kFromOtherFormat); the tree is also assigned to
// native values of every kind (every_kind.h).
#include <cstddef>
#include <cstdint>

#include "formats/msgpack_reader.h"
#include "fuzz/every_kind.h"
#include "fuzz/fuzz_support.h"

namespace Kestrel::Fuzz {

int FuzzParseMessagePack(const uint8_t* data, std::size_t size) {
  LooksLikeMessagePack(data, size);
  std::size_t position = size + 1;
  const PropertyResult tree = ParseMessagePack(data, size, &position);
  Check(position <= size, "the MessagePack read position stays within the input");
  if (!tree.IsValid()) {
    Check(!tree.GetError().empty(), "a refused MessagePack input gives a message");
    return 0;
  }
  Check(size == 0 || position > 0, "a successful MessagePack read consumes input");
  CheckJsonRoundTrip(tree, RoundTrip::kFromOtherFormat);
  CheckNativeRoundTrip(tree);
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzParseMessagePack)
