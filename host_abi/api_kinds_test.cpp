#include "host_abi/api_kinds.h"

#include <gtest/gtest.h>

namespace Kestrel {
namespace {

TEST(NativeKind, NameTableCoversEveryKindAndNothingElse) {
  EXPECT_STREQ(NativeKindName(0u), "");
  EXPECT_STREQ(NativeKindName(NativeKind::kBool), "bool");
  EXPECT_STREQ(NativeKindName(NativeKind::kUInt8), "uint8");
  EXPECT_STREQ(NativeKindName(NativeKind::kInt32), "int32");
  EXPECT_STREQ(NativeKindName(NativeKind::kUInt64), "uint64");
  EXPECT_STREQ(NativeKindName(NativeKind::kObject), "object");
  EXPECT_STREQ(NativeKindName(NativeKind::kCallback), "callback");
  EXPECT_STREQ(NativeKindName(NativeKind::kMap), "map");
  EXPECT_STREQ(NativeKindName(20u), "");
  EXPECT_STREQ(NativeKindName(0xFFFFFFFFu), "");
}

TEST(NativeKind, RecordsCarryOneToNineteenAndZeroForAnythingElse) {
  EXPECT_EQ(NativeKindFromValue(19), NativeKind::kMap);
  EXPECT_EQ(NativeKindFromValue(20), NativeKind::kNone);
  EXPECT_EQ(NativeKindRecordValue(NativeKind::kBool), 1u);
  EXPECT_EQ(NativeKindRecordValue(NativeKind::kMap), 19u);
  EXPECT_EQ(NativeKindRecordValue(static_cast<NativeKind>(20)), 0u);
}

TEST(ArgumentLocation, RecordsCarryOneToFiveAndNamesFollowTheNumbering) {
  struct Row {
    uint32_t value;
    uint32_t record_value;
    const char* name;
  };
  const Row kRows[] = {{0, 0, "any"},    {1, 1, "query"}, {2, 2, "path"}, {3, 3, ""},
                       {4, 4, "header"}, {5, 5, "body"},  {6, 0, ""},     {0xFFFFFFFFu, 0, ""}};
  for (const Row& row : kRows) {
    EXPECT_EQ(ArgumentLocationRecordValue(static_cast<ArgumentLocation>(row.value)),
              row.record_value)
        << row.value;
    EXPECT_STREQ(ArgumentLocationName(row.value), row.name) << row.value;
  }
}

}  // namespace
}  // namespace Kestrel
