#include "log/logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "log/console_targets.h"
#include "log/log_format.h"
#include "log/log_groups.h"
#include "platform/debug_output.h"
#include "platform/process_info.h"
#include "tests/support/capturing_log_target.h"

namespace Kestrel {
namespace {

std::string ReadAll(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  std::size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, count);
  return text;
}

void CaptureDebugOutput(const char* text, void* context) {
  static_cast<std::string*>(context)->append(text);
}

// Every test starts from a logger in its default state, with the built-in
// console targets writing into captures instead of the real streams.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    api_->AddRef();
    api_->Release();  // destroys a logger an earlier test left behind
    api_->AddRef();
    ASSERT_TRUE(LoggerExists());
    err_file_ = std::tmpfile();
    out_file_ = std::tmpfile();
    ASSERT_NE(err_file_, nullptr);
    ASSERT_NE(out_file_, nullptr);
    StdErr()->SetStream(err_file_);
    StdOut()->SetStream(out_file_);
    previous_observer_ = Platform::SetDebugOutputObserver(&CaptureDebugOutput, &debug_text_);
  }

  void TearDown() override {
    if (LoggerExists()) api_->AddRef();
    while (LoggerExists()) api_->Release();
    Platform::SetDebugOutputObserver(previous_observer_, nullptr);
    std::fclose(err_file_);
    std::fclose(out_file_);
  }

  static StdErrLogTarget* StdErr() {
    return dynamic_cast<StdErrLogTarget*>(LogTarget::FromTable(GetLogApi()->StdErrTarget()));
  }
  static StdOutLogTarget* StdOut() {
    return dynamic_cast<StdOutLogTarget*>(LogTarget::FromTable(GetLogApi()->StdOutTarget()));
  }

  // "<process>(<thread>): " as the console formats begin.
  static std::string ConsolePrefix() {
    char thread[16];
    std::snprintf(thread, sizeof(thread), "%08X", Platform::CurrentThreadId());
    return std::string(ProcessName()) + "(" + thread + "): ";
  }

  std::string err_text() { return ReadAll(err_file_); }
  std::string out_text() { return ReadAll(out_file_); }

  const LogApi* api_ = GetLogApi();
  std::FILE* err_file_ = nullptr;
  std::FILE* out_file_ = nullptr;
  std::string debug_text_;
  Platform::DebugOutputObserver previous_observer_ = nullptr;
};

TEST_F(LoggerTest, StartsWithTheDefaultSettingsAndBuiltInTargets) {
  EXPECT_EQ(api_->InterfaceVersion(), 1u);
  EXPECT_EQ(api_->GetLevel(), kLogLevelWarn);
  EXPECT_EQ(api_->GetSuppressedGroups(), kLogGroupXtr);

  struct Expected {
    LogTargetTable* table;
    const char* name;
    const char* format;
    uint64_t include;
    uint64_t exclude;
    uint8_t attached;
  };
  const Expected expected[] = {
      {api_->StdErrTarget(), "StdErrLogTarget", "#E(#T): #L| #M", kLogGroupDbg, kLogGroupGen, 1},
      {api_->StdOutTarget(), "StdOutLogTarget", "#M", kLogGroupGen, kLogGroupDbg, 0},
      {api_->DebuggerTarget(), "DebuggerConsoleLogTarget", "#E(#T): #L| #M", kLogGroupDbg, 0, 1},
  };
  for (const Expected& target : expected) {
    ASSERT_NE(target.table, nullptr);
    LogTargetTable* table = target.table;
    EXPECT_STREQ(table->Name(table), target.name);
    EXPECT_STREQ(table->Format(table), target.format) << target.name;
    EXPECT_EQ(table->GetIncludeGroups(table), target.include) << target.name;
    EXPECT_EQ(table->GetExcludeGroups(table), target.exclude) << target.name;
    EXPECT_EQ(table->GetLevel(table), kLogLevelWarn) << target.name;
    EXPECT_EQ(table->IsAttached(table), target.attached) << target.name;
    EXPECT_EQ(api_->FindTarget(target.name), target.attached ? table : nullptr) << target.name;
  }
  EXPECT_EQ(StdOut()->flush_flag(), 0);
  EXPECT_EQ(std::string(api_->ProcessName()),
            std::string("logger_test") + Platform::kExecutableSuffix);
}

