#include "log/log_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "log/log_groups.h"
#include "platform/process_info.h"

namespace Kestrel {
namespace {

// 2024-05-01 13:02:03.004
LogTime SampleTime() {
  LogTime time;
  time.year = 2024;
  time.month = 5;
  time.day = 1;
  time.hour = 13;
  time.minute = 2;
  time.second = 3;
  time.millisecond = 4;
  return time;
}

std::string Line(const char* format, const LogRecord& record, std::size_t size = 4096) {
  std::string buffer(size, '\x7f');
  const std::size_t length = FormatLine(buffer.data(), size, format, record);
  EXPECT_EQ(buffer[length], '\0');
  return std::string(buffer.c_str());
}

TEST(LogFormatTest, LevelNamesAreSixCharactersRightAligned) {
  EXPECT_STREQ(LevelName(kLogLevelOkay), "  OKAY");
  EXPECT_STREQ(LevelName(kLogLevelWarn), "  WARN");
  EXPECT_STREQ(LevelName(kLogLevelError), " ERROR");
  EXPECT_STREQ(LevelName(kLogLevelAlways), "ALWAYS");
  EXPECT_STREQ(LevelName(4), "  ????");
  EXPECT_STREQ(LevelName(-1), "  ????");
}

TEST(LogFormatTest, TimestampsUseTheirFixedPatterns) {
  char buffer[64];
  EXPECT_EQ(FormatTimestamp(buffer, sizeof(buffer), SampleTime()), 23u);
  EXPECT_STREQ(buffer, "2024-05-01T13:02:03.004");
  EXPECT_EQ(FormatFileTimestamp(buffer, sizeof(buffer), SampleTime()), 19u);
  EXPECT_STREQ(buffer, "2024-05-01T13-02-03");

  // A short buffer is cut and stays terminated.
  EXPECT_EQ(FormatTimestamp(buffer, 5, SampleTime()), 4u);
  EXPECT_STREQ(buffer, "2024");
  EXPECT_EQ(FormatFileTimestamp(nullptr, 10, SampleTime()), 0u);
  EXPECT_EQ(FormatTimestamp(buffer, 0, SampleTime()), 0u);
}

TEST(LogFormatTest, ProcessNameIsTheLastPathComponent) {
  char buffer[32];
  EXPECT_EQ(ExtractProcessName("/usr/lib/client/host", buffer, sizeof(buffer)), 4u);
  EXPECT_STREQ(buffer, "host");
  ExtractProcessName("C:\\Games\\Client\\Client.exe", buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "Client.exe");
  ExtractProcessName("mixed/dir\\last", buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "last");
  ExtractProcessName("plain", buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "plain");
  ExtractProcessName("/ends/with/", buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "");
  ExtractProcessName(nullptr, buffer, sizeof(buffer));
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(ExtractProcessName("/a/longname", buffer, 5), 4u);
  EXPECT_STREQ(buffer, "long");

  EXPECT_EQ(std::string(ProcessName()),
            std::string("log_format_test") + Platform::kExecutableSuffix);
}

TEST(LogFormatTest, DefaultFormatExpandsEveryField) {
  const LogRecord record =
      MakeLogRecord(kLogLevelWarn, kLogGroupDbg | kLogGroupNet, "hello", SampleTime());
  EXPECT_EQ(Line(kDefaultLineFormat, record), "2024-05-01T13:02:03.004|   WARN| DBG;NET| hello\n");

  char thread[16];
  std::snprintf(thread, sizeof(thread), "%08X", Platform::CurrentThreadId());
  EXPECT_EQ(Line("#E(#T): #L| #M", record), std::string("log_format_test") +
                                                Platform::kExecutableSuffix + "(" + thread +
                                                "):   WARN| hello\n");

  // A record without groups shows an empty group field.
  const LogRecord plain = MakeLogRecord(kLogLevelAlways, 0, "x", SampleTime());
  EXPECT_EQ(Line("[#G] #L #M", plain), "[] ALWAYS x\n");
}

TEST(LogFormatTest, UnknownCodesStandForThemselves) {
  const LogRecord record = MakeLogRecord(kLogLevelOkay, 0, "m", SampleTime());
  EXPECT_EQ(Line("#Q", record), "Q\n");
  EXPECT_EQ(Line("##", record), "#\n");
  EXPECT_EQ(Line("a##M", record), "a#M\n");
  EXPECT_EQ(Line("100#", record), "100#\n");
}

TEST(LogFormatTest, LineEndsWithExactlyOneNewline) {
  const LogRecord ends_with_newline = MakeLogRecord(kLogLevelOkay, 0, "done\n", SampleTime());
  EXPECT_EQ(Line("#M", ends_with_newline), "done\n");
  const LogRecord two_newlines = MakeLogRecord(kLogLevelOkay, 0, "done\n\n", SampleTime());
  EXPECT_EQ(Line("#M", two_newlines), "done\n\n");
  const LogRecord empty = MakeLogRecord(kLogLevelOkay, 0, "", SampleTime());
  EXPECT_EQ(Line("", empty), "\n");
  EXPECT_EQ(Line(nullptr, empty), "\n");
  EXPECT_EQ(Line("#M", empty), "\n");
  const LogRecord no_message = MakeLogRecord(kLogLevelOkay, 0, nullptr, SampleTime());
  EXPECT_EQ(Line("<#M>", no_message), "<>\n");
}

TEST(LogFormatTest, FullBufferKeepsRoomForTheNewline) {
  const LogRecord record = MakeLogRecord(kLogLevelOkay, 0, "abcdefghij", SampleTime());
  // Eight bytes: six characters of text, the newline, the NUL.
  EXPECT_EQ(Line("#M", record, 8), "abcdef\n");
  EXPECT_EQ(Line("#M", record, 2), "\n");
  char one[1] = {'x'};
  EXPECT_EQ(FormatLine(one, 1, "#M", record), 0u);
  EXPECT_EQ(one[0], '\0');
  EXPECT_EQ(FormatLine(nullptr, 100, "#M", record), 0u);

  // A text that happens to end with a newline exactly at the cut keeps it alone.
  const LogRecord cut_at_newline = MakeLogRecord(kLogLevelOkay, 0, "abcde\nXYZ", SampleTime());
  EXPECT_EQ(Line("#M", cut_at_newline, 8), "abcde\n");

  // The largest message still fits a 4096-byte line with its newline.
  const std::string long_message(5000, 'm');
  const LogRecord long_record = MakeLogRecord(kLogLevelOkay, 0, long_message.c_str(), SampleTime());
  const std::string line = Line("#M", long_record);
  ASSERT_EQ(line.size(), 4095u);
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), 4094u);
}

TEST(LogFormatTest, ClockFieldShowsSecondsAndMilliseconds) {
  const LogRecord record = MakeLogRecord(kLogLevelOkay, 0, "t", SampleTime());
  const std::string first = Line("#H", record);
  // "%06d.%03d" and the newline: six digits, a dot, three digits.
  ASSERT_EQ(first.size(), 11u) << first;
  for (std::size_t i : {0u, 1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u}) {
    EXPECT_TRUE(first[i] >= '0' && first[i] <= '9') << first;
  }
  EXPECT_EQ(first[6], '.');
  EXPECT_EQ(first[10], '\n');
  // The clock starts at its first reading, so an early reading is small.
  EXPECT_LT(std::stoi(first.substr(0, 6)), 60);
}

TEST(LogFormatTest, LocalTimeFieldsAreInRange) {
  const LogTime now = LocalTimeNow();
  EXPECT_GE(now.year, 2000);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LT(now.hour, 24);
  EXPECT_LT(now.millisecond, 1000);
}

}  // namespace
}  // namespace Kestrel
