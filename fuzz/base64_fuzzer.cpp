// Fuzz target: DecodeBase64 over arbitrary text, checked against a plain
// bit-by-bit decoder, plus the encode/decode round trip of the same bytes and
// IsBase64Text against its character rule.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "util/base64.h"

namespace Kestrel::Fuzz {

namespace {

// The alphabet of RFC 4648, table 1, written out as the standard prints it:
// a character's value is its position.
constexpr std::string_view kStandardAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of an alphabet character, or -1 for any other character.
int AlphabetValue(char c) {
  const std::size_t position = kStandardAlphabet.find(c);
  return position == std::string_view::npos ? -1 : static_cast<int>(position);
}

// Decodes the leading run of alphabet characters six bits at a time: every
// complete byte is kept, leftover bits are dropped.
std::vector<uint8_t> ReferenceDecode(std::string_view text) {
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  int bit_count = 0;
  for (const char c : text) {
    const int value = AlphabetValue(c);
    if (value < 0) break;
    bits = (bits << 6) | static_cast<uint32_t>(value);
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      bytes.push_back(static_cast<uint8_t>(bits >> bit_count));
      bits &= (1u << bit_count) - 1;
    }
  }
  return bytes;
}

}  // namespace

int FuzzDecodeBase64(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Check(DecodeBase64(text) == ReferenceDecode(text), "DecodeBase64 matches the bit-wise decoder");

  bool only_base64 = true;
  for (const char c : text) only_base64 = only_base64 && (AlphabetValue(c) >= 0 || c == '=');
  Check(IsBase64Text(text) == only_base64, "IsBase64Text follows the character rule");

  const std::string encoded = EncodeBase64(data, size);
  Check(encoded.size() == (size + 2) / 3 * 4,
        "EncodeBase64 gives four characters per started group");
  Check(IsBase64Text(encoded), "EncodeBase64 writes only Base64 characters");
  const std::size_t padding = (3 - size % 3) % 3;
  Check(encoded.find('=') == (padding == 0 ? std::string::npos : encoded.size() - padding),
        "EncodeBase64 pads only at the end");
  const std::vector<uint8_t> decoded = DecodeBase64(encoded);
  Check(decoded == std::vector<uint8_t>(data, data + size), "DecodeBase64 undoes EncodeBase64");
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzDecodeBase64)