TEST_F(LoggerTest, DefaultFilteringAndConsoleLines) {
  LogMessage(kLogLevelOkay, kLogGroupDbg, "too low");
  LogMessage(kLogLevelWarn, kLogGroupXtr, "suppressed");
  LogMessage(kLogLevelWarn, kLogGroupDbg | kLogGroupXtr, "suppressed too");
  EXPECT_EQ(err_text(), "");
  EXPECT_EQ(debug_text_, "");

  LogMessage(kLogLevelWarn, kLogGroupDbg, "disk %s at %d%%", "full", 99);
  const std::string line = ConsolePrefix() + "  WARN| disk full at 99%\n";
  EXPECT_EQ(err_text(), line);
  EXPECT_EQ(debug_text_, line);

  // "GEN" is excluded by standard error and not included by the debugger target.
  LogMessage(kLogLevelError, kLogGroupGen, "general");
  EXPECT_EQ(err_text(), line);
  EXPECT_EQ(debug_text_, line);
  EXPECT_EQ(out_text(), "");

  // A message without groups passes every group filter of the attached targets.
  LogMessage(kLogLevelAlways, 0, "no groups\n");
  const std::string plain = ConsolePrefix() + "ALWAYS| no groups\n";
  EXPECT_EQ(err_text(), line + plain);
  EXPECT_EQ(debug_text_, line + plain);
}

// Standard error is attached before the debugger target, so it writes first:
// when the debugger output sees a line, standard error already holds it.
std::FILE* g_err_file_at_debug_write = nullptr;
std::string g_err_text_at_debug_write;
void RecordStdErrAtDebugWrite(const char*, void*) {
  g_err_text_at_debug_write = ReadAll(g_err_file_at_debug_write);
}

TEST_F(LoggerTest, StandardErrorWritesBeforeTheDebuggerOutput) {
  g_err_file_at_debug_write = err_file_;
  Platform::SetDebugOutputObserver(&RecordStdErrAtDebugWrite, nullptr);
  LogMessage(kLogLevelWarn, kLogGroupDbg, "ordered");
  EXPECT_EQ(g_err_text_at_debug_write, ConsolePrefix() + "  WARN| ordered\n");
}

TEST_F(LoggerTest, GeneralMessagesReachStandardOutputOnlyWhenItIsAttached) {
  LogTargetTable* out = api_->StdOutTarget();
  out->Attach(out);
  EXPECT_EQ(api_->FindTarget("StdOutLogTarget"), out);
  LogMessage(kLogLevelError, kLogGroupGen, "to stdout");
  LogMessage(kLogLevelError, kLogGroupDbg, "not to stdout");
  EXPECT_EQ(out_text(), "to stdout\n");
  EXPECT_EQ(err_text(), ConsolePrefix() + " ERROR| not to stdout\n");

  out->Detach(out);
  LogMessage(kLogLevelError, kLogGroupGen, "dropped");
  EXPECT_EQ(out_text(), "to stdout\n");
  EXPECT_EQ(out->IsAttached(out), 0);
}

