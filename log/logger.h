// The process-wide logger and `LogApi`, the table of plain functions through
// which the rest of the plugin (and targets in other modules) logs.
//
// There is one logger per process. It is created by the first `AddRef`, the
// first `LogMessage` or the first target attached, and destroyed by the last
// `Release`. It filters each message by its muted flag, level threshold
// (default 1) and suppressed groups (default "XTR"), stamps it with the local
// time and offers the record, in registration order, to every registered
// target that accepts it (`TargetAccepts`). It owns three console targets:
// standard error and the debugger output (attached at creation) and standard
// output (not attached). Everything is guarded by one recursive lock; a
// target's own lock is always taken after it.
//
//   const LogApi* api = GetLogApi();
//   api->AddRef();
//   LogMessage(kLogLevelError, kLogGroupGen, "lost %d frames", count);
//   api->Release();
#ifndef VYN_LOG_LOGGER_H_
#define VYN_LOG_LOGGER_H_

#include <cstdarg>
#include <cstdint>
#include <mutex>

#include "log/log_record.h"
#include "log/log_target.h"

namespace Kestrel {

// The logging interface, 26 entries in this order. Sizes are 32-bit so the
// table reads the same from any module. Entries from `SetLevel` to
// `DebuggerTarget` act on the logger: with no logger they change nothing and
// return 0 or nullptr, so a user takes a reference with `AddRef` first.
struct LogApi {
  uint32_t (*InterfaceVersion)();  // 1
  // Counts a user; the first creates the logger if there is none.
  void (*AddRef)();
  // Drops a user; the last destroys the logger. Without users it does nothing.
  void (*Release)();
  void (*SetLevel)(LogLevel level);
  LogLevel (*GetLevel)();
  void (*SetSuppressedGroups)(uint64_t groups);
  uint64_t (*GetSuppressedGroups)();
  // Set and clear the muted flag: while it is set every message is dropped.
  void (*Mute)();
  void (*Unmute)();
  // Set and clear the secondary flag, which has no effect on logging.
  void (*SetSecondaryFlag)();
  void (*ClearSecondaryFlag)();
  // Appends `table` to the targets, duplicates included; nullptr is ignored.
  // Does not touch the target's attached mark.
  void (*AddTarget)(LogTargetTable* table);
  // Removes every occurrence of `table` from the targets; nullptr is ignored.
  void (*RemoveTarget)(LogTargetTable* table);
  // Returns the first registered target whose name equals `name` byte for byte,
  // or nullptr.
  LogTargetTable* (*FindTarget)(const char* name);
  // The built-in targets, attached or not.
  LogTargetTable* (*StdOutTarget)();
  LogTargetTable* (*StdErrTarget)();
  LogTargetTable* (*DebuggerTarget)();
  // Returns `GroupFromName(name)` and stores it through `out` unless nullptr;
  // a null `name` gives 0.
  uint64_t (*GroupFromName)(uint64_t* out, const char* name);
  // The text functions of log_groups.h and log_format.h. A null `buffer`
  // writes nothing; a null `format` counts as ""; a null `record` writes ""
  // and a null `time` nothing. The names returned are never nullptr and live
  // for the process.
  void (*GroupNames)(char* buffer, uint32_t size, uint64_t groups);
  void (*FormatLine)(char* buffer, uint32_t size, const char* format, const LogRecord* record);
  const char* (*LevelName)(LogLevel level);
  const char* (*ProcessName)();
  LogTime (*LocalTime)();
  void (*FormatTimestamp)(char* buffer, uint32_t size, const LogTime* time);
  void (*FormatFileTimestamp)(char* buffer, uint32_t size, const LogTime* time);
  // Logs a printf-style message (a null `format` counts as ""); see `LogMessage`.
  void (*LogMessage)(LogLevel level, uint32_t groups_low, uint32_t groups_high, const char* format,
                     va_list args);
};
static_assert(sizeof(LogApi) == 26 * sizeof(void (*)()));
static_assert(offsetof(LogApi, LogMessage) == 25 * sizeof(void (*)()));

inline constexpr uint32_t kLogApiInterfaceVersion = 1;

// Returns the logging interface. Never nullptr; the table lives for the process.
const LogApi* GetLogApi();

// Logs `format` (printf-style, nullptr counts as "") with its arguments at
// `level` in `groups`, creating the logger if needed. The message is cut at
// 4095 characters. Never fails; any thread may call it. `LogMessageV` is the
// same with the arguments in `args`.
void LogMessage(LogLevel level, uint64_t groups, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void LogMessageV(LogLevel level, uint64_t groups, const char* format, va_list args);

// The logger's recursive lock. It outlives every logger so that a message
// logged while the last user releases the logger never meets a destroyed lock.
std::recursive_mutex& LoggerLock();

// The logger as the home of `LogTarget`s: its lock, `add` appends a table to
// the logger's targets (creating the logger if there is none) and `remove`
// drops it (nothing when there is no logger). Lives for the process; any
// thread may use it.
const LogTargetHome& LoggerHome();

// Returns true while a logger exists.
bool LoggerExists();

}  // namespace Kestrel

#endif  // VYN_LOG_LOGGER_H_
