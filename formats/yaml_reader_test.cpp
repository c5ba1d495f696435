#include "formats/yaml_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include "formats/tree_builder.h"
#include "util/counting_allocator.h"

namespace Kestrel {
namespace {

// Renders a tree as compact text: u:1, s:-1, f:1.5, b:true, "text", ~ for
// empty, [..] and {name:..} for containers.
void Render(const BindingProperty& value, std::ostringstream& out) {
  switch (value.kind()) {
    case PropertyKind::kEmpty:
      out << "~";
      break;
    case PropertyKind::kBool:
      out << "b:" << (value.GetBool() ? "true" : "false");
      break;
    case PropertyKind::kSigned:
      out << "s:" << value.GetSigned();
      break;
    case PropertyKind::kUnsigned:
      out << "u:" << value.GetUnsigned();
      break;
    case PropertyKind::kFloat:
      out << "f:" << value.GetDouble();
      break;
    case PropertyKind::kString:
      out << '"' << value.GetString() << '"';
      break;
    case PropertyKind::kCollection: {
      out << '[';
      const char* separator = "";
      for (const BindingProperty& element : value.Elements()) {
        out << separator;
        Render(element, out);
        separator = ",";
      }
      out << ']';
      break;
    }
    case PropertyKind::kStructure: {
      out << '{';
      const char* separator = "";
      value.ForEachField([&](std::string_view name, const BindingProperty& field) {
        out << separator << name << ':';
        Render(field, out);
        separator = ",";
      });
      out << '}';
      break;
    }
    default:
      out << "?";
  }
}

// The rendered value of a valid read, or "error: <message>".
std::string Read(std::string_view text) {
  const PropertyResult result = ParseYaml(text);
  if (!result.IsValid()) return "error: " + std::string(result.GetError());
  std::ostringstream out;
  Render(result, out);
  return out.str();
}

struct ReadCase {
  const char* text;
  const char* expected;
};

void ExpectReads(const ReadCase* begin, const ReadCase* end) {
  for (const ReadCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->text);
    EXPECT_EQ(Read(c->text), c->expected);
  }
}

TEST(YamlReader, EmptyTextsGiveAnEmptyValue) {
  const PropertyResult empty = ParseYaml("");
  EXPECT_TRUE(empty.IsValid());
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_EQ(Read("---\n"), "~");
  EXPECT_EQ(Read("# only a comment\n"), "~");
}

TEST(YamlReader, PlainScalarsResolveToNullNumberBoolOrString) {
  const ReadCase cases[] = {
      {"a: 1", "{a:u:1}"},
      {"a: -1", "{a:s:-1}"},
      {"a: 1.5", "{a:f:1.5}"},
      {"a: '1'", "{a:\"1\"}"},
      {"a: \"1\"", "{a:\"1\"}"},
      {"a: yes", "{a:b:true}"},
      {"a: ~", "{a:~}"},
      {"a: inf", "{a:\"inf\"}"},
      {"a: -inf", "{a:\"-inf\"}"},
      {"a: 1e400", "{a:\"1e400\"}"},  // infinite once parsed: stays text
      {"a: 12.0", "{a:u:12}"},
      {"a: 1e3", "{a:u:1000}"},
      {"a: -2.0", "{a:s:-2}"},
      {"a: 0x1A", "{a:u:26}"},
      {"a: 010", "{a:u:10}"},  // decimal: the reader parses as floating text
      {"a: 12abc", "{a:\"12abc\"}"},
      {"a: 1_000", "{a:\"1_000\"}"},
      {"a: |\n  12\n", "{a:\"12\n\"}"},  // the line break is left over
      {"a: 1e30", "{a:u:18446744073709551615}"},
      {"a: -1e30", "{a:s:-9223372036854775808}"},
      {"a: 9007199254740993", "{a:u:9007199254740992}"},  // beyond 2^53: rounded
      {"a: 999999999999999", "{a:u:999999999999999}"},    // 15 digits
      {"a: -999999999999999", "{a:s:-999999999999999}"},
      {"a: 1234567890123456789", "{a:u:1234567890123456768}"},  // as the double reads it
      {"a: -0", "{a:u:0}"},
      {"a: -x", "{a:\"-x\"}"},
      {"a: 1-2", "{a:\"1-2\"}"},
      {"a: Null", "{a:~}"},
      {"a: NO", "{a:b:false}"},
      {"a: nope", "{a:\"nope\"}"},
      {"a: +7", "{a:u:7}"},
      {"hello", "\"hello\""},
      {"a: yES", "{a:\"yES\"}"},
  };
  ExpectReads(std::begin(cases), std::end(cases));

  const PropertyResult nan = ParseYaml("a: nan");
  ASSERT_TRUE(nan.IsValid());
  EXPECT_EQ(nan.GetField("a").kind(), PropertyKind::kFloat);
  EXPECT_TRUE(std::isnan(nan.GetField("a").GetDouble()));

  // "~" clears the member but the member exists.
  const PropertyResult null_member = ParseYaml("a: ~");
  ASSERT_NE(null_member.FindField("a"), nullptr);
  EXPECT_TRUE(null_member.FindField("a")->IsEmpty());
}

TEST(YamlReader, DecimalNumbersGiveWhatStrtodGives) {
  // Fractions bit for bit as `strtod` reads them, including the hard ones:
  // long mantissas, the smallest normal and subnormal values and the last
  // fraction below 2^52.
  const char* fractions[] = {
      "0.1",
      "-0.1",
      ".5",
      "-.5",
      "5.25",
      "1E-2",
      "0.15e1",
      "3.141592653589793238462643",
      "2.2250738585072011e-308",
      "4.9e-324",
      "2.4703282292062328e-324",
      "4503599627370495.5",
      "0.30000000000000004441",
      "123456789.987654321e-5",
      "-65.613616999999977",
  };
  for (const char* text : fractions) {
    SCOPED_TRACE(text);
    const PropertyResult result = ParseYaml(std::string("a: ") + text);
    ASSERT_TRUE(result.IsValid());
    const BindingProperty& a = result.GetField("a");
    ASSERT_EQ(a.kind(), PropertyKind::kFloat);
    const double expected = std::strtod(text, nullptr);
    const double read = a.GetDouble();
    EXPECT_EQ(std::memcmp(&expected, &read, sizeof expected), 0) << read;
  }
  const ReadCase cases[] = {
      {"a: 5.", "{a:u:5}"},
      {"a: 1e-400", "{a:u:0}"},  // underflows to zero: integral
      {"a: 1.8e308", "{a:\"1.8e308\"}"},
      {"a: 1.7976931348623157e308", "{a:u:18446744073709551615}"},
      {"a: 1.5e", "{a:\"1.5e\"}"},
      {"a: 1.5.2", "{a:\"1.5.2\"}"},
      {"a: -.", "{a:\"-.\"}"},
      {"a: .", "{a:\".\"}"},
      {"a: +1.5", "{a:f:1.5}"},
      {"a: 0x1.8p0", "{a:f:1.5}"},
  };
  ExpectReads(std::begin(cases), std::end(cases));
}

TEST(YamlReader, NullTrueAndFalseWordListsAreExactAndCaseSensitive) {
  const char* const null_words[] = {"", "~", "null", "Null", "NULL"};
  for (const char* word : null_words) {
    SCOPED_TRACE(word);
    EXPECT_EQ(Read(std::string("a: ") + word), "{a:~}");
    EXPECT_EQ(Read(std::string("- 0\n- ") + word), "[u:0,~]");
  }
  const char* const true_words[] = {"true", "True", "TRUE", "y",  "Y", "yes",
                                    "Yes",  "YES",  "on",   "On", "ON"};
  for (const char* word : true_words) {
    SCOPED_TRACE(word);
    EXPECT_EQ(Read(std::string("a: ") + word), "{a:b:true}");
    EXPECT_EQ(Read(std::string("a: '") + word + "'"), std::string("{a:\"") + word + "\"}");
  }
  const char* const false_words[] = {"false", "False", "FALSE", "n",   "N",  "no",
                                     "No",    "NO",    "off",   "Off", "OFF"};
  for (const char* word : false_words) {
    SCOPED_TRACE(word);
    EXPECT_EQ(Read(std::string("a: ") + word), "{a:b:false}");
  }
  const char* const near_misses[] = {"nULL", "tRUE", "yEs", "oN", "nO", "fAlse", "Nil", "none"};
  for (const char* word : near_misses) {
    SCOPED_TRACE(word);
    EXPECT_EQ(Read(std::string("a: ") + word), std::string("{a:\"") + word + "\"}");
  }
}

TEST(YamlReader, TagsSelectTheType) {
  const ReadCase cases[] = {
      {"a: !!str 12", "{a:\"12\"}"},
      {"a: !!str yes", "{a:\"yes\"}"},
      {"a: !!str", "{a:\"\"}"},
      {"a: !!int -5", "{a:s:-5}"},
      {"a: !!int 0x10", "{a:u:16}"},
      {"a: !!int 010", "{a:u:8}"},  // octal through the integer text rule
      {"a: !!int 18446744073709551615", "{a:u:18446744073709551615}"},
      {"a: !!int -9223372036854775808", "{a:s:-9223372036854775808}"},
      {"a: !!float 1.5", "{a:f:1.5}"},
      {"a: !!float 2", "{a:f:2}"},
      {"a: !!bool yes", "{a:b:true}"},
      {"a: !!bool OFF", "{a:b:false}"},
      {"a: !<tag:yaml.org,2002:int> 7", "{a:u:7}"},
      {"a: !!int x", "error: Value x for 'yaml' of type uint64_t is in an incorrect format"},
      {"a: !!int -x", "error: Value -x for 'yaml' of type int64_t is in an incorrect format"},
      {"a: !!int 18446744073709551616",
       "error: Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
      {"a: !!int -9223372036854775809",
       "error: Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
      {"a: !!float x", "error: Value x for 'yaml' of type double is in an incorrect format"},
      {"a: !!float 1e400", "error: Value 1e400 for 'yaml' of type double is out of range"},
      {"a: !!float inf", "error: Value inf for 'yaml' of type double is out of range"},
      {"a: !!bool maybe",
       "error: Invalid value 'maybe' for YAML tag 'tag:yaml.org,2002:bool'. At line: 1 col: 4"},
      {"a: !foo x", "error: Unsupported YAML tag '!foo'."},
      {"a: !!null ~", "error: Unsupported YAML tag 'tag:yaml.org,2002:null'."},
  };
  ExpectReads(std::begin(cases), std::end(cases));
}

TEST(YamlReader, StringsKeepEveryByte) {
  // a: "x\0y"
  const PropertyResult doc = ParseYaml("a: \"x\\0y\"");
  ASSERT_TRUE(doc.IsValid());
  EXPECT_EQ(doc.GetField("a").GetString(), std::string_view("x\0y", 3));

  // The text is read with its length: the bytes after it are never seen.
  const std::string text = "a: 1\nb: 2";
  EXPECT_EQ(Read(std::string_view(text.data(), 4)), "{a:u:1}");
}

TEST(YamlReader, AnchorsAndAliasesCopyTheValueWhenTheAliasIsRead) {
  const ReadCase cases[] = {
      {"a: &x 1\nb: *x", "{a:u:1,b:u:1}"},
      // A sequence copied while its own list is growing.
      {"[&a 1, *a, *a, [*a]]", "[u:1,u:1,u:1,[u:1]]"},
      // A mapping with a nested sequence is copied deeply.
      {"a: &m {k: [1, 2]}\nb: *m", "{a:{k:[u:1,u:2]},b:{k:[u:1,u:2]}}"},
      // An anchor on a key stands for the key's text once its mapping is closed.
      {"a: {&k name: 1}\nother: *k", "{a:{name:u:1},other:\"name\"}"},
      // The alias copies what the anchored path holds when the alias is read.
      {"a: &x 1\na: 2\nb: *x", "{a:u:2,b:u:2}"},
      // Changes after the alias do not reach the copy.
      {"a: &m {x: 1}\nb: *m\na: {y: 2}", "{a:{x:u:1,y:u:2},b:{x:u:1}}"},
      // Anchors inside anchored nodes, and a null value.
      {"a: &o {i: &i [1]}\nb: *i\nc: &n ~\nd: *n", "{a:{i:[u:1]},b:[u:1],c:~,d:~}"},
      // A repeated key whose mapping holds the anchored node.
      {"a: {b: &x [1]}\na: *x", "{a:[u:1]}"},
      // The anchor on the root value.
      {"&r [1]", "[u:1]"},
      // An alias to a member of a mapping whose keys are still arriving out of order.
      {"d: &x 1\nc: 2\nb: 3\na: *x", "{a:u:1,b:u:3,c:u:2,d:u:1}"},
  };
  ExpectReads(std::begin(cases), std::end(cases));
}

TEST(YamlReader, AliasFailuresNameTheAliasAndItsPosition) {
  const ReadCase cases[] = {
      {"a: 1\nb: *y", "error: Undefined alias encountered: \"y\". At line: 2 col: 4"},
      {"a: &x\n  b: *x",
       "error: Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 6"},
      {"- &s\n  - *s", "error: Cannot deserialize cyclic aliases. Alias \"s\". At line: 2 col: 5"},
      // A key anchor is noted on its mapping while the mapping is open.
      {"{&k a: *k}", "error: Cannot deserialize cyclic aliases. Alias \"k\". At line: 1 col: 8"},
      {"&k a: 1\nb: *k",
       "error: Cannot deserialize cyclic aliases. Alias \"k\". At line: 2 col: 4"},
      {"a: &x 1\nb: &x 2", "error: Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"&x a: &x 1", "error: Duplicate occurrence of anchor \"x\". At line: 1 col: 7"},
      // A repeated key reopens the closed anchored node around the alias.
      {"a: &x {b: 1}\na: {c: *x}",
       "error: Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 8"},
      {"a: &x [1]\na: [*x]",
       "error: Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 5"},
  };
  ExpectReads(std::begin(cases), std::end(cases));
  // Once the anchored node is closed its alias is fine.
  EXPECT_EQ(Read("- &s [1]\n- *s"), "[[u:1],[u:1]]");
  EXPECT_EQ(Read("a: {&k b: 1}\nc: *k"), "{a:{b:u:1},c:\"b\"}");
}

TEST(YamlReader, OnlyOneDocumentIsRead) {
  const ReadCase cases[] = {
      {"--- 1\n--- 2", "error: Multi-document YAML is not supported."},
      {"---\n--- 2", "error: Multi-document YAML is not supported."},
      {"a: 1\n...\n---\nb: 2", "error: Multi-document YAML is not supported."},
      {"--- 1\n...\n", "u:1"},
  };
  ExpectReads(std::begin(cases), std::end(cases));
}

TEST(YamlReader, KeysAreNonEmptyStringScalars) {
  const ReadCase cases[] = {
      {"[1, 2]: x", "error: Unexpected start of sequence. At line: 1 col: 1"},
      {"{a: 1}: x", "error: Unexpected start of mapping. At line: 1 col: 1"},
      {"? [1]\n: x", "error: Unexpected start of sequence. At line: 1 col: 3"},
      {"!!int 1: x",
       "error: Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
      {"!!str 1: x", "{1:\"x\"}"},
      {"'': x",
       "error: Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
      {"? \n: x",
       "error: Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 2"},
      // An alias as a key.
      {"&k a: 1\n*k : 2",
       "error: Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      // Keys are names: cut at the first NUL; one that is empty there is refused.
      {"\"a\\0b\": 1", "{a:u:1}"},
      {"\"\\0b\": 1",
       "error: Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
      {"1: one\n1.5: x\ntrue: t", "{1:\"one\",1.5:\"x\",true:\"t\"}"},
  };
  ExpectReads(std::begin(cases), std::end(cases));
}

TEST(YamlReader, RepeatedKeysAddressTheSameMember) {
  const ReadCase cases[] = {
      {"a: 1\na: 2", "{a:u:2}"},
      {"a: {x: 1}\na: {y: 2}", "{a:{x:u:1,y:u:2}}"},
      {"a: [1]\na: [2]", "{a:[u:1,u:2]}"},
      // A later value of another kind replaces the earlier one.
      {"a: {x: 1}\na: 3", "{a:u:3}"},
      {"a: {x: 1}\na: [1]", "{a:[u:1]}"},
      {"a: [1]\na: {x: 1}", "{a:{x:u:1}}"},
      {"a: 1\na: ~", "{a:~}"},
  };
  ExpectReads(std::begin(cases), std::end(cases));
}

TEST(YamlReader, ParserErrorsUseLibraryTextAndZeroBasedMark) {
  // The unclosed list is noticed at the start of the line after it.
  EXPECT_EQ(Read("a: [1, 2\n"),
            "error: YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0");
  EXPECT_EQ(Read("a: b: c"),
            "error: YAML parser error: mapping values are not allowed in this context. "
            "At line: 0 col: 4");
  EXPECT_EQ(Read("a: \"abc"),
            "error: YAML parser error: found unexpected end of stream. At line: 0 col: 7");
  // A failure of the reader comes before a later syntax error.
  EXPECT_EQ(Read("a: *nope\nb: [1"),
            "error: Undefined alias encountered: \"nope\". At line: 1 col: 4");
}

TEST(YamlReader, FailedReadsLeaveNothingBehind) {
  const char* const texts[] = {
      "a: &x {b: [1, 2, \"three\"]}\nc: *x\nd: *nope",  // fails late, after copies
      "a: [1, 2\n",                                     // syntax error
      "a: !!int 99999999999999999999",                  // number rule
      "a: {b: 1}\nc: *x",                               // reader failure
      "a: &x {b: [1]}\nc: *x\n",                        // success
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const AllocatorCounters before = ReadAllocatorCounters();
    { const PropertyResult result = ParseYaml(text); }
    const AllocatorCounters after = ReadAllocatorCounters();
    EXPECT_EQ(after.live_allocations(), before.live_allocations());
    EXPECT_EQ(after.live_bytes(), before.live_bytes());
  }
}

std::string Nested(std::size_t depth, std::string_view inner = "1") {
  return std::string(depth, '[') + std::string(inner) + std::string(depth, ']');
}

TEST(YamlReader, NestingIsBounded) {
  const PropertyResult deepest = ParseYaml(Nested(kMaxNestingDepth));
  ASSERT_TRUE(deepest.IsValid()) << deepest.GetError();
  const BindingProperty* value = &deepest;
  for (std::size_t level = 0; level < kMaxNestingDepth; ++level) {
    ASSERT_EQ(value->kind(), PropertyKind::kCollection);
    value = &value->GetAt(0);
  }
  EXPECT_EQ(value->GetUnsigned(), 1u);

  EXPECT_EQ(Read(Nested(kMaxNestingDepth + 1)),
            "error: Nesting deeper than 512 levels is not supported. At line: 1 col: 513");

  // Block mappings count the same way.
  std::string block;
  for (std::size_t level = 0; level <= kMaxNestingDepth; ++level) {
    block += std::string(level, ' ') + "k:\n";
  }
  block += std::string(kMaxNestingDepth + 1, ' ') + "v\n";
  EXPECT_EQ(Read(block),
            "error: Nesting deeper than 512 levels is not supported. At line: 513 "
            "col: 513");

  // A million open brackets stop at the bound, long before the library's own
  // limits or the end of the text.
  EXPECT_EQ(Read(std::string(1000000, '[')),
            "error: Nesting deeper than 512 levels is not supported. At line: 1 col: 513");
}

TEST(YamlReader, AliasesCannotDeepenOrInflateTheTree) {
  // The alias sits in 251 containers (the root mapping and 250 lists) and
  // starts after "b: " and the brackets; a copy of 262 levels would make 513.
  const std::string deep_anchor = "a: &d " + Nested(262) + "\nb: " + Nested(250, "*d");
  EXPECT_EQ(Read(deep_anchor),
            "error: Nesting deeper than 512 levels is not supported. "
            "At line: 2 col: 254");
  const std::string fits = "a: &d " + Nested(261) + "\nb: " + Nested(250, "*d");
  EXPECT_TRUE(ParseYaml(fits).IsValid());

  // Ten nested levels of ten aliases each would copy 10^10 values.
  std::string laughs = "l0: &l0 [x, x, x, x, x, x, x, x, x, x]\n";
  for (int level = 1; level < 10; ++level) {
    const std::string previous = "*l" + std::to_string(level - 1);
    laughs += "l" + std::to_string(level) + ": &l" + std::to_string(level) + " [";
    for (int i = 0; i < 10; ++i) laughs += (i == 0 ? "" : ", ") + previous;
    laughs += "]\n";
  }
  const PropertyResult bomb = ParseYaml(laughs);
  ASSERT_FALSE(bomb.IsValid());
  EXPECT_EQ(bomb.GetError().rfind(
                "Aliases expanding to more than 1048576 values are not supported. At line: ", 0),
            0u)
      << bomb.GetError();
}

TEST(YamlReader, LooksLikeYamlWantsThreeDashesAfterSpaces) {
  EXPECT_TRUE(LooksLikeYaml("---"));
  EXPECT_TRUE(LooksLikeYaml("   --- a: 1"));
  EXPECT_TRUE(LooksLikeYaml("----"));
  EXPECT_FALSE(LooksLikeYaml("\t---"));  // only the space character is skipped
  EXPECT_FALSE(LooksLikeYaml("--"));
  EXPECT_FALSE(LooksLikeYaml("a: 1"));
  EXPECT_FALSE(LooksLikeYaml(""));
  EXPECT_FALSE(LooksLikeYaml(nullptr));
}

}  // namespace
}  // namespace Kestrel
