#include "log/log_groups.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "log/log_record.h"

namespace Kestrel {
namespace {

std::string Names(uint64_t groups, std::size_t size = kGroupNamesBufferSize) {
  std::string buffer(size, '\x7f');
  const std::size_t length = GroupNames(buffer.data(), size, groups);
  EXPECT_EQ(buffer[length], '\0');
  return std::string(buffer.c_str());
}

TEST(LogGroupsTest, FixedNamesAndJoinedText) {
  EXPECT_EQ(Names(kLogGroupDbg | kLogGroupNet), "DBG;NET");
  EXPECT_EQ(Names(0), "");
  EXPECT_EQ(Names(0xFF), "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST");
  // A bit with no registered name.
  EXPECT_EQ(Names(kLogGroupGen | (uint64_t{1} << 40)), "GEN;???");
  EXPECT_EQ(Names(uint64_t{1} << 63), "???");
  // Cut to the buffer, still terminated.
  EXPECT_EQ(Names(kLogGroupDbg | kLogGroupGen, 6), "DBG;G");
  EXPECT_EQ(GroupNames(nullptr, 10, 1), 0u);

  EXPECT_EQ(GroupFromName("DBG"), kLogGroupDbg);
  EXPECT_EQ(GroupFromName("XTR"), kLogGroupXtr);
  EXPECT_EQ(GroupFromName("TST"), kLogGroupTst);
  // Only the first three characters count.
  EXPECT_EQ(GroupFromName("NETWORK"), kLogGroupNet);
  EXPECT_EQ(GroupFromName(nullptr), 0u);
  EXPECT_EQ(GroupFromName(""), 0u);
  EXPECT_EQ(HighestUsedGroupIndex(), 7);
}

// The name table is process-wide, so registration and its bound are checked
// in one sequence.
TEST(LogGroupsTest, RegistersNewNamesOnceAndStopsAtSixtyFour) {
  const int before = HighestUsedGroupIndex();
  const uint64_t abc = GroupFromName("ABCD");
  EXPECT_EQ(abc, uint64_t{1} << (before + 1));
  EXPECT_EQ(GroupFromName("ABC"), abc);
  EXPECT_EQ(HighestUsedGroupIndex(), before + 1);
  EXPECT_EQ(Names(abc | kLogGroupDbg), "DBG;ABC");
  // A short name is its own group, not a prefix of "ABC".
  const uint64_t ab = GroupFromName("AB");
  EXPECT_NE(ab, abc);
  EXPECT_EQ(Names(ab), "AB");

  // Threads registering the same new names all get the same bits.
  std::vector<std::string> names;
  for (int i = 0; i < 10; ++i) names.push_back("T" + std::to_string(10 + i));
  const int before_threads = HighestUsedGroupIndex();
  std::vector<std::vector<uint64_t>> seen(4);
  std::vector<std::thread> threads;
  for (auto& masks : seen) {
    threads.emplace_back([&names, &masks] {
      for (const std::string& name : names) masks.push_back(GroupFromName(name.c_str()));
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(HighestUsedGroupIndex(), before_threads + 10);
  for (const auto& masks : seen) EXPECT_EQ(masks, seen[0]);

  // Fill the table to its last entry.
  int registered = HighestUsedGroupIndex();
  uint64_t last = 0;
  std::string last_name;
  for (int i = 0; registered < kMaxLogGroups - 1; ++i) {
    char name[16];
    std::snprintf(name, sizeof(name), "Z%02d", i);
    last = GroupFromName(name);
    last_name = name;
    ++registered;
    EXPECT_EQ(last, uint64_t{1} << registered) << name;
  }
  EXPECT_EQ(last, uint64_t{1} << 63);
  EXPECT_EQ(HighestUsedGroupIndex(), 63);

  // Past the 64th name nothing is registered and no group is given.
  EXPECT_EQ(GroupFromName("NEW"), 0u);
  EXPECT_EQ(GroupFromName("NEW"), 0u);
  EXPECT_EQ(HighestUsedGroupIndex(), 63);
  // Registered names keep resolving.
  EXPECT_EQ(GroupFromName("ABC"), abc);
  EXPECT_EQ(GroupFromName("GEN"), kLogGroupGen);
  EXPECT_EQ(Names(uint64_t{1} << 63), last_name);
}

}  // namespace
}  // namespace Kestrel