TEST_F(LoggerTest, LevelSuppressionMuteAndSecondaryFlag) {
  CapturingLogTarget capture;
  capture.Configure(kLogLevelOkay, 0, 0, "#M");

  api_->SetLevel(kLogLevelOkay);
  EXPECT_EQ(api_->GetLevel(), kLogLevelOkay);
  LogMessage(kLogLevelOkay, kLogGroupGen, "a");
  api_->SetSuppressedGroups(kLogGroupGen);
  EXPECT_EQ(api_->GetSuppressedGroups(), kLogGroupGen);
  LogMessage(kLogLevelAlways, kLogGroupGen | kLogGroupNet, "suppressed");
  LogMessage(kLogLevelOkay, kLogGroupXtr, "b");

  api_->Mute();
  LogMessage(kLogLevelAlways, 0, "muted");
  api_->Unmute();
  LogMessage(kLogLevelAlways, 0, "c");

  api_->SetSecondaryFlag();
  LogMessage(kLogLevelAlways, 0, "d");
  api_->ClearSecondaryFlag();
  LogMessage(kLogLevelAlways, 0, "e");

  api_->SetLevel(kLogLevelError);
  LogMessage(kLogLevelWarn, 0, "below");
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"a\n", "b\n", "c\n", "d\n", "e\n"}));
}

TEST_F(LoggerTest, TargetsAreOfferedRecordsInRegistrationOrderAndFilterThemselves) {
  std::vector<std::string> order;
  class OrderTarget : public LogTarget {
   public:
    OrderTarget(const char* name, std::vector<std::string>* order)
        : LogTarget(LoggerHome()), name_(name), order_(order) {}
    ~OrderTarget() override { Detach(); }
    const char* Name() const override { return name_; }
    bool Write(const LogRecord& record) override {
      order_->push_back(std::string(name_) + ":" + record.message);
      return true;
    }

   private:
    const char* name_;
    std::vector<std::string>* order_;
  };
  OrderTarget second("second", &order);
  OrderTarget first("first", &order);
  second.Configure(kLogLevelError, kLogGroupNet, 0, nullptr);
  first.Configure(kLogLevelWarn, 0, kLogGroupMem, nullptr);

  LogMessage(kLogLevelError, kLogGroupNet, "1");                 // both
  LogMessage(kLogLevelWarn, kLogGroupNet, "2");                  // first only: below second's level
  LogMessage(kLogLevelError, kLogGroupNet | kLogGroupMem, "3");  // second only: excluded by first
  LogMessage(kLogLevelError, kLogGroupPrf, "4");  // first only: not included by second
  LogMessage(kLogLevelError, 0, "5");             // both: no groups
  EXPECT_EQ(order, (std::vector<std::string>{"second:1", "first:1", "first:2", "second:3",
                                             "first:4", "second:5", "first:5"}));
  EXPECT_EQ(api_->FindTarget("first"), first.table());
  EXPECT_EQ(api_->FindTarget("firs"), nullptr);
  EXPECT_EQ(api_->FindTarget(nullptr), nullptr);
}

TEST_F(LoggerTest, AddTargetKeepsDuplicatesAndRemoveTargetDropsEveryCopy) {
  CapturingLogTarget capture;
  capture.SetLevel(kLogLevelOkay);
  capture.SetFormat("#M");
  api_->AddTarget(capture.table());
  api_->AddTarget(capture.table());
  api_->AddTarget(nullptr);
  LogMessage(kLogLevelWarn, 0, "twice");
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"twice\n", "twice\n"}));
  // Added without attaching: the mark stays clear.
  EXPECT_FALSE(capture.attached());

  api_->RemoveTarget(capture.table());
  LogMessage(kLogLevelWarn, 0, "gone");
  EXPECT_EQ(capture.lines().size(), 2u);
  EXPECT_EQ(api_->FindTarget("CapturingLogTarget"), nullptr);
}

TEST_F(LoggerTest, DestroyedTargetsLeaveTheLogger) {
  {
    CapturingLogTarget attached("Attached");
    attached.Attach();
    CapturingLogTarget added("Added");
    api_->AddTarget(added.table());
    EXPECT_NE(api_->FindTarget("Attached"), nullptr);
    EXPECT_NE(api_->FindTarget("Added"), nullptr);
  }
  EXPECT_EQ(api_->FindTarget("Attached"), nullptr);
  EXPECT_EQ(api_->FindTarget("Added"), nullptr);
  LogMessage(kLogLevelError, kLogGroupDbg, "still fine");
  EXPECT_EQ(err_text(), ConsolePrefix() + " ERROR| still fine\n");
}

