// The plain records that travel between the logger and its targets.
//
// A target may live in another module, so everything here is a fixed-layout
// record of 32-bit fields (plus one text pointer) rather than a C++ object.
// A `LogRecord` does not own its message: the text belongs to whoever built the
// record and is valid only for the duration of the call that receives it.
//
//   LogRecord record = MakeLogRecord(kLogLevelError, kLogGroupGen, "disk full");
//   table->Write(table, &record);
#ifndef VYN_LOG_LOG_RECORD_H_
#define VYN_LOG_LOG_RECORD_H_

#include <cstddef>
#include <cstdint>

namespace Kestrel {

// Severity of a message; lines show it through `LevelName`.
using LogLevel = int32_t;
inline constexpr LogLevel kLogLevelOkay = 0;
inline constexpr LogLevel kLogLevelWarn = 1;
inline constexpr LogLevel kLogLevelError = 2;
inline constexpr LogLevel kLogLevelAlways = 3;

// Log groups: bit i of a 64-bit mask is group i. The first eight have fixed
// names; further names are registered with `GroupFromName`.
inline constexpr uint64_t kLogGroupDbg = uint64_t{1} << 0;
inline constexpr uint64_t kLogGroupGen = uint64_t{1} << 1;
inline constexpr uint64_t kLogGroupXtr = uint64_t{1} << 2;
inline constexpr uint64_t kLogGroupPrf = uint64_t{1} << 3;
inline constexpr uint64_t kLogGroupMem = uint64_t{1} << 4;
inline constexpr uint64_t kLogGroupDsk = uint64_t{1} << 5;
inline constexpr uint64_t kLogGroupNet = uint64_t{1} << 6;
inline constexpr uint64_t kLogGroupTst = uint64_t{1} << 7;

// Local wall-clock time as the seven 32-bit fields a line is stamped with.
struct LogTime {
  int32_t year = 0;
  int32_t month = 0;  // 1-12
  int32_t day = 0;    // 1-31
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
};
static_assert(sizeof(LogTime) == 28);
static_assert(offsetof(LogTime, millisecond) == 24);

// Longest message a record carries; longer messages are cut.
inline constexpr std::size_t kMaxLogMessageLength = 4095;

// What a target receives for one message.
struct LogRecord {
  LogTime time;
  LogLevel level = kLogLevelOkay;
  uint32_t groups_low = 0;   // bits 0-31 of the group mask
  uint32_t groups_high = 0;  // bits 32-63 of the group mask
  // NUL-terminated, at most `kMaxLogMessageLength` characters; never nullptr in
  // records built by the logger. Not owned.
  const char* message = nullptr;

  uint64_t groups() const { return (uint64_t{groups_high} << 32) | groups_low; }
};
// The text pointer is the only pointer-sized field; it sits last so that the
// offsets of every other field are the same on 32- and 64-bit builds.
static_assert(offsetof(LogRecord, time) == 0);
static_assert(offsetof(LogRecord, level) == 28);
static_assert(offsetof(LogRecord, groups_low) == 32);
static_assert(offsetof(LogRecord, groups_high) == 36);
static_assert(offsetof(LogRecord, message) == 40);
static_assert(sizeof(LogRecord) == 40 + sizeof(const char*));

// Builds a record stamped with `time`; `message` is borrowed, not copied, and
// may be null (written as "").
inline LogRecord MakeLogRecord(LogLevel level, uint64_t groups, const char* message,
                               const LogTime& time = LogTime{}) {
  LogRecord record;
  record.time = time;
  record.level = level;
  record.groups_low = static_cast<uint32_t>(groups);
  record.groups_high = static_cast<uint32_t>(groups >> 32);
  record.message = message;
  return record;
}

}  // namespace Kestrel

#endif  // VYN_LOG_LOG_RECORD_H_
