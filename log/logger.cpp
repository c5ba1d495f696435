#include "log/logger.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "log/console_targets.h"
#include "log/log_format.h"
#include "log/log_groups.h"

namespace Kestrel {
namespace {

// Everything below is guarded by `LoggerLock()`.
struct Logger {
  std::vector<LogTargetTable*> targets;  // registration order; not owned
  uint8_t muted = 0;
  uint8_t secondary_flag = 0;
  LogLevel level = kLogLevelWarn;
  uint64_t suppressed_groups = kLogGroupXtr;
  StdErrLogTarget std_err{LoggerHome()};
  StdOutLogTarget std_out{LoggerHome()};
  DebuggerConsoleLogTarget debugger{LoggerHome()};
};

Logger* g_logger = nullptr;
int g_users = 0;

void DestroyLogger();

// Destroys whatever logger exists at exit, or when the library holding the
// logger is unloaded: a logger made by a report alone (a refused handshake
// logs, but no module ever takes or releases a reference) would otherwise be
// lost with the library. Made with the first logger, so targets that attach
// later are gone before it runs; older ones find no logger when they detach.
struct LoggerReleaser {
  ~LoggerReleaser() {
    std::lock_guard<std::recursive_mutex> guard(LoggerLock());
    DestroyLogger();
  }
};

Logger* EnsureLogger() {
  if (g_logger != nullptr) return g_logger;
  static const LoggerReleaser releaser;
  ProcessName();  // read once, now, like the rest of the logger's facts
  g_logger = new Logger;
  Logger& logger = *g_logger;
  logger.std_err.SetFormat("#E(#T): #L| #M");
  logger.std_err.SetGroups(kLogGroupDbg, kLogGroupGen);
  logger.std_err.SetLevel(kLogLevelWarn);
  logger.std_out.SetFormat("#M");
  logger.std_out.SetGroups(kLogGroupGen, kLogGroupDbg);
  logger.std_out.SetLevel(kLogLevelWarn);
  logger.debugger.SetFormat("#E(#T): #L| #M");
  logger.debugger.SetGroups(kLogGroupDbg, 0);
  logger.debugger.SetLevel(kLogLevelWarn);
  logger.std_err.Attach();
  logger.debugger.Attach();
  return g_logger;
}

void DestroyLogger() {
  Logger* logger = g_logger;
  if (logger == nullptr) return;
  while (!logger->targets.empty()) {
    LogTargetTable* table = logger->targets.back();
    if (table->Detach != nullptr) table->Detach(table);
    // A foreign target whose detach did not remove itself must not keep the loop going.
    if (!logger->targets.empty() && logger->targets.back() == table) logger->targets.pop_back();
  }
  g_logger = nullptr;
  delete logger;  // the built-in targets find no logger to detach from
}

// Runs `action` on the logger under the lock when one exists; otherwise
// returns `fallback`.
template <typename Result, typename Action>
Result WithLogger(Result fallback, Action action) {
  std::lock_guard<std::recursive_mutex> guard(LoggerLock());
  if (g_logger == nullptr) return fallback;
  return action(*g_logger);
}

template <typename Action>
void WithLogger(Action action) {
  std::lock_guard<std::recursive_mutex> guard(LoggerLock());
  if (g_logger != nullptr) action(*g_logger);
}

uint32_t ApiInterfaceVersion() {
  return kLogApiInterfaceVersion;
}

void ApiAddRef() {
  std::lock_guard<std::recursive_mutex> guard(LoggerLock());
  ++g_users;
  EnsureLogger();
}

void ApiRelease() {
  std::lock_guard<std::recursive_mutex> guard(LoggerLock());
  if (g_users == 0) return;
  if (--g_users == 0) DestroyLogger();
}

void ApiSetLevel(LogLevel level) {
  WithLogger([&](Logger& logger) { logger.level = level; });
}
LogLevel ApiGetLevel() {
  return WithLogger(LogLevel{0}, [](Logger& logger) { return logger.level; });
}
void ApiSetSuppressedGroups(uint64_t groups) {
  WithLogger([&](Logger& logger) { logger.suppressed_groups = groups; });
}
uint64_t ApiGetSuppressedGroups() {
  return WithLogger(uint64_t{0}, [](Logger& logger) { return logger.suppressed_groups; });
}
void ApiMute() {
  WithLogger([](Logger& logger) { logger.muted = 1; });
}
void ApiUnmute() {
  WithLogger([](Logger& logger) { logger.muted = 0; });
}
void ApiSetSecondaryFlag() {
  WithLogger([](Logger& logger) { logger.secondary_flag = 1; });
}
void ApiClearSecondaryFlag() {
  WithLogger([](Logger& logger) { logger.secondary_flag = 0; });
}

void ApiAddTarget(LogTargetTable* table) {
  if (table == nullptr) return;
  WithLogger([&](Logger& logger) { logger.targets.push_back(table); });
}

void RemoveLoggerTarget(LogTargetTable* table) {
  if (table == nullptr) return;
  WithLogger([&](Logger& logger) { std::erase(logger.targets, table); });
}

void AttachLoggerTarget(LogTargetTable* table) {
  if (table == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(LoggerLock());
  EnsureLogger()->targets.push_back(table);
}

void ApiRemoveTarget(LogTargetTable* table) {
  RemoveLoggerTarget(table);
}

LogTargetTable* ApiFindTarget(const char* name) {
  if (name == nullptr) return nullptr;
  return WithLogger(static_cast<LogTargetTable*>(nullptr), [&](Logger& logger) -> LogTargetTable* {
    for (LogTargetTable* table : logger.targets) {
      const char* target_name = table->Name(table);
      if (target_name != nullptr && std::strcmp(target_name, name) == 0) {
        return table;
      }
    }
    return nullptr;
  });
}

LogTargetTable* ApiStdOutTarget() {
  return WithLogger(static_cast<LogTargetTable*>(nullptr),
                    [](Logger& logger) { return logger.std_out.table(); });
}
LogTargetTable* ApiStdErrTarget() {
  return WithLogger(static_cast<LogTargetTable*>(nullptr),
                    [](Logger& logger) { return logger.std_err.table(); });
}
LogTargetTable* ApiDebuggerTarget() {
  return WithLogger(static_cast<LogTargetTable*>(nullptr),
                    [](Logger& logger) { return logger.debugger.table(); });
}

uint64_t ApiGroupFromName(uint64_t* out, const char* name) {
  const uint64_t groups = GroupFromName(name);
  if (out != nullptr) *out = groups;
  return groups;
}

void ApiGroupNames(char* buffer, uint32_t size, uint64_t groups) {
  GroupNames(buffer, size, groups);
}

void ApiFormatLine(char* buffer, uint32_t size, const char* format, const LogRecord* record) {
  if (record == nullptr) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return;
  }
  FormatLine(buffer, size, format, *record);
}

const char* ApiLevelName(LogLevel level) {
  return LevelName(level);
}
const char* ApiProcessName() {
  return ProcessName();
}
LogTime ApiLocalTime() {
  return LocalTimeNow();
}

void ApiFormatTimestamp(char* buffer, uint32_t size, const LogTime* time) {
  if (time == nullptr) return;
  FormatTimestamp(buffer, size, *time);
}

void ApiFormatFileTimestamp(char* buffer, uint32_t size, const LogTime* time) {
  if (time == nullptr) return;
  FormatFileTimestamp(buffer, size, *time);
}

void ApiLogMessage(LogLevel level, uint32_t groups_low, uint32_t groups_high, const char* format,
                   va_list args) {
  LogMessageV(level, (uint64_t{groups_high} << 32) | groups_low, format, args);
}

constexpr LogApi kLogApi = {
    &ApiInterfaceVersion,
    &ApiAddRef,
    &ApiRelease,
    &ApiSetLevel,
    &ApiGetLevel,
    &ApiSetSuppressedGroups,
    &ApiGetSuppressedGroups,
    &ApiMute,
    &ApiUnmute,
    &ApiSetSecondaryFlag,
    &ApiClearSecondaryFlag,
    &ApiAddTarget,
    &ApiRemoveTarget,
    &ApiFindTarget,
    &ApiStdOutTarget,
    &ApiStdErrTarget,
    &ApiDebuggerTarget,
    &ApiGroupFromName,
    &ApiGroupNames,
    &ApiFormatLine,
    &ApiLevelName,
    &ApiProcessName,
    &ApiLocalTime,
    &ApiFormatTimestamp,
    &ApiFormatFileTimestamp,
    &ApiLogMessage,
};

}  // namespace

const LogApi* GetLogApi() {
  return &kLogApi;
}

std::recursive_mutex& LoggerLock() {
  // Built in place and never destroyed: targets that are static objects may
  // detach during exit, after function-local statics are gone.
  alignas(std::recursive_mutex) static unsigned char storage[sizeof(std::recursive_mutex)];
  static std::recursive_mutex* lock = new (storage) std::recursive_mutex;
  return *lock;
}

const LogTargetHome& LoggerHome() {
  static constexpr LogTargetHome kHome{&LoggerLock, &AttachLoggerTarget, &RemoveLoggerTarget};
  return kHome;
}

bool LoggerExists() {
  std::lock_guard<std::recursive_mutex> guard(LoggerLock());
  return g_logger != nullptr;
}

void LogMessage(LogLevel level, uint64_t groups, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogMessageV(level, groups, format, args);
  va_end(args);
}

void LogMessageV(LogLevel level, uint64_t groups, const char* format, va_list args) {
  std::lock_guard<std::recursive_mutex> guard(LoggerLock());
  const Logger* logger = EnsureLogger();
  if (logger->muted != 0 || level < logger->level || (groups & logger->suppressed_groups) != 0) {
    return;
  }
  char message[kMaxLogMessageLength + 1];
  if (format == nullptr) {
    message[0] = '\0';
  } else {
    std::vsnprintf(message, sizeof(message), format, args);
  }
  const LogRecord record = MakeLogRecord(level, groups, message, LocalTimeNow());
  // Indexed and re-read each time: a target may detach itself, or drop the
  // last reference to the logger, while it writes.
  for (std::size_t index = 0; g_logger != nullptr && index < g_logger->targets.size(); ++index) {
    LogTargetTable* table = g_logger->targets[index];
    if (table->Write == nullptr) continue;
    if (!TargetAccepts(table->GetLevel(table), table->GetIncludeGroups(table),
                       table->GetExcludeGroups(table), record)) {
      continue;
    }
    table->Write(table, &record);
  }
}

}  // namespace Kestrel
