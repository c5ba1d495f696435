#include "bench/bench_corpus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "formats/json_reader.h"
#include "formats/msgpack_reader.h"
#include "formats/yaml_reader.h"

namespace Kestrel::Bench {
namespace {

bool IsNumber(PropertyKind kind) {
  return kind == PropertyKind::kSigned || kind == PropertyKind::kUnsigned ||
         kind == PropertyKind::kFloat;
}

// Numbers compare by value whatever their kind: each format has its own rule
// for which kind a number gets (MessagePack fixints are signed, YAML reads
// 100.0 as an integer). With `as_doubles`, integers compare as the doubles
// they round to (YAML reads every untagged number through a double).
bool SameNumber(const BindingProperty& a, const BindingProperty& b, bool as_doubles) {
  const auto as_double = [](const BindingProperty& v) {
    switch (v.kind()) {
      case PropertyKind::kSigned:
        return static_cast<double>(v.GetSigned());
      case PropertyKind::kUnsigned:
        return static_cast<double>(v.GetUnsigned());
      default:
        return v.GetDouble();
    }
  };
  if (!as_doubles && a.kind() != PropertyKind::kFloat && b.kind() != PropertyKind::kFloat) {
    const bool a_negative = a.kind() == PropertyKind::kSigned && a.GetSigned() < 0;
    const bool b_negative = b.kind() == PropertyKind::kSigned && b.GetSigned() < 0;
    if (a_negative != b_negative) return false;
    if (a_negative) return a.GetSigned() == b.GetSigned();
    const auto magnitude = [](const BindingProperty& v) {
      return v.kind() == PropertyKind::kSigned ? static_cast<uint64_t>(v.GetSigned())
                                               : v.GetUnsigned();
    };
    return magnitude(a) == magnitude(b);
  }
  return as_double(a) == as_double(b);
}

// Explains the first difference between two trees, or returns "".
std::string Difference(const BindingProperty& a, const BindingProperty& b, const std::string& at,
                       bool as_doubles = false) {
  if (IsNumber(a.kind()) && IsNumber(b.kind())) {
    return SameNumber(a, b, as_doubles) ? "" : at + ": numbers differ";
  }
  if (a.kind() != b.kind()) {
    return at + ": kind " + PropertyKindName(a.kind()) + " vs " + PropertyKindName(b.kind());
  }
  switch (a.kind()) {
    case PropertyKind::kBool:
      return a.GetBool() == b.GetBool() ? "" : at + ": bools differ";
    case PropertyKind::kString:
      return a.GetString() == b.GetString() ? ""
                                            : at + ": '" + std::string(a.GetString()) + "' vs '" +
                                                  std::string(b.GetString()) + "'";
    case PropertyKind::kCollection: {
      if (a.Size() != b.Size()) return at + ": sizes differ";
      for (std::size_t i = 0; i < a.Size(); ++i) {
        std::string found =
            Difference(a.GetAt(i), b.GetAt(i), at + "[" + std::to_string(i) + "]", as_doubles);
        if (!found.empty()) return found;
      }
      return "";
    }
    case PropertyKind::kStructure: {
      if (a.Size() != b.Size()) return at + ": member counts differ";
      std::string found;
      a.ForEachField([&](std::string_view name, const BindingProperty& field) {
        if (!found.empty()) return;
        const BindingProperty* other = b.FindField(name);
        found = other == nullptr
                    ? at + "." + std::string(name) + " missing"
                    : Difference(field, *other, at + "." + std::string(name), as_doubles);
      });
      return found;
    }
    default:
      return "";
  }
}

PropertyResult Json(const char* text) {
  PropertyResult value = ParseJson(text);
  EXPECT_TRUE(value.IsValid()) << value.GetError();
  return value;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> bytes) {
  std::vector<uint8_t> out;
  for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
  return out;
}

TEST(BenchCorpusTest, MessagePackUsesTheSmallestEncodingAtEachBoundary) {
  // Integers either side of every width boundary, both signs.
  EXPECT_EQ(WriteMessagePack(Json("127")), Bytes({0x7F}));
  EXPECT_EQ(WriteMessagePack(Json("128")), Bytes({0xCC, 0x80}));
  EXPECT_EQ(WriteMessagePack(Json("256")), Bytes({0xCD, 0x01, 0x00}));
  EXPECT_EQ(WriteMessagePack(Json("65536")), Bytes({0xCE, 0x00, 0x01, 0x00, 0x00}));
  EXPECT_EQ(WriteMessagePack(Json("4294967296")),
            Bytes({0xCF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(WriteMessagePack(Json("-32")), Bytes({0xE0}));
  EXPECT_EQ(WriteMessagePack(Json("-33")), Bytes({0xD0, 0xDF}));
  EXPECT_EQ(WriteMessagePack(Json("-129")), Bytes({0xD1, 0xFF, 0x7F}));
  EXPECT_EQ(WriteMessagePack(Json("-32769")), Bytes({0xD2, 0xFF, 0xFF, 0x7F, 0xFF}));
  EXPECT_EQ(WriteMessagePack(Json("-2147483649")),
            Bytes({0xD3, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(WriteMessagePack(Json("1.5")),
            Bytes({0xCB, 0x3F, 0xF8, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(WriteMessagePack(Json("[null,true,false]")), Bytes({0x93, 0xC0, 0xC3, 0xC2}));
  EXPECT_EQ(WriteMessagePack(Json(R"({"b":{},"a":[]})")),
            Bytes({0x82, 0xA1, 'a', 0x90, 0xA1, 'b', 0x80}));

  // Strings: fixstr up to 31 bytes, then str 8; arrays: fixarray up to 15.
  BindingProperty text;
  text.SetString(std::string(31, 'x'));
  EXPECT_EQ(WriteMessagePack(text).front(), 0xBF);
  text.SetString(std::string(32, 'x'));
  const std::vector<uint8_t> str8 = WriteMessagePack(text);
  EXPECT_EQ(std::vector<uint8_t>(str8.begin(), str8.begin() + 2), Bytes({0xD9, 32}));
  EXPECT_EQ(str8.size(), 34u);
  text.SetString(std::string(256, 'x'));
  EXPECT_EQ(WriteMessagePack(text)[0], 0xDA);
  BindingProperty list;
  list.At(14);
  EXPECT_EQ(WriteMessagePack(list)[0], 0x9F);
  list.At(15);
  const std::vector<uint8_t> array16 = WriteMessagePack(list);
  EXPECT_EQ(std::vector<uint8_t>(array16.begin(), array16.begin() + 3), Bytes({0xDC, 0x00, 0x10}));
  EXPECT_EQ(array16.size(), 3u + 16u);

  // A blob is bin 8; an empty root is nil.
  BindingProperty blob;
  blob.SetBlob(std::vector<uint8_t>{1, 2});
  EXPECT_EQ(WriteMessagePack(blob), Bytes({0xC4, 0x02, 0x01, 0x02}));
  EXPECT_EQ(WriteMessagePack(BindingProperty()), Bytes({0xC0}));
}

TEST(BenchCorpusTest, YamlLayoutIsBlockStyleWithQuotedTexts) {
  const PropertyResult tree =
      Json(R"({"list":[1,[2,3],{"k":"v","j":null}],"empty":[],"none":{},"f":100.0})");
  EXPECT_EQ(WriteYaml(tree),
            "\"empty\": []\n"
            "\"f\": 100.0\n"
            "\"list\":\n"
            "  - 1\n"
            "  - - 2\n"
            "    - 3\n"
            "  - \"j\": ~\n"
            "    \"k\": \"v\"\n"
            "\"none\": {}\n");
  EXPECT_EQ(WriteYaml(Json("\"x\"")), "\"x\"\n");
  EXPECT_EQ(WriteYaml(BindingProperty()), "~\n");
}

TEST(BenchCorpusTest, WrittenFormsReadBackAsTheSameTree) {
  // Texts that would resolve to other kinds unquoted, escapes, characters a
  // YAML stream may not hold raw (DEL, C1 controls), multi-byte UTF-8, and
  // numbers at the edges of their kinds.
  const PropertyResult tree = Json(R"({
    "words": ["yes", "no", "~", "null", "1", "1.5", "a: b", "- x", "#c", "", " lead"],
    "escapes": "quote \" backslash \\ tab \t newline \n cr \r bell \u0007",
    "controls": "del \u007f c1 \u0085 \u0090 bom \ufeff ls \u2028",
    "unicode": "caf\u00e9 \u65e5\u672c \ud83d\ude00",
    "numbers": [0, -1, 4294967296, -9007199254740992, 0.1, -2.5e-300, 1.25e-5, 100.0],
    "nested": [[[]], [{}], {"a": {"b": [true, false, null]}}]
  })");

  std::size_t position = 0;
  const std::vector<uint8_t> packed = WriteMessagePack(tree);
  const PropertyResult from_msgpack = ParseMessagePack(packed.data(), packed.size(), &position);
  ASSERT_TRUE(from_msgpack.IsValid()) << from_msgpack.GetError();
  EXPECT_EQ(position, packed.size());
  EXPECT_EQ(Difference(tree, from_msgpack, "$"), "");

  const std::string yaml = WriteYaml(tree);
  const PropertyResult from_yaml = ParseYaml(yaml);
  ASSERT_TRUE(from_yaml.IsValid()) << from_yaml.GetError() << "\n" << yaml;
  // YAML has no null member distinct from an absent value: "~" reads as empty.
  EXPECT_EQ(Difference(tree, from_yaml, "$"), "") << yaml;
}

TEST(BenchCorpusTest, CountValuesCountsEveryNodeButNotNames) {
  EXPECT_EQ(CountValues(BindingProperty()), 1u);
  EXPECT_EQ(CountValues(Json(R"({"a":1,"b":[true,null,{}],"c":{"d":"x"}})")), 8u);
}

TEST(BenchCorpusTest, CorpusDocumentsConvertWithoutLoss) {
  EXPECT_FALSE(LoadCorpusDocument(VYN_CORPUS_DIR, "no_such_document").has_value());
  for (const std::string& name : CorpusNames()) {
    std::optional<CorpusDocument> document = LoadCorpusDocument(VYN_CORPUS_DIR, name);
    if (!document) GTEST_SKIP() << "corpus not present at " << VYN_CORPUS_DIR;
    const PropertyResult tree = ParseJson(document->json);
    ASSERT_TRUE(tree.IsValid());
    EXPECT_EQ(document->value_count, CountValues(tree));
    EXPECT_GT(document->value_count, 10000u) << name;

    const PropertyResult from_msgpack =
        ParseMessagePack(document->msgpack.data(), document->msgpack.size(), nullptr);
    ASSERT_TRUE(from_msgpack.IsValid()) << name << ": " << from_msgpack.GetError();
    EXPECT_EQ(Difference(tree, from_msgpack, name), "");

    const PropertyResult from_yaml = ParseYaml(document->yaml);
    ASSERT_TRUE(from_yaml.IsValid()) << name << ": " << from_yaml.GetError();
    // Ids beyond 2^53 read back rounded, as YAML numbers go through a double.
    EXPECT_EQ(Difference(tree, from_yaml, name, true), "");
  }
}

}  // namespace
}  // namespace Kestrel::Bench
