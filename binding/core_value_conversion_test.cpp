#include "binding/core_value_conversion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/assign_native.h"
#include "binding/convert_native.h"
#include "binding/type_building.h"
#include "host_abi/core_value.h"
#include "tests/support/every_kind.h"
#include "util/counting_allocator.h"

namespace Kestrel {
namespace {

using Client::CoreStructEntry;
using Client::CoreValue;
using Client::CoreValueKind;
using Testing::EveryKind;
using ::testing::IsEmpty;
using Testing::Level;

void ExpectNoLeak(const std::function<void()>& body) {
  body();
  const uint64_t before = ReadAllocatorCounters().live_bytes();
  body();
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), before);
}

// Packed host records: members are read by value, never bound to a reference.
template <class T>
T Copy(T value) {
  return value;
}

CoreValue Nil() {
  return Client::MakeNilValue();
}

std::string EntryName(const CoreValue& value, uint32_t index) {
  return value.structure.entries[index].name;
}

TEST(ToCoreValue, ScalarsStringsAndBlobs) {
  ExpectNoLeak([] {
    CoreValue out = Nil();
    BindingProperty property;
    ToCoreValue(property, out, nullptr);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kNil);

    property.SetBool(true);
    ToCoreValue(property, out, nullptr);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kBool);
    EXPECT_EQ(Copy(out.bool_value), 1);

    property.SetSigned(-5);
    ToCoreValue(property, out, nullptr);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kSigned);
    EXPECT_EQ(Copy(out.signed_value), -5);

    property.SetUnsigned(18446744073709551615ull);
    ToCoreValue(property, out, nullptr);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kUnsigned);
    EXPECT_EQ(Copy(out.unsigned_value), 18446744073709551615ull);

    property.SetDouble(0.25);
    ToCoreValue(property, out, nullptr);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kFloat);
    EXPECT_EQ(Copy(out.float_value), 0.25);

    // Text after an embedded NUL is not counted.
    property.SetStringFullLength(std::string_view("ab\0cd", 5));
    ToCoreValue(property, out, nullptr);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kOwnedString);
    EXPECT_EQ(Copy(out.bytes.length), 2u);
    EXPECT_STREQ(out.bytes.data, "ab");
    ReleaseToCoreValue(out);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kNil);

    property.SetBlob(std::vector<uint8_t>{0, 7, 0});
    ToCoreValue(property, out, nullptr);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kOwnedBlob);
    ASSERT_EQ(Copy(out.bytes.length), 3u);
    EXPECT_EQ(std::memcmp(out.bytes.data, "\0\7\0", 3), 0);
    ReleaseToCoreValue(out);
  });
}

TEST(ToCoreValue, EnumsAreNamedOnlyWhenTheRegistryKnowsThem) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    Testing::RegisterEveryKind(registry);
    BindingProperty property;
    property.SetEnum(EnumValue{7, &StaticType::HashCode<Level>()});

    CoreValue out = Nil();
    ToCoreValue(property, out, nullptr);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kSigned);
    EXPECT_EQ(Copy(out.signed_value), 7);

    ToCoreValue(property, out, &registry);
    ASSERT_EQ(Copy(out.kind), CoreValueKind::kOwnedString);
    EXPECT_STREQ(out.bytes.data, "High");
    ReleaseToCoreValue(out);

    // A number without an enumerator goes out as the number, sign-extended.
    property.SetEnum(EnumValue{-3, &StaticType::HashCode<Level>()});
    ToCoreValue(property, out, &registry);
    EXPECT_EQ(Copy(out.kind), CoreValueKind::kSigned);
    EXPECT_EQ(Copy(out.signed_value), -3);
  });
}

TEST(ToCoreValue, ContainersOwnTheirArraysAndNames) {
  ExpectNoLeak([] {
    BindingProperty property;
    property.Field("zeta").SetSigned(1);
    property.Field("alpha").At(1).SetString("x");
    property.Field("Mid").MakeStructure();

    CoreValue out = Nil();
    ToCoreValue(property, out, nullptr);
    ASSERT_EQ(Copy(out.kind), CoreValueKind::kStructure);
    ASSERT_EQ(Copy(out.structure.count), 3u);
    // Byte order: upper case before lower case.
    EXPECT_EQ(EntryName(out, 0), "Mid");
    EXPECT_EQ(EntryName(out, 1), "alpha");
    EXPECT_EQ(EntryName(out, 2), "zeta");
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(Copy(out.structure.entries[i].name_owned), 1);
    const CoreValue alpha = out.structure.entries[1].value;  // a copy: entries are packed
    ASSERT_EQ(Copy(alpha.kind), CoreValueKind::kCollection);
    ASSERT_EQ(Copy(alpha.collection.count), 2u);
    EXPECT_EQ(Copy(alpha.collection.items[0].kind), CoreValueKind::kNil);
    EXPECT_STREQ(alpha.collection.items[1].bytes.data, "x");
    EXPECT_EQ(Copy(out.structure.entries[0].value.kind), CoreValueKind::kStructure);
    EXPECT_EQ(Copy(out.structure.entries[0].value.structure.count), 0u);
    ReleaseToCoreValue(out);
  });
}

