#include "formats/json_writer.h"

#include <gtest/gtest.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "binding/static_type.h"
#include "binding/type_registry.h"
#include "formats/json_reader.h"

namespace JsonWriterTestTypes {
enum class Shade : int32_t { kDark = 1, kLight = 2 };
}  // namespace JsonWriterTestTypes
VYN_STATIC_TYPE(JsonWriterTestTypes::Shade, "enum JsonWriterTestTypes::Shade");

namespace Kestrel {
namespace {

using JsonWriterTestTypes::Shade;

// Writes `value` as the only member "v" of a structure.
std::string WriteMember(void (*fill)(BindingProperty&)) {
  BindingProperty doc;
  fill(doc.Field("v"));
  return WriteJson(doc);
}

TEST(JsonWriterTest, EmptyRootIsEmptyTextAndEmptyMemberIsNull) {
  EXPECT_EQ(WriteJson(BindingProperty()), "");
  BindingProperty doc;
  doc.Field("a");
  doc.Field("b").At(1).SetBool(true);
  EXPECT_EQ(WriteJson(doc), R"({"a":null,"b":[null,true]})");
  BindingProperty containers;
  containers.Field("s").MakeStructure();
  containers.Field("c").MakeCollection();
  EXPECT_EQ(WriteJson(containers), R"({"c":[],"s":{}})");
  BindingProperty list;
  list.MakeCollection();
  EXPECT_EQ(WriteJson(list), "[]");
}

TEST(JsonWriterTest, IntegersKeepTheFull64BitRange) {
  BindingProperty list;
  list.Append().SetSigned(std::numeric_limits<int64_t>::min());
  list.Append().SetSigned(-1);
  list.Append().SetSigned(0);
  list.Append().SetUnsigned(std::numeric_limits<uint64_t>::max());
  list.Append().SetUnsigned(4294967296u);
  list.Append().SetBool(false);
  EXPECT_EQ(WriteJson(list), "[-9223372036854775808,-1,0,18446744073709551615,4294967296,false]");

  // Either side of the 32-bit limits, where the conversion used changes.
  BindingProperty edges;
  for (int64_t value :
       {int64_t{INT32_MIN} - 1, int64_t{INT32_MIN}, int64_t{INT32_MAX}, int64_t{INT32_MAX} + 1}) {
    edges.Append().SetSigned(value);
  }
  edges.Append().SetUnsigned(UINT32_MAX);
  edges.Append().SetUnsigned(uint64_t{UINT32_MAX} + 1);
  EXPECT_EQ(WriteJson(edges),
            "[-2147483649,-2147483648,2147483647,2147483648,4294967295,4294967296]");
}

TEST(JsonWriterTest, DoublesKeepAPointOrAnExponent) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0.0"},   {-0.0, "-0.0"}, {100.0, "100.0"},       {0.5, "0.5"},
      {1e30, "1e30"}, {1.0, "1.0"},   {0.001234, "0.001234"}, {1.234e33, "1.234e33"},
      {-2.5, "-2.5"}, {1e-7, "1e-7"}, {0.1, "0.1"},
  };
  for (const Case& c : cases) {
    BindingProperty value;
    value.SetDouble(c.value);
    EXPECT_EQ(WriteJson(value), c.text) << c.value;
  }
  // No JSON form: written as null, the document stays well-formed.
  BindingProperty odd;
  odd.Append().SetDouble(std::numeric_limits<double>::quiet_NaN());
  odd.Append().SetDouble(std::numeric_limits<double>::infinity());
  odd.Append().SetDouble(-std::numeric_limits<double>::infinity());
  odd.Append().SetDouble(2.0);
  EXPECT_EQ(WriteJson(odd), "[null,null,null,2.0]");
}

TEST(JsonWriterTest, StringsAreEscapedAtFullLength) {
  std::string raw;
  for (int c = 0; c < 0x20; ++c) raw.push_back(static_cast<char>(c));
  raw += "\"\\/ \x7F\xC3\xA9\xFF";
  BindingProperty value;
  value.SetStringFullLength(raw);
  EXPECT_EQ(WriteJson(value),
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007"
            "\\b\\t\\n\\u000B\\f\\r\\u000E\\u000F"
            "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017"
            "\\u0018\\u0019\\u001A\\u001B\\u001C\\u001D\\u001E\\u001F"
            "\\\"\\\\/ \x7F\xC3\xA9\xFF\"");
  // Keys are escaped like values.
  BindingProperty doc;
  doc.Field("q\"k").SetString("");
  EXPECT_EQ(WriteJson(doc), R"({"q\"k":""})");
}

