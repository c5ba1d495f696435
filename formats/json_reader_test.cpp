#include "formats/json_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "formats/tree_builder.h"

namespace Kestrel {
namespace {

TEST(JsonReaderTest, EmptyAndBlankTextGiveAnEmptyValidValue) {
  for (const char* text : {"", " ", " \t\r\n  \n", "\0[1]"}) {
    PropertyResult value = ParseJson(text);
    EXPECT_TRUE(value.IsValid()) << '"' << text << '"';
    EXPECT_TRUE(value.IsEmpty()) << '"' << text << '"';
  }
  EXPECT_TRUE(ParseJson(nullptr).IsEmpty());
  EXPECT_TRUE(ParseJson(nullptr, 0).IsValid());
  EXPECT_TRUE(ParseJson(std::string()).IsValid());
  // A vertical tab or form feed is no JSON whitespace.
  EXPECT_FALSE(ParseJson("\v").IsValid());
}

TEST(JsonReaderTest, IntegersSplitBySignAndOverflowToFloat) {
  // [1, -1, 4294967296, 1.5]
  PropertyResult list = ParseJson("[1, -1, 4294967296, 1.5]");
  ASSERT_TRUE(list.IsValid());
  ASSERT_EQ(list.Size(), 4u);
  EXPECT_EQ(list.GetAt(0).kind(), PropertyKind::kUnsigned);
  EXPECT_EQ(list.GetAt(0).GetUnsigned(), 1u);
  EXPECT_EQ(list.GetAt(1).kind(), PropertyKind::kSigned);
  EXPECT_EQ(list.GetAt(1).GetSigned(), -1);
  EXPECT_EQ(list.GetAt(2).GetUnsigned(), 4294967296u);
  EXPECT_EQ(list.GetAt(3).kind(), PropertyKind::kFloat);
  EXPECT_EQ(list.GetAt(3).GetDouble(), 1.5);

  struct Case {
    const char* text;
    PropertyKind kind;
    const char* why;
  };
  const Case cases[] = {
      {"0", PropertyKind::kUnsigned, "zero is not negative"},
      {"-0", PropertyKind::kSigned, "the parser reports -0 as a signed event"},
      {"4294967295", PropertyKind::kUnsigned, "largest 32-bit event"},
      {"-2147483648", PropertyKind::kSigned, "smallest 32-bit event"},
      {"-2147483649", PropertyKind::kSigned, "first 64-bit signed event"},
      {"18446744073709551615", PropertyKind::kUnsigned, "2^64 - 1 still fits"},
      {"18446744073709551616", PropertyKind::kFloat, "2^64 overflows"},
      {"-9223372036854775808", PropertyKind::kSigned, "-2^63 still fits"},
      {"-9223372036854775809", PropertyKind::kFloat, "below -2^63 overflows"},
      {"1.0", PropertyKind::kFloat, "a fraction makes a float"},
      {"1e2", PropertyKind::kFloat, "an exponent makes a float"},
  };
  for (const Case& c : cases) {
    PropertyResult value = ParseJson(c.text);
    ASSERT_TRUE(value.IsValid()) << c.text;
    EXPECT_EQ(value.kind(), c.kind) << c.text << ": " << c.why;
  }
  EXPECT_EQ(ParseJson("18446744073709551615").GetUnsigned(), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(ParseJson("18446744073709551616").GetDouble(), 18446744073709551616.0);
  EXPECT_EQ(ParseJson("-9223372036854775808").GetSigned(), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(ParseJson("-2147483649").GetSigned(), -2147483649LL);
  EXPECT_EQ(ParseJson("1e2").GetDouble(), 100.0);
  EXPECT_TRUE(std::signbit(ParseJson("-0.0").GetDouble()));
}

TEST(JsonReaderTest, ScalarsAndEscapes) {
  // {"t":true,"f":false,"n":null,"s":"a\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00"}
  PropertyResult doc =
      ParseJson(R"({"t":true,"f":false,"n":null,"s":"a\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00"})");
  ASSERT_TRUE(doc.IsValid()) << doc.GetError();
  EXPECT_EQ(doc.GetField("t").kind(), PropertyKind::kBool);
  EXPECT_TRUE(doc.GetField("t").GetBool());
  EXPECT_EQ(doc.GetField("f").kind(), PropertyKind::kBool);
  EXPECT_FALSE(doc.GetField("f").GetBool(true));
  ASSERT_NE(doc.FindField("n"), nullptr);  // null still creates the member
  EXPECT_TRUE(doc.GetField("n").IsEmpty());
  EXPECT_EQ(doc.GetField("s").GetString(), "a\"\\/\b\f\n\r\t\xC3\xA9\xF0\x9F\x98\x80");
  // Raw UTF-8 and invalid bytes pass through unvalidated.
  EXPECT_EQ(ParseJson("\"\xC3\xA9\xFF\"").GetString(), "\xC3\xA9\xFF");
  // A null element is kept as an empty element.
  PropertyResult list = ParseJson("[null,1]");
  ASSERT_EQ(list.Size(), 2u);
  EXPECT_TRUE(list.GetAt(0).IsEmpty());
}

TEST(JsonReaderTest, StringsAndKeysAreCutAtAnEscapedNul) {
  // {"k\u0000x":"ab\u0000cd"}
  PropertyResult doc = ParseJson(R"({"k\u0000x":"ab\u0000cd"})");
  ASSERT_TRUE(doc.IsValid());
  ASSERT_EQ(doc.Size(), 1u);
  EXPECT_EQ(doc.GetField("k").GetString(), "ab");
  EXPECT_EQ(doc.GetField("k").Size(), 2u);

  // An escape late in the text still cuts the strings before it is read, and
  // an escaped backslash before "u0000" escapes no NUL.
  PropertyResult late = ParseJson(R"({"a":"x","b\u0000c":["d\u0000e"],"f":"\\u0000"})");
  ASSERT_TRUE(late.IsValid());
  EXPECT_EQ(late.GetField("a").GetString(), "x");
  EXPECT_EQ(late.GetField("b").GetAt(0).GetString(), "d");
  EXPECT_EQ(late.GetField("f").GetString(), "\\u0000");
  PropertyResult plain = ParseJson(R"({"g":"\\u0000"})");
  EXPECT_EQ(plain.GetField("g").GetString(), "\\u0000");
}

TEST(JsonReaderTest, RepeatedKeysAddressTheSameMember) {
  PropertyResult merged = ParseJson(R"({"a":{"x":1},"a":{"y":2}})");
  ASSERT_TRUE(merged.IsValid());
  EXPECT_EQ(merged.GetField("a").Size(), 2u);
  EXPECT_EQ(merged.GetField("a").GetField("x").GetUnsigned(), 1u);
  EXPECT_EQ(merged.GetField("a").GetField("y").GetUnsigned(), 2u);

  PropertyResult appended = ParseJson(R"({"a":[1],"a":[2]})");
  ASSERT_EQ(appended.GetField("a").Size(), 2u);
  EXPECT_EQ(appended.GetField("a").GetAt(0).GetUnsigned(), 1u);
  EXPECT_EQ(appended.GetField("a").GetAt(1).GetUnsigned(), 2u);

  EXPECT_EQ(ParseJson(R"({"a":1,"a":2})").GetField("a").GetUnsigned(), 2u);
  EXPECT_EQ(ParseJson(R"({"a":1,"a":null})").GetField("a").GetUnsigned(), 1u);
  // A container after a scalar replaces it, a scalar after a container too.
  PropertyResult replaced = ParseJson(R"({"a":"s","a":[true],"b":{"c":1},"b":false})");
  EXPECT_EQ(replaced.GetField("a").kind(), PropertyKind::kCollection);
  EXPECT_EQ(replaced.GetField("b").kind(), PropertyKind::kBool);
}

TEST(JsonReaderTest, MalformedTextNamesTheReasonAndOffset) {
  struct Case {
    const char* text;
    std::string_view message;
  };
  const Case cases[] = {
      {R"({"a":1} x)",
       "Error: The document root must not be followed by other values. at offset 8."},
      {"[1,2", "Error: Missing a comma or ']' after an array element. at offset 4."},
      {"[1,]", "Error: Invalid value. at offset 3."},
      {R"({"a" 1})", "Error: Missing a colon after a name of object member. at offset 5."},
      {"{1:2}", "Error: Missing a name for object member. at offset 1."},
      {"NaN", "Error: Invalid value. at offset 0."},
      {"[1] // note",
       "Error: The document root must not be followed by other values. at offset 4."},
      {R"("abc)", "Error: Missing a closing quotation mark in string. at offset 4."},
      {R"("\q")", "Error: Invalid escape character in string. at offset 1."},
      {"1.", "Error: Miss fraction part in number. at offset 2."},
  };
  for (const Case& c : cases) {
    PropertyResult value = ParseJson(c.text);
    EXPECT_FALSE(value.IsValid()) << c.text;
    EXPECT_EQ(value.GetError(), c.message) << c.text;
    // Nothing of the partly read document is left behind.
    EXPECT_EQ(value.kind(), PropertyKind::kStructure);
    EXPECT_EQ(value.Size(), 1u);
  }
}

TEST(JsonReaderTest, BoundedTextIsNeverReadPastItsLength) {
  // The buffer holds exactly the bytes of [1,2] with no terminating NUL.
  const std::string source = "[1,2]";
  auto exact = std::make_unique<char[]>(source.size());
  source.copy(exact.get(), source.size());
  PropertyResult whole = ParseJson(exact.get(), source.size());
  ASSERT_TRUE(whole.IsValid()) << whole.GetError();
  EXPECT_EQ(whole.Size(), 2u);
  // Three bytes are "[1," and end where a value is due.
  EXPECT_EQ(ParseJson(exact.get(), 3).GetError(), "Error: Invalid value. at offset 3.");

  // An embedded NUL ends the text in every form.
  const std::string with_nul("[1] \0garbage", 12);
  EXPECT_EQ(ParseJson(with_nul.data(), with_nul.size()).Size(), 1u);
  EXPECT_TRUE(ParseJson(with_nul).IsValid());
  const std::string nul_in_string("\"ab\0cd\"", 7);
  EXPECT_EQ(ParseJson(nul_in_string).GetError(),
            "Error: Missing a closing quotation mark in string. at offset 3.");
}

std::string Nested(std::size_t depth, const char* open, const char* inner, const char* close) {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += open;
  text += inner;
  for (std::size_t i = 0; i < depth; ++i) text += close;
  return text;
}

TEST(JsonReaderTest, NestingIsBoundedWithoutExhaustingTheStack) {
  ASSERT_EQ(kMaxNestingDepth, 512u);
  // A value inside 512 open arrays is accepted.
  PropertyResult deepest = ParseJson(Nested(512, "[", "7", "]"));
  ASSERT_TRUE(deepest.IsValid()) << deepest.GetError();
  const BindingProperty* level = &deepest;
  for (int i = 0; i < 512; ++i) {
    ASSERT_EQ(level->kind(), PropertyKind::kCollection) << i;
    level = &level->GetAt(0);
  }
  EXPECT_EQ(level->GetUnsigned(), 7u);

  // Opening a 513th container is refused at the offset of its bracket.
  EXPECT_EQ(ParseJson(Nested(513, "[", "", "]")).GetError(),
            "Error: Nesting deeper than 512 levels at offset 512.");
  EXPECT_TRUE(ParseJson(Nested(512, R"({"a":)", "1", "}")).IsValid());
  // Here the innermost "{}" would be the 513th container.
  EXPECT_EQ(ParseJson(Nested(512, R"({"a":)", "{}", "}")).GetError(),
            "Error: Nesting deeper than 512 levels at offset 2560.");
  // Mixed containers count alike.
  EXPECT_FALSE(ParseJson("[" + Nested(256, R"({"k":[)", "", "]}")).IsValid());

  // A million open brackets would overflow the parser's recursion.
  const std::string flood(1000000, '[');
  PropertyResult refused = ParseJson(flood);
  EXPECT_FALSE(refused.IsValid());
  EXPECT_EQ(refused.GetError(), "Error: Nesting deeper than 512 levels at offset 512.");
}

TEST(JsonReaderTest, LooksLikeJsonSkipsOnlySpaces) {
  EXPECT_TRUE(LooksLikeJson("{}"));
  EXPECT_TRUE(LooksLikeJson("   [1"));
  EXPECT_TRUE(LooksLikeJson("{ not really json"));
  EXPECT_FALSE(LooksLikeJson("\t{}"));
  EXPECT_FALSE(LooksLikeJson("\n[1]"));
  EXPECT_FALSE(LooksLikeJson("\"text\""));
  EXPECT_FALSE(LooksLikeJson("   "));
  EXPECT_FALSE(LooksLikeJson(""));
  EXPECT_FALSE(LooksLikeJson(nullptr));
}

}  // namespace
}  // namespace Kestrel