TEST(FromCoreValue, CopiesEveryKind) {
  ExpectNoLeak([] {
    char text[] = "hello";
    const uint8_t bytes[] = {1, 2};
    CoreValue items[4] = {Client::MakeBoolValue(true), Client::MakeBorrowedStringValue(text), Nil(),
                          Client::MakeFloatValue(1.5)};
    CoreValue blob = Nil();
    blob.kind = CoreValueKind::kBorrowedBlob;
    blob.bytes.data = reinterpret_cast<const char*>(bytes);
    blob.bytes.length = 2;
    CoreStructEntry entries[3] = {};
    entries[0].name = "list";
    entries[0].value.kind = CoreValueKind::kCollection;
    entries[0].value.collection.items = items;
    entries[0].value.collection.count = 4;
    entries[1].name = "bytes";
    entries[1].value = blob;
    entries[2].name = nullptr;  // read as the empty name
    entries[2].value = Client::MakeUnsignedValue(9);
    CoreValue root = Nil();
    root.kind = CoreValueKind::kStructure;
    root.structure.entries = entries;
    root.structure.count = 3;

    BindingProperty out;
    out.SetSigned(99);  // replaced, not merged
    std::string message = "untouched";
    ASSERT_TRUE(FromCoreValue(root, out, "arg", &message));
    EXPECT_EQ(message, "untouched");
    text[0] = 'J';  // the property holds its own copy
    EXPECT_EQ(out.Size(), 3u);
    const BindingProperty& list = out.GetField("list");
    ASSERT_EQ(list.Size(), 4u);
    EXPECT_TRUE(list.GetAt(0).GetBool());
    EXPECT_EQ(list.GetAt(1).GetString(), "hello");
    EXPECT_TRUE(list.GetAt(2).IsEmpty());
    EXPECT_EQ(list.GetAt(3).GetDouble(), 1.5);
    EXPECT_THAT(out.GetField("bytes").GetBlob({}), ::testing::ElementsAre(1, 2));
    EXPECT_EQ(out.GetField("").GetUnsigned(), 9u);

    // A null string pointer is the empty string.
    CoreValue null_text = Nil();
    null_text.kind = CoreValueKind::kOwnedString;
    null_text.bytes.length = 4;
    ASSERT_TRUE(FromCoreValue(null_text, out, "arg", nullptr));
    EXPECT_EQ(out.kind(), PropertyKind::kString);
    EXPECT_EQ(out.Size(), 0u);
  });
}

TEST(FromCoreValue, RefusesUnknownKindsAndMalformedValues) {
  ExpectNoLeak([] {
    BindingProperty out;
    std::string message;
    CoreValue unknown = Nil();
    unknown.kind = static_cast<CoreValueKind>(11);
    EXPECT_FALSE(FromCoreValue(unknown, out, "payload", &message));
    EXPECT_EQ(message,
              "Couldn't assign value to 'payload' of type object because the input is of an "
              "incompatible type ''.");

    // The second element fails; the first stays converted.
    CoreValue items[3] = {Client::MakeSignedValue(4), Nil(), Client::MakeSignedValue(5)};
    items[1].kind = static_cast<CoreValueKind>(12);
    CoreValue list = Nil();
    list.kind = CoreValueKind::kCollection;
    list.collection.items = items;
    list.collection.count = 3;
    EXPECT_FALSE(FromCoreValue(list, out, "payload", &message));
    ASSERT_EQ(out.kind(), PropertyKind::kCollection);
    ASSERT_GE(out.Size(), 1u);
    EXPECT_EQ(out.GetAt(0).GetSigned(), 4);
    EXPECT_TRUE(out.GetAt(2).IsEmpty());

    // Null data with a count, and a value that contains itself.
    CoreValue hollow = Nil();
    hollow.kind = CoreValueKind::kCollection;
    hollow.collection.count = 2;
    EXPECT_FALSE(FromCoreValue(hollow, out, "p", &message));
    EXPECT_EQ(message,
              "Couldn't assign value to 'p' of type object because the input is of an "
              "incompatible type 'collection'.");
    CoreValue hollow_struct = Nil();
    hollow_struct.kind = CoreValueKind::kStructure;
    hollow_struct.structure.count = 1;
    EXPECT_FALSE(FromCoreValue(hollow_struct, out, "p", &message));
    EXPECT_EQ(message,
              "Couldn't assign value to 'p' of type object because the input is of an "
              "incompatible type 'structure'.");
    CoreValue hollow_blob = Nil();
    hollow_blob.kind = CoreValueKind::kOwnedBlob;
    hollow_blob.bytes.length = 3;
    EXPECT_FALSE(FromCoreValue(hollow_blob, out, "p", &message));
    EXPECT_EQ(message,
              "Couldn't assign value to 'p' of type object because the input is of an "
              "incompatible type 'blob'.");
    CoreValue loop = Nil();
    loop.kind = CoreValueKind::kCollection;
    loop.collection.items = &loop;
    loop.collection.count = 1;
    EXPECT_FALSE(FromCoreValue(loop, out, "p", &message));
    EXPECT_EQ(message,
              "Couldn't assign value to 'p' of type object because the input is of an "
              "incompatible type 'collection'.");
  });
}