// Texts are scanned several bytes at a time, the last few as the text's last
// word: every byte value, at every position of texts of every length up to
// three such steps and next to bytes that need no escape, is written exactly
// as RapidJSON's own writer writes it.
TEST(JsonWriterTest, EveryByteIsEscapedAsRapidJsonDoesAtEveryOffset) {
  for (int byte = 0; byte < 256; ++byte) {
    for (std::size_t length = 1; length <= 12; ++length) {
      for (std::size_t offset = 0; offset < length; ++offset) {
        std::string raw(length, 'a');
        raw[offset] = static_cast<char>(byte);
        rapidjson::StringBuffer expected;
        rapidjson::Writer<rapidjson::StringBuffer> writer(expected);
        writer.String(raw.data(), static_cast<rapidjson::SizeType>(raw.size()));
        BindingProperty value;
        value.SetStringFullLength(raw);
        ASSERT_EQ(WriteJson(value), expected.GetString())
            << "byte " << byte << " at " << offset << " of " << length;
      }
    }
  }
}

// The text is gathered in pieces of a few KiB: values that end just before,
// at and after a piece's end, and a text far longer than any piece, come out
// whole and in order.
TEST(JsonWriterTest, LongOutputsAreWholeAcrossPieces) {
  for (std::size_t length = 1000; length < 1040; ++length) {
    BindingProperty doc;
    doc.Field("a").SetString(std::string(length, 'x'));
    doc.Field("b").SetSigned(-7);
    EXPECT_EQ(WriteJson(doc), "{\"a\":\"" + std::string(length, 'x') + "\",\"b\":-7}") << length;
  }
  std::string raw;
  std::string escaped;
  for (int i = 0; i < 100000; ++i) {
    const char c = "ab\n\"c"[i % 5];
    raw.push_back(c);
    escaped += c == '\n' ? "\\n" : c == '"' ? "\\\"" : std::string(1, c);
  }
  BindingProperty list;
  for (int i = 0; i < 3; ++i) list.Append().SetString(raw);
  EXPECT_EQ(WriteJson(list), "[\"" + escaped + "\",\"" + escaped + "\",\"" + escaped + "\"]");
}

TEST(JsonWriterTest, BlobsAreBase64Strings) {
  EXPECT_EQ(WriteMember(
                [](BindingProperty& v) { v.SetBlob(reinterpret_cast<const uint8_t*>("abc"), 3); }),
            R"({"v":"YWJj"})");
  EXPECT_EQ(
      WriteMember([](BindingProperty& v) { v.SetBlob(reinterpret_cast<const uint8_t*>("ab"), 2); }),
      R"({"v":"YWI="})");
  EXPECT_EQ(WriteMember([](BindingProperty& v) { v.SetBlob(nullptr, 0); }), R"({"v":""})");
}

TEST(JsonWriterTest, EnumsUseRegisteredNamesElseNumbers) {
  TypeRegistry registry;
  registry.RegisterEnum<Shade>("Shade").AddValue("Dark", 1).AddValue("Light", 2);
  BindingProperty list;
  list.Append().SetEnum(EnumValue{1, &StaticType::HashCode<Shade>()});
  // The readable identity has the same hash and finds the same names.
  list.Append().SetEnum(EnumValue{2, &StaticType::Name<Shade>()});
  list.Append().SetEnum(EnumValue{-3, &StaticType::HashCode<Shade>()});  // no such enumerator
  list.Append().SetEnum(EnumValue{1, nullptr});                          // unknown type
  list.Append().SetEnum(EnumValue{1, &StaticType::HashCode<int>()});     // not registered
  EXPECT_EQ(WriteJson(list, &registry), R"(["Dark","Light",-3,1,1])");
  EXPECT_EQ(WriteJson(list, nullptr), "[1,2,-3,1,1]");
}

TEST(JsonWriterTest, MembersAreWrittenInByteOrder) {
  BindingProperty doc;
  doc.Field("b").SetSigned(1);
  doc.Field("\xC3\xA9").SetSigned(2);
  doc.Field("B").SetSigned(3);
  doc.Field("a").SetSigned(4);
  doc.Field("ab").SetSigned(5);
  EXPECT_EQ(WriteJson(doc), "{\"B\":3,\"a\":4,\"ab\":5,\"b\":1,\"\xC3\xA9\":2}");
}

