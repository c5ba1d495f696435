// MessagePack reading: one value from a byte buffer into a `BindingProperty`.
//
// The decoder is iterative: open arrays and maps live on an explicit frame
// stack (the entries each has still to begin), never on the call stack, and
// the tree is built through the shared `TreeBuilder`. Every declared length or
// count is checked against the bytes that remain before anything is copied or
// allocated; an array or map grows one entry per entry read, with room made
// up front for at most 64 entries and never for more than the bytes left
// could hold. The returned result owns its tree; the
// reader keeps nothing.
//
// Choices worth knowing:
// - Positive fixints give the signed kind, uint 8-64 the unsigned kind.
// - String values keep every byte (embedded NULs included); map keys must be
//   strings and are cut at their first NUL when the member is looked up.
// - A repeated key reuses its member and the later value wins: a scalar,
//   string, blob, array or map replaces whatever the member held (an earlier
//   array or map is discarded, not merged into); only a later nil leaves the
//   earlier value as it was.
// - Input nested deeper than `kMaxNestingDepth` (512) containers is refused,
//   so that no later recursive walk of the tree can exhaust the stack.
// - Input that ends inside an array or map is not an error: the container
//   keeps what was read. Bytes after the first complete value are left to the
//   caller, who sees where reading stopped.
//
//   std::size_t position = 0;
//   PropertyResult value = ParseMessagePack(body.data(), body.size(), &position);
//   if (!value.IsValid()) return Failure(..., value.GetError());
#ifndef VYN_FORMATS_MSGPACK_READER_H_
#define VYN_FORMATS_MSGPACK_READER_H_

#include <cstddef>
#include <cstdint>

#include "binding/binding_property.h"

namespace Kestrel {

// Reads one MessagePack value from the `size` bytes at `data` (nullptr only
// with size 0). Returns the value, or an invalid result whose error names the
// fault and its byte position; an empty input gives a valid empty value.
// Stores the number of bytes consumed in `*position` unless `position` is
// nullptr.
[[nodiscard]] PropertyResult ParseMessagePack(const uint8_t* data, std::size_t size,
                                              std::size_t* position);

// Returns true when `size` is not 0 and the first byte opens a map or an array
// (0x80-0x9F, 0xDC-0xDF). `data` may be nullptr only with size 0.
bool LooksLikeMessagePack(const uint8_t* data, std::size_t size);

}  // namespace Kestrel

#endif  // VYN_FORMATS_MSGPACK_READER_H_
