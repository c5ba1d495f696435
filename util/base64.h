// Base64 of RFC 4648 with the standard alphabet: blobs travel
// as Base64 text wherever a body format has no byte type.
//
//   EncodeBase64(bytes, 3)     // "YWJj" for the bytes of "abc"
//   DecodeBase64("YWI=")       // the bytes 'a', 'b'
//
// Byte strings are std::vector<uint8_t>. Decoding never fails: it reads up to the
// first '=' or the first character outside the alphabet and ignores the rest.
// Callers that must reject foreign characters (the blob conversion of the binding layer)
// validate with IsBase64Text first.
#ifndef VYN_UTIL_BASE64_H_
#define VYN_UTIL_BASE64_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Kestrel {

// The alphabet, "A-Za-z0-9+/", held once for the life of the library.
extern const char* const kBase64Alphabet;

// Returns the Base64 text of the `count` bytes at `bytes` (which may be null
// only when `count` is 0), padded with '=' to a multiple of four characters,
// without line breaks; "" when `count` is 0. Thread-safe.
std::string EncodeBase64(const uint8_t* bytes, size_t count);
std::string EncodeBase64(const std::vector<uint8_t>& bytes);

// Returns the bytes of `text`. Reading stops at the first '=' and at the first
// character that is not a letter, a digit, '+' or '/'. Each group of four
// characters gives three bytes; a final group of two gives one byte, of three
// two bytes, and a lone final character nothing. Never fails.
std::vector<uint8_t> DecodeBase64(std::string_view text);

// Whether every character of `text` is a letter, a digit, '+', '/' or '=' (the
// blob conversion's validation; an empty text passes).
bool IsBase64Text(std::string_view text);

}  // namespace Kestrel

#endif  // VYN_UTIL_BASE64_H_
