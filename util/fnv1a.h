// FNV-1a 32-bit hashing: the one implementation behind static type identities,
// field and argument name keys and the string pools of property stores.
//
// Offset basis 0x811C9DC5, prime 0x01000193; each byte is XORed in, unsigned,
// before the multiply. Header-only and constexpr so that the store's lookups
// inline it.
//
//   Fnv1a32("a");   // 0xE40C292C
#ifndef VYN_UTIL_FNV1A_H_
#define VYN_UTIL_FNV1A_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Kestrel {

inline constexpr uint32_t kFnvOffsetBasis = 0x811C9DC5u;
inline constexpr uint32_t kFnvPrime = 0x01000193u;

// Returns the FNV-1a 32-bit hash of all bytes of `text`, NUL bytes included.
// Never fails.
constexpr uint32_t Fnv1a32(std::string_view text) {
  uint32_t hash = kFnvOffsetBasis;
  const std::size_t size = text.size();
  std::size_t i = 0;
  // Four bytes a step: each byte still depends on the one before, but the
  // loop's own counting and branching are paid once per four.
  for (; size - i >= 4; i += 4) {
    hash = (hash ^ static_cast<uint8_t>(text[i])) * kFnvPrime;
    hash = (hash ^ static_cast<uint8_t>(text[i + 1])) * kFnvPrime;
    hash = (hash ^ static_cast<uint8_t>(text[i + 2])) * kFnvPrime;
    hash = (hash ^ static_cast<uint8_t>(text[i + 3])) * kFnvPrime;
  }
  for (; i < size; ++i) hash = (hash ^ static_cast<uint8_t>(text[i])) * kFnvPrime;
  return hash;
}

}  // namespace Kestrel

#endif  // VYN_UTIL_FNV1A_H_