TEST(JsonWriterTest, DocumentWithEveryKindRoundTrips) {
  // Compact, members in byte order: the written text must equal the input.
  const std::string text =
      R"({"bool":[true,false],"empty":null,"float":[1.5,-0.0,0.0,1e30,2.2250738585072014e-308],)"
      R"("list":[[],{},[null]],"nested":{"a":{"b":{"c":"deep"}}},)"
      R"("signed":[-1,-9223372036854775808],"string":"tab\tquote\"unit\u001F",)"
      R"("unsigned":[0,18446744073709551615]})";
  PropertyResult value = ParseJson(text);
  ASSERT_TRUE(value.IsValid()) << value.GetError();
  EXPECT_EQ(WriteJson(value), text);
}

// Distance of two finite doubles of the same sign in units in the last place.
uint64_t UlpDistance(double a, double b) {
  int64_t x = 0;
  int64_t y = 0;
  std::memcpy(&x, &a, sizeof(x));
  std::memcpy(&y, &b, sizeof(y));
  return x > y ? static_cast<uint64_t>(x - y) : static_cast<uint64_t>(y - x);
}

// Structural equality of two trees. Doubles may differ by a few units in the
// last place: the reader takes the fast decimal-to-double path, which is exact
// with i386's extended precision but not always on 64-bit builds.
::testing::AssertionResult SameTree(const BindingProperty& a, const BindingProperty& b,
                                    const std::string& path = "$") {
  if (a.kind() != b.kind()) {
    return ::testing::AssertionFailure() << path << ": kind " << PropertyKindName(a.kind())
                                         << " vs " << PropertyKindName(b.kind());
  }
  bool same = true;
  switch (a.kind()) {
    case PropertyKind::kEmpty:
      break;
    case PropertyKind::kBool:
      same = a.GetBool() == b.GetBool();
      break;
    case PropertyKind::kSigned:
      same = a.GetSigned() == b.GetSigned();
      break;
    case PropertyKind::kUnsigned:
      same = a.GetUnsigned() == b.GetUnsigned();
      break;
    case PropertyKind::kFloat:
      same = std::signbit(a.GetDouble()) == std::signbit(b.GetDouble()) &&
             (a.GetDouble() == b.GetDouble() || UlpDistance(a.GetDouble(), b.GetDouble()) <= 3);
      break;
    case PropertyKind::kString:
      same = a.GetString() == b.GetString();
      break;
    case PropertyKind::kCollection: {
      if (a.Size() != b.Size()) return ::testing::AssertionFailure() << path << ": size";
      for (std::size_t i = 0; i < a.Size(); ++i) {
        auto inner = SameTree(a.GetAt(i), b.GetAt(i), path + "[" + std::to_string(i) + "]");
        if (!inner) return inner;
      }
      break;
    }
    case PropertyKind::kStructure: {
      if (a.Size() != b.Size()) return ::testing::AssertionFailure() << path << ": size";
      ::testing::AssertionResult result = ::testing::AssertionSuccess();
      a.ForEachField([&](std::string_view name, const BindingProperty& field) {
        if (!result) return;
        const BindingProperty* other = b.FindField(name);
        if (other == nullptr) {
          result = ::testing::AssertionFailure() << path << ": no member " << name;
        } else {
          result = SameTree(field, *other, path + "." + std::string(name));
        }
      });
      return result;
    }
    default:
      return ::testing::AssertionFailure() << path << ": unexpected kind from the reader";
  }
  if (!same) return ::testing::AssertionFailure() << path << ": values differ";
  return ::testing::AssertionSuccess();
}

TEST(JsonWriterTest, CorpusDocumentsSurviveWriteAndReread) {
  const std::filesystem::path folder(VYN_CORPUS_DIR);
  if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no corpus at " << folder;
  for (const char* name : {"canada.json", "citm_catalog.json", "twitter.json"}) {
    SCOPED_TRACE(name);
    std::ifstream file(folder / name, std::ios::binary);
    ASSERT_TRUE(file) << "cannot open " << name;
    const std::string original((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
    PropertyResult first = ParseJson(original);
    ASSERT_TRUE(first.IsValid()) << first.GetError();
    ASSERT_FALSE(first.IsEmpty());
    const std::string written = WriteJson(first);
    PropertyResult second = ParseJson(written);
    ASSERT_TRUE(second.IsValid()) << second.GetError();
    EXPECT_TRUE(SameTree(first, second));
    if constexpr (sizeof(void*) == 4) {
      EXPECT_EQ(WriteJson(second), written);
    }
  }
}

}  // namespace
}  // namespace Kestrel
