#include "devhost/host/host_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "host_abi/core_value.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreValueKind;
using Client::ReadPacked;

TEST(HostValueTest, JsonRoundTripKeepsEveryKindAndOrder) {
  // Member order, nesting, escapes and the integer boundaries of both signs.
  const std::string text =
      R"({"b":true,"n":null,"i":-9223372036854775808,"u":18446744073709551615,)"
      R"("f":1.5,"s":"a\"b\n\u00e9","list":[1,[],{}],"z":{"y":"x"}})";
  MaybeType<HostValue> value = HostValue::FromJson(text);
  ASSERT_TRUE(value.has_value()) << value.ToText();
  EXPECT_EQ(value.value().ToJson(), text.substr(0, text.find("\\u00e9")) + "\xC3\xA9" +
                                        text.substr(text.find("\\u00e9") + 6));

  const CoreValue& root = value.value().get();
  ASSERT_EQ(ReadPacked(root.kind), CoreValueKind::kStructure);
  EXPECT_EQ(ReadPacked(FindEntry(root, "i")->kind), CoreValueKind::kSigned);
  EXPECT_EQ(ReadPacked(FindEntry(root, "u")->kind), CoreValueKind::kUnsigned);
  EXPECT_EQ(ReadPacked(FindEntry(root, "f")->kind), CoreValueKind::kFloat);
  EXPECT_EQ(ReadPacked(FindEntry(root, "s")->kind), CoreValueKind::kOwnedString);
  EXPECT_EQ(CoreValueText(*FindEntry(root, "s")), "a\"b\n\xC3\xA9");
  EXPECT_EQ(FindEntry(root, "missing"), nullptr);
  EXPECT_EQ(FindEntry(*FindEntry(root, "b"), "x"), nullptr);  // not a structure
}

TEST(HostValueTest, CopyOwnsBorrowedPartsAndReleaseLeavesNil) {
  std::string text = "borrowed text";
  CoreValue source{};
  ASSERT_TRUE(Client::SetCollection(&source, 2));
  source.collection.items[0] = Client::MakeBorrowedStringValue(text.c_str());
  source.collection.items[1].kind = CoreValueKind::kBorrowedBlob;
  source.collection.items[1].bytes = {text.data(), 3};

  HostValue copy = HostValue::CopyOf(source);
  text.assign(text.size(), 'X');  // the lender changes its memory
  Client::ReleaseCoreValue(&source);
  ASSERT_EQ(copy.kind(), CoreValueKind::kCollection);
  EXPECT_EQ(ReadPacked(copy.get().collection.items[0].kind), CoreValueKind::kOwnedString);
  EXPECT_EQ(ReadPacked(copy.get().collection.items[1].kind), CoreValueKind::kOwnedBlob);
  EXPECT_EQ(copy.ToJson(), R"(["borrowed text","Ym9y"])");  // "bor" in Base64

  HostValue clone = copy.Clone();
  CoreValue taken = copy.Release();
  EXPECT_TRUE(copy.is_nil());
  EXPECT_EQ(CoreValueToJson(taken), clone.ToJson());
  Client::ReleaseCoreValue(&taken);

  HostValue adopted = HostValue::Adopt(&taken);  // taken is nil now
  EXPECT_TRUE(adopted.is_nil());
  EXPECT_EQ(adopted.ToJson(), "null");
}

TEST(HostValueTest, UnusualValuesStillGiveValidJson) {
  CoreValue value{};
  ASSERT_TRUE(Client::SetStructure(&value, 3));
  value.structure.entries[0].value = Client::MakeFloatValue(std::nan(""));
  ASSERT_TRUE(Client::SetEntryName(&value.structure.entries[1], "inf"));
  value.structure.entries[1].value = Client::MakeFloatValue(INFINITY);
  ASSERT_TRUE(Client::SetEntryName(&value.structure.entries[2], "bad"));
  value.structure.entries[2].value.kind = static_cast<CoreValueKind>(77);
  // A nameless entry is written with the empty name; unknown kinds as null.
  EXPECT_EQ(CoreValueToJson(value), R"({"":null,"inf":null,"bad":null})");
  HostValue copy = HostValue::CopyOf(value);
  EXPECT_EQ(ReadPacked(copy.get().structure.entries[2].value.kind), CoreValueKind::kNil);
  Client::ReleaseCoreValue(&value);

  CoreValue text = Client::MakeBorrowedStringValue(nullptr);
  EXPECT_EQ(CoreValueText(text), "");
  EXPECT_EQ(CoreValueText(Client::MakeSignedValue(3)), "");
  EXPECT_EQ(HostValue::String(std::string_view("a\0b", 3)).ToJson(), R"("a\u0000b")");
}

TEST(HostValueTest, TextsThatAreNotUtf8GetReplacementCharacters) {
  const std::string kReplacement = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"a\xFFz", "a" + kReplacement + "z"},                          // never a UTF-8 byte
      {"\x80", kReplacement},                                        // stray continuation
      {"\xC0\xAF", kReplacement + kReplacement},                     // overlong
      {"\xE2\x82", kReplacement + kReplacement},                     // truncated
      {"\xED\xA0\x80", kReplacement + kReplacement + kReplacement},  // surrogate
      {"\xF4\x90\x80\x80", kReplacement + kReplacement + kReplacement + kReplacement},
  };
  for (const auto& [text, expected] : cases) {
    std::string valid = ValidUtf8(text);
    EXPECT_EQ(valid, expected);
    EXPECT_EQ(HostValue::String(text).ToJson(), "\"" + valid + "\"");
  }
}

TEST(HostValueTest, BadJsonAndDeepNestingFail) {
  MaybeType<HostValue> bad = HostValue::FromJson("{\"a\":");
  ASSERT_TRUE(bad.is_failure());
  EXPECT_EQ(bad.failure().code(), 400);
  EXPECT_NE(std::string(bad.failure().message()).find("offset 5"), std::string::npos)
      << bad.failure().message();
  EXPECT_TRUE(HostValue::FromJson("").is_failure());
  EXPECT_TRUE(HostValue::FromJson("[1] [2]").is_failure());

  std::string deep(kMaxJsonDepth + 1, '[');
  deep += std::string(kMaxJsonDepth + 1, ']');
  EXPECT_TRUE(HostValue::FromJson(deep).is_failure());
  std::string fits(kMaxJsonDepth, '[');
  fits += std::string(kMaxJsonDepth, ']');
  EXPECT_TRUE(HostValue::FromJson(fits).has_value());
}

}  // namespace
}  // namespace Kestrel::DevHost