TEST(FromCoreValue, WritesTheMessageIntoTheErrorRecord) {
  ExpectNoLeak([] {
    uint8_t record[kCoreErrorRecordSize];
    std::memset(record, 0xCC, sizeof(record));
    CoreValue unknown = Nil();
    unknown.kind = static_cast<CoreValueKind>(200);
    BindingProperty out;
    EXPECT_FALSE(FromCoreValue(record, unknown, out, "x"));
    EXPECT_EQ(record[kCoreErrorFlagOffset], 1);
    for (std::size_t i = 0; i < kCoreErrorTextOffset; ++i) EXPECT_EQ(record[i], 0) << i;
    char* text = nullptr;
    std::memcpy(&text, record + kCoreErrorTextOffset, sizeof(text));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text,
                 "Couldn't assign value to 'x' of type object because the input is of an "
                 "incompatible type ''.");
    CountingFree(text);

    // Success leaves the record alone; a null record is allowed.
    std::memset(record, 0xCC, sizeof(record));
    EXPECT_TRUE(FromCoreValue(record, Client::MakeSignedValue(1), out, "x"));
    EXPECT_EQ(record[kCoreErrorFlagOffset], 0xCC);
    EXPECT_FALSE(FromCoreValue(nullptr, unknown, out, "x"));
  });
}

TEST(CoreValueConversion, RegisteredStructRoundTripIsUnchanged) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    Testing::RegisterEveryKind(registry);
    EveryKind original = Testing::FilledEveryKind();
    original.text = "caf\xC3\xA9";

    PropertyResult converted;
    ConvertNative(converted, original, registry);
    ASSERT_TRUE(converted.IsValid()) << converted.GetError();

    CoreValue host = Nil();
    ToCoreValue(converted, host, &registry);
    BindingProperty back;
    std::string message;
    ASSERT_TRUE(FromCoreValue(host, back, "<value>", &message)) << message;
    ReleaseToCoreValue(host);
    EXPECT_EQ(Copy(host.kind), CoreValueKind::kNil);

    // Enums come back as their names, which the enum rule accepts.
    EXPECT_EQ(back.GetField("level").GetString(), "High");
    EXPECT_EQ(back.GetField("levels").GetAt(0).GetString(), "None");
    PropertyResult status;
    EveryKind copy;
    AssignNative(status, copy, back, "<value>", registry);
    ASSERT_TRUE(status.IsValid()) << status.GetError();
    EXPECT_THAT(Testing::DifferentFields(copy, original), IsEmpty());
    EXPECT_EQ(copy.object.GetField("k").GetAt(1).GetString(), "deep");
  });
}

TEST(CoreValueConversion, KindNames) {
  const char* expected[] = {"",       "bool", "signed", "unsigned",   "float",     "string",
                            "string", "blob", "blob",   "collection", "structure", ""};
  for (uint32_t kind = 0; kind < 12; ++kind) {
    EXPECT_STREQ(CoreValueKindName(kind), expected[kind]) << kind;
  }
  EXPECT_STREQ(CoreValueKindName(0xFFFFFFFFu), "");
}

}  // namespace
}  // namespace Kestrel