// A target from another module: it knows the logger only through `LogApi`.
struct ForeignTarget {
  LogTargetTable table;
  uint8_t attached = 0;
  std::vector<std::string>* detach_order = nullptr;
  std::string name;
  int writes = 0;
};

ForeignTarget& Foreign(LogTargetTable* table) {
  return *static_cast<ForeignTarget*>(table->object);
}

LogTargetTable MakeForeignTable(ForeignTarget* target) {
  LogTargetTable table{};
  table.InterfaceVersion = [](LogTargetTable*) -> uint32_t { return 1; };
  table.SetLevel = [](LogTargetTable*, LogLevel) {};
  table.GetLevel = [](LogTargetTable*) -> LogLevel { return kLogLevelOkay; };
  table.SetGroups = [](LogTargetTable*, uint32_t, uint32_t, uint32_t, uint32_t) {};
  table.GetIncludeGroups = [](LogTargetTable*) -> uint64_t { return 0; };
  table.GetExcludeGroups = [](LogTargetTable*) -> uint64_t { return 0; };
  table.Name = [](LogTargetTable* self) { return Foreign(self).name.c_str(); };
  table.Format = [](LogTargetTable*) { return "#M"; };
  table.Attach = [](LogTargetTable* self) {
    if (Foreign(self).attached) return;
    Foreign(self).attached = 1;
    GetLogApi()->AddTarget(self);
  };
  table.Detach = [](LogTargetTable* self) {
    if (!Foreign(self).attached) return;
    Foreign(self).attached = 0;
    Foreign(self).detach_order->push_back(Foreign(self).name);
    GetLogApi()->RemoveTarget(self);
  };
  table.IsAttached = [](LogTargetTable* self) { return Foreign(self).attached; };
  table.Write = nullptr;
  table.object = target;
  return table;
}

TEST_F(LoggerTest, ForeignTargetsAreFoundByNameAndDetachedLastFirstAtDestruction) {
  std::vector<std::string> detach_order;
  ForeignTarget one;
  ForeignTarget two;
  one.name = "One";
  two.name = "Two";
  one.detach_order = two.detach_order = &detach_order;
  one.table = MakeForeignTable(&one);
  two.table = MakeForeignTable(&two);
  one.table.Attach(&one.table);
  two.table.Attach(&two.table);
  EXPECT_EQ(api_->FindTarget("Two"), &two.table);
  EXPECT_EQ(LogTarget::FromTable(&two.table), nullptr);

  // Without a write entry the target is skipped, not called.
  LogMessage(kLogLevelAlways, 0, "skipped");

  api_->Release();
  EXPECT_FALSE(LoggerExists());
  EXPECT_EQ(detach_order, (std::vector<std::string>{"Two", "One"}));
  EXPECT_EQ(one.attached, 0);
  EXPECT_EQ(two.attached, 0);
}

TEST_F(LoggerTest, LifetimeFollowsUsersAndFirstMessage) {
  api_->AddRef();
  api_->Release();
  EXPECT_TRUE(LoggerExists());
  api_->Release();
  EXPECT_FALSE(LoggerExists());
  api_->Release();  // no users: nothing happens
  EXPECT_FALSE(LoggerExists());

  // Without a logger the entries that need one change nothing.
  api_->SetLevel(kLogLevelOkay);
  EXPECT_EQ(api_->GetLevel(), 0);
  EXPECT_EQ(api_->StdErrTarget(), nullptr);
  EXPECT_EQ(api_->FindTarget("StdErrLogTarget"), nullptr);
  api_->Mute();
  EXPECT_FALSE(LoggerExists());

  // The first message creates the logger, with default settings.
  std::string seen;
  Platform::SetDebugOutputObserver(&CaptureDebugOutput, &seen);
  LogMessage(kLogLevelWarn, kLogGroupDbg, "first");
  EXPECT_TRUE(LoggerExists());
  EXPECT_EQ(seen, ConsolePrefix() + "  WARN| first\n");
  EXPECT_EQ(api_->GetLevel(), kLogLevelWarn);
  // Silence the new logger's standard error target for the rest of the test.
  StdErr()->SetStream(err_file_);
}

