#include "log/console_targets.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "log/log_format.h"
#include "log/logger.h"
#include "platform/debug_output.h"

namespace Kestrel {
namespace {

// 2024-02-29 08:07:06.005
LogRecord Record(LogLevel level, uint64_t groups, const char* message) {
  LogTime time;
  time.year = 2024;
  time.month = 2;
  time.day = 29;
  time.hour = 8;
  time.minute = 7;
  time.second = 6;
  time.millisecond = 5;
  return MakeLogRecord(level, groups, message, time);
}

// What another reader of the file sees: only what the stream has flushed.
std::string FileContents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReadAll(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  std::size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, count);
  return text;
}

TEST(ConsoleTargetsTest, NamesOfEveryClass) {
  StdErrLogTarget err(LoggerHome());
  StdOutLogTarget out(LoggerHome());
  DebuggerConsoleLogTarget debugger(LoggerHome());
  EXPECT_STREQ(err.Name(), "StdErrLogTarget");
  EXPECT_STREQ(out.Name(), "StdOutLogTarget");
  EXPECT_STREQ(debugger.Name(), "DebuggerConsoleLogTarget");
  EXPECT_STREQ(err.BaseConsoleLogTarget::Name(), "BaseConsoleLogTarget");
  EXPECT_FALSE(err.attached());
}

TEST(ConsoleTargetsTest, StandardErrorWritesFormattedLines) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  StdErrLogTarget target(LoggerHome());
  target.SetStream(file);
  target.SetFormat("#D| #L| #G| #M");
  EXPECT_TRUE(target.Write(Record(kLogLevelError, kLogGroupDbg | kLogGroupNet, "first")));
  EXPECT_TRUE(target.Write(Record(kLogLevelOkay, 0, "second\n")));
  EXPECT_EQ(ReadAll(file),
            "2024-02-29T08:07:06.005|  ERROR| DBG;NET| first\n"
            "2024-02-29T08:07:06.005|   OKAY| | second\n");

  // A message too long for the line buffer is cut and still ends the line.
  const std::string long_message(6000, 'z');
  target.SetFormat("#M");
  target.Write(Record(kLogLevelOkay, 0, long_message.c_str()));
  const std::string text = ReadAll(file);
  const std::string last = text.substr(text.rfind("second\n") + 7);
  EXPECT_EQ(last, std::string(4094, 'z') + "\n");
  std::fclose(file);
}

TEST(ConsoleTargetsTest, StandardOutputFlushesEachLineOnlyWithItsFlag) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "console_targets_test_stdout.txt";
  std::FILE* file = std::fopen(path.string().c_str(), "wb");  // no line-end translation
  ASSERT_NE(file, nullptr);
  // Fully buffered, so only a flush makes text visible to another reader.
  static char buffer[1 << 16];
  std::setvbuf(file, buffer, _IOFBF, sizeof(buffer));
  StdOutLogTarget target(LoggerHome());
  target.SetStream(file);
  target.SetFormat("#M");

  target.Write(Record(kLogLevelOkay, 0, "buffered"));
  EXPECT_EQ(FileContents(path), "");
  target.Flush();
  EXPECT_EQ(FileContents(path), "buffered\n");

  target.SetFlushFlag(1);
  target.Write(Record(kLogLevelOkay, 0, "flushed"));
  EXPECT_EQ(FileContents(path), "buffered\nflushed\n");

  // Only the value 1 turns flushing on.
  target.SetFlushFlag(2);
  target.Write(Record(kLogLevelOkay, 0, "held"));
  EXPECT_EQ(FileContents(path), "buffered\nflushed\n");
  std::fclose(file);
  std::filesystem::remove(path);
}

void CaptureDebugOutput(const char* text, void* context) {
  static_cast<std::string*>(context)->append(text);
}

TEST(ConsoleTargetsTest, DebuggerTargetPassesWholeLinesToTheDebuggerOutput) {
  std::string seen;
  const Platform::DebugOutputObserver previous =
      Platform::SetDebugOutputObserver(&CaptureDebugOutput, &seen);
  DebuggerConsoleLogTarget target(LoggerHome());
  target.SetFormat("[#L] #M");
  EXPECT_TRUE(target.Write(Record(kLogLevelAlways, 0, "one")));
  EXPECT_TRUE(target.Write(Record(kLogLevelWarn, kLogGroupGen, "two\n")));
  target.Flush();
  EXPECT_EQ(seen, "[ALWAYS] one\n[  WARN] two\n");
  Platform::SetDebugOutputObserver(previous, nullptr);
}

}  // namespace
}  // namespace Kestrel
