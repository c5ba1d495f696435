#include "log/log_target.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/logger.h"
#include "tests/support/capturing_log_target.h"

namespace Kestrel {
namespace {

TEST(TargetAcceptsTest, LevelAndGroupRules) {
  struct Case {
    const char* why;
    LogLevel target_level;
    uint64_t include;
    uint64_t exclude;
    LogLevel record_level;
    uint64_t groups;
    bool accepted;
  };
  const Case cases[] = {
      {"level equal to the target's", 1, 0, 0, 1, 0, true},
      {"level below the target's", 2, 0, 0, 1, 0, false},
      {"no groups passes include", 0, kLogGroupDbg, 0, 0, 0, true},
      {"no groups passes exclude", 0, 0, ~uint64_t{0}, 0, 0, true},
      {"excluded group", 0, 0, kLogGroupGen, 0, kLogGroupGen, false},
      {"one of several groups excluded", 0, 0, kLogGroupGen, 0, kLogGroupGen | kLogGroupDbg, false},
      {"include 0 takes every group", 0, 0, 0, 0, kLogGroupMem, true},
      {"group not included", 0, kLogGroupDbg, 0, 0, kLogGroupMem, false},
      {"one group included", 0, kLogGroupDbg, 0, 0, kLogGroupMem | kLogGroupDbg, true},
      {"high group included", 0, uint64_t{1} << 50, 0, 0, uint64_t{1} << 50, true},
      {"high group excluded", 0, 0, uint64_t{1} << 50, 0, uint64_t{1} << 50, false},
  };
  for (const Case& c : cases) {
    const LogRecord record = MakeLogRecord(c.record_level, c.groups, "m");
    EXPECT_EQ(TargetAccepts(c.target_level, c.include, c.exclude, record), c.accepted) << c.why;
  }
}

// Each test starts with a fresh logger whose built-in console targets are detached.
class LogTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    api_->AddRef();
    api_->Release();
    api_->AddRef();
    for (LogTargetTable* table : {api_->StdErrTarget(), api_->DebuggerTarget()}) {
      table->Detach(table);
    }
  }
  void TearDown() override { api_->Release(); }

  const LogApi* api_ = GetLogApi();
};

TEST_F(LogTargetTest, TableEntriesReachTheObject) {
  CapturingLogTarget target("Table");
  LogTargetTable* table = target.table();
  EXPECT_EQ(table->object, &target);
  EXPECT_EQ(LogTarget::FromTable(table), &target);
  EXPECT_EQ(LogTarget::FromTable(nullptr), nullptr);
  EXPECT_EQ(table->InterfaceVersion(table), 1u);
  EXPECT_STREQ(table->Name(table), "Table");
  EXPECT_STREQ(table->Format(table), "#D| #L| #G| #M");
  EXPECT_EQ(table->GetLevel(table), kLogLevelWarn);
  EXPECT_EQ(table->GetIncludeGroups(table), 0u);
  EXPECT_EQ(table->GetExcludeGroups(table), 0u);

  table->SetLevel(table, kLogLevelAlways);
  EXPECT_EQ(target.level(), kLogLevelAlways);
  // Include 0x00000003'00000005, exclude 0x00000001'00000004: the shared bits
  // leave the include mask, the exclude mask stays as given.
  table->SetGroups(table, 5, 3, 4, 1);
  EXPECT_EQ(table->GetIncludeGroups(table), (uint64_t{2} << 32) | 1);
  EXPECT_EQ(table->GetExcludeGroups(table), (uint64_t{1} << 32) | 4);

  const LogRecord record = MakeLogRecord(kLogLevelOkay, 0, "direct");
  EXPECT_TRUE(table->Write(table, &record));
  EXPECT_FALSE(table->Write(table, nullptr));
  ASSERT_EQ(target.entries().size(), 1u);
  EXPECT_EQ(target.entries()[0].message, "direct");
}

TEST_F(LogTargetTest, AttachAndDetachThroughTheTable) {
  CapturingLogTarget target("Attachable");
  LogTargetTable* table = target.table();
  EXPECT_EQ(table->IsAttached(table), 0);
  table->Attach(table);
  table->Attach(table);  // already attached: not added twice
  EXPECT_EQ(table->IsAttached(table), 1);
  EXPECT_EQ(api_->FindTarget("Attachable"), table);
  LogMessage(kLogLevelWarn, 0, "once");
  EXPECT_EQ(target.entries().size(), 1u);

  table->Detach(table);
  EXPECT_EQ(table->IsAttached(table), 0);
  EXPECT_EQ(api_->FindTarget("Attachable"), nullptr);
  LogMessage(kLogLevelWarn, 0, "not seen");
  EXPECT_EQ(target.entries().size(), 1u);
  table->Detach(table);  // detaching twice is harmless
  EXPECT_EQ(table->IsAttached(table), 0);
}

TEST_F(LogTargetTest, AttachingCreatesTheLoggerWhenThereIsNone) {
  api_->Release();
  ASSERT_FALSE(LoggerExists());
  CapturingLogTarget target;
  target.Attach();
  EXPECT_TRUE(LoggerExists());
  EXPECT_EQ(api_->FindTarget("CapturingLogTarget"), target.table());
  target.Detach();
  api_->AddRef();  // for TearDown
}

TEST_F(LogTargetTest, ConfigureAppliesEverythingAndReattachesLast) {
  CapturingLogTarget early("Early");
  CapturingLogTarget late("Late");
  std::vector<std::string> order;
  early.Configure(kLogLevelOkay, 0, 0, "E #M");
  late.Configure(kLogLevelOkay, 0, 0, "L #M");

  // Reconfiguring moves the target behind the others.
  early.Configure(kLogLevelError, kLogGroupDbg | kLogGroupNet, kLogGroupNet, nullptr);
  EXPECT_TRUE(early.attached());
  EXPECT_EQ(early.level(), kLogLevelError);
  EXPECT_EQ(early.include_groups(), kLogGroupDbg);
  EXPECT_EQ(early.exclude_groups(), kLogGroupNet);
  EXPECT_STREQ(early.Format(), "E #M");

  LogMessage(kLogLevelError, kLogGroupDbg, "both");
  LogMessage(kLogLevelWarn, kLogGroupDbg, "late only");
  LogMessage(kLogLevelError, kLogGroupDbg | kLogGroupNet, "net");
  EXPECT_EQ(early.lines(), (std::vector<std::string>{"E both\n"}));
  EXPECT_EQ(late.lines(), (std::vector<std::string>{"L both\n", "L late only\n", "L net\n"}));

  // Detached targets are attached by `Configure`.
  late.Detach();
  late.Configure(kLogLevelOkay, 0, 0, "#L");
  EXPECT_TRUE(late.attached());
  EXPECT_EQ(api_->FindTarget("Late"), late.table());
}

TEST_F(LogTargetTest, BaseNameIsLogTarget) {
  class Unnamed : public LogTarget {
   public:
    Unnamed() : LogTarget(LoggerHome()) {}
    bool Write(const LogRecord&) override { return true; }
  };
  Unnamed target;
  EXPECT_STREQ(target.Name(), "LogTarget");
  LogTargetTable* table = target.table();
  EXPECT_STREQ(table->Name(table), "LogTarget");
}

}  // namespace
}  // namespace Kestrel