void CallTableLogMessage(LogLevel level, uint64_t groups, const char* format, ...) {
  va_list args;
  va_start(args, format);
  GetLogApi()->LogMessage(level, static_cast<uint32_t>(groups), static_cast<uint32_t>(groups >> 32),
                          format, args);
  va_end(args);
}

TEST_F(LoggerTest, TableEntriesMatchTheirFunctions) {
  CapturingLogTarget capture;
  capture.Configure(kLogLevelOkay, 0, 0, "#G #L #M");
  const uint64_t high_group = GroupFromName("HGH");
  const uint64_t shifted = uint64_t{1} << 40;
  CallTableLogMessage(kLogLevelAlways, kLogGroupNet | shifted, "%s-%d", "x", 7);
  ASSERT_EQ(capture.entries().size(), 1u);
  EXPECT_EQ(capture.entries()[0].groups, kLogGroupNet | shifted);
  EXPECT_EQ(capture.entries()[0].message, "x-7");

  uint64_t out = 0;
  EXPECT_EQ(api_->GroupFromName(&out, "HGH"), high_group);
  EXPECT_EQ(out, high_group);
  EXPECT_EQ(api_->GroupFromName(nullptr, "NET"), kLogGroupNet);

  char buffer[64];
  api_->GroupNames(buffer, sizeof(buffer), kLogGroupDbg | kLogGroupTst);
  EXPECT_STREQ(buffer, "DBG;TST");
  EXPECT_STREQ(api_->LevelName(kLogLevelError), " ERROR");

  LogTime time;
  time.year = 2023;
  time.month = 12;
  time.day = 31;
  time.hour = 23;
  time.minute = 59;
  time.second = 58;
  time.millisecond = 999;
  api_->FormatTimestamp(buffer, sizeof(buffer), &time);
  EXPECT_STREQ(buffer, "2023-12-31T23:59:58.999");
  api_->FormatFileTimestamp(buffer, sizeof(buffer), &time);
  EXPECT_STREQ(buffer, "2023-12-31T23-59-58");
  const LogRecord record = MakeLogRecord(kLogLevelOkay, kLogGroupGen, "m", time);
  api_->FormatLine(buffer, sizeof(buffer), "#D #M", &record);
  EXPECT_STREQ(buffer, "2023-12-31T23:59:58.999 m\n");
  const LogTime now = api_->LocalTime();
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
}

TEST_F(LoggerTest, LongMessagesAreCut) {
  CapturingLogTarget capture;
  capture.Configure(kLogLevelOkay, 0, 0, "#M");
  const std::string text(5000, 'a');
  LogMessage(kLogLevelWarn, 0, "%s", text.c_str());
  ASSERT_EQ(capture.entries().size(), 1u);
  EXPECT_EQ(capture.entries()[0].message, text.substr(0, 4095));
  EXPECT_EQ(capture.lines()[0], text.substr(0, 4094) + "\n");
  LogMessage(kLogLevelWarn, 0, nullptr);
  EXPECT_EQ(capture.entries()[1].message, "");
}

TEST_F(LoggerTest, ThreadsLoggingAtOnceKeepEveryLineWhole) {
  CapturingLogTarget capture;
  capture.Configure(kLogLevelOkay, 0, 0, "#M");
  constexpr int kThreads = 4;
  constexpr int kMessages = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kMessages; ++i) LogMessage(kLogLevelWarn, kLogGroupNet, "%d:%d", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::vector<std::string> lines = capture.lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kMessages));
  // Each thread's lines arrive whole and in its own order.
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d:%d\n", &t, &i), 2) << line;
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]++) << line;
  }
}

}  // namespace
}  // namespace Kestrel
