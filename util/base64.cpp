#include "util/base64.h"

namespace Kestrel {

const char* const kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

namespace {

// The 6-bit value of `c`, or -1 when `c` is not in the alphabet.
int DecodeCharacter(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::string EncodeBase64(const uint8_t* bytes, size_t count) {
  std::string text;
  if (count == 0) return text;
  text.reserve(4 * ((count + 2) / 3));
  size_t index = 0;
  for (; index + 3 <= count; index += 3) {
    const uint32_t group = (uint32_t{bytes[index]} << 16) | (uint32_t{bytes[index + 1]} << 8) |
                           uint32_t{bytes[index + 2]};
    text += kBase64Alphabet[(group >> 18) & 0x3F];
    text += kBase64Alphabet[(group >> 12) & 0x3F];
    text += kBase64Alphabet[(group >> 6) & 0x3F];
    text += kBase64Alphabet[group & 0x3F];
  }
  const size_t tail = count - index;
  if (tail == 1) {
    const uint32_t group = uint32_t{bytes[index]} << 16;
    text += kBase64Alphabet[(group >> 18) & 0x3F];
    text += kBase64Alphabet[(group >> 12) & 0x3F];
    text += "==";
  } else if (tail == 2) {
    const uint32_t group = (uint32_t{bytes[index]} << 16) | (uint32_t{bytes[index + 1]} << 8);
    text += kBase64Alphabet[(group >> 18) & 0x3F];
    text += kBase64Alphabet[(group >> 12) & 0x3F];
    text += kBase64Alphabet[(group >> 6) & 0x3F];
    text += '=';
  }
  return text;
}

std::string EncodeBase64(const std::vector<uint8_t>& bytes) {
  return EncodeBase64(bytes.data(), bytes.size());
}

std::vector<uint8_t> DecodeBase64(std::string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(3 * ((text.size() + 3) / 4));
  uint32_t group = 0;
  size_t filled = 0;  // characters in `group`
  for (const char c : text) {
    const int value = DecodeCharacter(c);
    if (value < 0) break;  // '=' or a foreign character ends the data
    group = (group << 6) | static_cast<uint32_t>(value);
    if (++filled == 4) {
      bytes.push_back(static_cast<uint8_t>(group >> 16));
      bytes.push_back(static_cast<uint8_t>(group >> 8));
      bytes.push_back(static_cast<uint8_t>(group));
      group = 0;
      filled = 0;
    }
  }
  if (filled == 2) {
    bytes.push_back(static_cast<uint8_t>(group >> 4));
  } else if (filled == 3) {
    bytes.push_back(static_cast<uint8_t>(group >> 10));
    bytes.push_back(static_cast<uint8_t>(group >> 2));
  }
  return bytes;
}

bool IsBase64Text(std::string_view text) {
  for (const char c : text) {
    if (c != '=' && DecodeCharacter(c) < 0) return false;
  }
  return true;
}

}  // namespace Kestrel
