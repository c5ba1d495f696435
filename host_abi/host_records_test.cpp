// Record layouts are checked at compile time in host_records.h; these tests
// cover what the compiler cannot: the byte image the host sees and the
// release of owned value trees.
#include <gtest/gtest.h>

#include <cstring>

#include "host_abi/core_value.h"
#include "host_abi/host_records.h"
#include "util/counting_allocator.h"

namespace Kestrel::Client {
namespace {

TEST(HostRecordsTest, ValuesAreLittleEndianWithThePayloadRightAfterTheKind) {
  CoreValue value = MakeSignedValue(-2);
  unsigned char bytes[sizeof(CoreValue)];
  std::memcpy(bytes, &value, sizeof(value));
  // Kind 2 as a little-endian word, then the 64-bit two's complement of -2.
  const unsigned char expected[12] = {2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof(expected)), 0);

  value = MakeBoolValue(true);
  std::memcpy(bytes, &value, sizeof(value));
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[4], 1);
  EXPECT_EQ(bytes[5], 0);  // the rest of the payload stays zero
}

TEST(HostRecordsTest, ResponseStatusSitsUnalignedAfterTheFlagBytes) {
  CoreResponse response;
  std::memset(&response, 0, sizeof(response));
  response.error_flag = 1;
  response.result_flag = 7;
  response.body_encoding = 3;
  response.status_code = 404;
  unsigned char bytes[sizeof(CoreResponse)];
  std::memcpy(bytes, &response, sizeof(response));
  const std::size_t flags = offsetof(CoreResponse, error_flag);
  EXPECT_EQ(bytes[flags], 1);
  EXPECT_EQ(bytes[flags + 1], 7);
  EXPECT_EQ(bytes[flags + 2], 3);  // body encoding follows with no padding
  const std::size_t status = offsetof(CoreResponse, status_code);
  EXPECT_EQ(status, flags + 6);
  EXPECT_EQ(bytes[status], 404 & 0xFF);
  EXPECT_EQ(bytes[status + 1], 404 >> 8);
}

TEST(CoreValueTest, MakersSetKindAndPayload) {
  EXPECT_EQ(MakeNilValue().kind, CoreValueKind::kNil);
  EXPECT_EQ(MakeUnsignedValue(UINT64_MAX).unsigned_value, UINT64_MAX);
  EXPECT_EQ(MakeFloatValue(0.5).float_value, 0.5);
  CoreValue borrowed = MakeBorrowedStringValue("abc");
  EXPECT_EQ(borrowed.kind, CoreValueKind::kBorrowedString);
  EXPECT_EQ(borrowed.bytes.length, 3u);
  EXPECT_EQ(MakeBorrowedStringValue(nullptr).bytes.length, 0u);
}

TEST(CoreValueTest, OwnedStringKeepsEmbeddedNulsAndTerminates) {
  CoreValue value = MakeNilValue();
  ASSERT_TRUE(SetOwnedString(&value, std::string_view("a\0b", 3)));
  EXPECT_EQ(value.kind, CoreValueKind::kOwnedString);
  ASSERT_EQ(value.bytes.length, 3u);
  EXPECT_EQ(std::memcmp(value.bytes.data, "a\0b", 4), 0);  // trailing NUL included
  ReleaseCoreValue(&value);
}

// Builds {"owned": ["x", blob, borrowed], borrowed-name: {"deep": 5}} and
// checks that one release returns every counted byte and leaves borrowed
// texts untouched.
TEST(CoreValueTest, ReleaseFreesANestedOwnedTreeAndZeroesTheValue) {
  static char borrowed_text[] = "borrowed";
  static char borrowed_name[] = "lent";
  const AllocatorCounters start = ReadAllocatorCounters();
  {
    CoreValue root = MakeNilValue();
    ASSERT_TRUE(SetStructure(&root, 2));
    CoreStructEntry* entries = root.structure.entries;
    ASSERT_TRUE(SetEntryName(&entries[0], "owned"));
    ASSERT_TRUE(SetCollection(&entries[0].value, 3));
    CoreValue* items = entries[0].value.collection.items;
    ASSERT_TRUE(SetOwnedString(&items[0], "x"));
    const unsigned char bytes[] = {1, 2, 3};
    ASSERT_TRUE(SetOwnedBlob(&items[1], bytes, sizeof(bytes)));
    items[2] = MakeBorrowedStringValue(borrowed_text);

    entries[1].name = borrowed_name;
    entries[1].name_owned = 0;
    ASSERT_TRUE(SetStructure(&entries[1].value, 1));
    CoreStructEntry* inner = entries[1].value.structure.entries;
    ASSERT_TRUE(SetEntryName(&inner[0], "deep"));
    inner[0].value = MakeSignedValue(5);

    EXPECT_GT(ReadAllocatorCounters().live_bytes(), start.live_bytes());
    ReleaseCoreValue(&root);

    const CoreValue zero = MakeNilValue();
    EXPECT_EQ(std::memcmp(&root, &zero, sizeof(CoreValue)), 0);
  }
  const AllocatorCounters end = ReadAllocatorCounters();
  EXPECT_EQ(end.live_bytes(), start.live_bytes());
  EXPECT_EQ(end.live_allocations(), start.live_allocations());
  EXPECT_STREQ(borrowed_text, "borrowed");
  EXPECT_STREQ(borrowed_name, "lent");
}

TEST(CoreValueTest, SettersReleaseWhatTheValueHeldBefore) {
  const AllocatorCounters start = ReadAllocatorCounters();
  CoreValue value = MakeNilValue();
  ASSERT_TRUE(SetCollection(&value, 2));
  ASSERT_TRUE(SetOwnedString(&value.collection.items[0], "first"));
  ASSERT_TRUE(SetOwnedString(&value, "replaces the collection"));
  ASSERT_TRUE(SetOwnedBlob(&value, nullptr, 0));
  EXPECT_EQ(value.bytes.length, 0u);
  EXPECT_NE(value.bytes.data, nullptr);
  CoreStructEntry entry{};
  ASSERT_TRUE(SetEntryName(&entry, "one"));
  ASSERT_TRUE(SetEntryName(&entry, "two"));  // frees "one"
  EXPECT_STREQ(entry.name, "two");
  CountingFree(const_cast<char*>(entry.name));
  ReleaseCoreValue(&value);
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), start.live_bytes());
}

TEST(CoreValueTest, EmptyContainersOwnNoArrayAndReleaseIsIdempotent) {
  const AllocatorCounters start = ReadAllocatorCounters();
  CoreValue value = MakeNilValue();
  ASSERT_TRUE(SetCollection(&value, 0));
  EXPECT_EQ(value.kind, CoreValueKind::kCollection);
  EXPECT_EQ(value.collection.items, nullptr);
  ASSERT_TRUE(SetStructure(&value, 0));
  EXPECT_EQ(value.kind, CoreValueKind::kStructure);
  EXPECT_EQ(ReadAllocatorCounters().allocations, start.allocations);
  ReleaseCoreValue(&value);
  ReleaseCoreValue(&value);
  ReleaseCoreValue(nullptr);
  EXPECT_EQ(value.kind, CoreValueKind::kNil);
}

}  // namespace
}  // namespace Kestrel::Client
