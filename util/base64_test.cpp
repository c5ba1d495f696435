#include "util/base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace Kestrel {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string Encode(const std::string& text) {
  return EncodeBase64(Bytes(text));
}

struct Vector {
  const char* bytes;
  const char* text;
};

// RFC 4648, section 10.
constexpr Vector kRfcVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64Test, AlphabetIsTheStandardOne) {
  EXPECT_STREQ(kBase64Alphabet, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
}

TEST(Base64Test, EncodesRfcVectors) {
  for (const Vector& vector : kRfcVectors) {
    SCOPED_TRACE(vector.bytes);
    EXPECT_EQ(Encode(vector.bytes), vector.text);
    const std::string bytes = vector.bytes;
    EXPECT_EQ(EncodeBase64(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
              vector.text);
  }
}

TEST(Base64Test, DecodesRfcVectors) {
  for (const Vector& vector : kRfcVectors) {
    SCOPED_TRACE(vector.text);
    EXPECT_EQ(DecodeBase64(vector.text), Bytes(vector.bytes));
  }
}

TEST(Base64Test, DocumentedEdgeCases) {
  EXPECT_EQ(Encode("abc"), "YWJj");
  EXPECT_EQ(Encode("ab"), "YWI=");
  EXPECT_EQ(Encode("a"), "YQ==");
  EXPECT_EQ(DecodeBase64("YWJj"), Bytes("abc"));
  EXPECT_EQ(DecodeBase64("YWI="), Bytes("ab"));
  EXPECT_EQ(DecodeBase64("YWI"), Bytes("ab"));
  EXPECT_EQ(DecodeBase64("YQ==YWJj"), Bytes("a"));
  EXPECT_EQ(DecodeBase64("Y"), Bytes(""));
  EXPECT_EQ(DecodeBase64(""), Bytes(""));
  EXPECT_EQ(EncodeBase64(nullptr, 0), "");
}

TEST(Base64Test, DecodingTails) {
  EXPECT_EQ(DecodeBase64("YQ"), Bytes("a"));
  EXPECT_EQ(DecodeBase64("YQ="), Bytes("a"));
  EXPECT_EQ(DecodeBase64("YWJjZ"), Bytes("abc"));  // lone final character: nothing
  EXPECT_EQ(DecodeBase64("YWJjZA"), Bytes("abcd"));
  EXPECT_EQ(DecodeBase64("YWJjZGU"), Bytes("abcde"));
  EXPECT_EQ(DecodeBase64("="), Bytes(""));
  EXPECT_EQ(DecodeBase64("===="), Bytes(""));
}

TEST(Base64Test, DecodingStopsAtTheFirstForeignCharacter) {
  EXPECT_EQ(DecodeBase64("YWJj\nYWJj"), Bytes("abc"));
  EXPECT_EQ(DecodeBase64("YW Jj"), Bytes("a"));
  EXPECT_EQ(DecodeBase64("YWJj-_"), Bytes("abc"));  // the URL-safe alphabet is foreign
  EXPECT_EQ(DecodeBase64(std::string("YWJj\0YWJj", 9)), Bytes("abc"));
  EXPECT_EQ(DecodeBase64("\xC3\xA9YWJj"), Bytes(""));
  EXPECT_EQ(DecodeBase64("+/+/"), (std::vector<uint8_t>{0xFB, 0xFF, 0xBF}));
}

TEST(Base64Test, EveryByteRoundTrips) {
  std::vector<uint8_t> all;
  for (int byte = 0; byte < 256; ++byte) all.push_back(static_cast<uint8_t>(byte));
  for (size_t length = 0; length <= all.size(); ++length) {
    const std::vector<uint8_t> bytes(all.begin(), all.begin() + length);
    const std::string text = EncodeBase64(bytes);
    ASSERT_EQ(text.size(), 4 * ((length + 2) / 3));
    ASSERT_EQ(DecodeBase64(text), bytes) << "length " << length;
  }
  EXPECT_EQ(EncodeBase64(std::vector<uint8_t>{0xFF, 0xFE, 0xFD}), "//79");
  EXPECT_EQ(EncodeBase64(std::vector<uint8_t>{0, 0, 0}), "AAAA");
}

TEST(Base64Test, ValidationAcceptsOnlyTheAlphabetAndPadding) {
  EXPECT_TRUE(IsBase64Text(""));
  EXPECT_TRUE(IsBase64Text("Zm9vYg=="));
  EXPECT_TRUE(IsBase64Text("YQ==YWJj"));  // '=' in the middle is accepted
  EXPECT_TRUE(IsBase64Text("+/09azAZ"));
  EXPECT_FALSE(IsBase64Text("YWJj\n"));
  EXPECT_FALSE(IsBase64Text("YW Jj"));
  EXPECT_FALSE(IsBase64Text("YWJj-"));
  EXPECT_FALSE(IsBase64Text(std::string("YW\0J", 4)));
}

}  // namespace
}  // namespace Kestrel
