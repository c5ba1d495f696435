#include "log/log_target.h"

#include "log/log_format.h"

namespace Kestrel {

// The twelve entries of every `LogTarget`'s table. Each recovers the object
// from the table's `object` field.
struct LogTargetTableEntries {
  static LogTarget& Self(LogTargetTable* table) { return *static_cast<LogTarget*>(table->object); }

  static uint32_t InterfaceVersion(LogTargetTable*) { return kLogTargetInterfaceVersion; }
  static void SetLevel(LogTargetTable* table, LogLevel level) { Self(table).SetLevel(level); }
  static LogLevel GetLevel(LogTargetTable* table) { return Self(table).level(); }
  static void SetGroups(LogTargetTable* table, uint32_t include_low, uint32_t include_high,
                        uint32_t exclude_low, uint32_t exclude_high) {
    Self(table).SetGroups((uint64_t{include_high} << 32) | include_low,
                          (uint64_t{exclude_high} << 32) | exclude_low);
  }
  static uint64_t GetIncludeGroups(LogTargetTable* table) { return Self(table).include_groups(); }
  static uint64_t GetExcludeGroups(LogTargetTable* table) { return Self(table).exclude_groups(); }
  static const char* Name(LogTargetTable* table) { return Self(table).Name(); }
  static const char* Format(LogTargetTable* table) { return Self(table).Format(); }
  static void Attach(LogTargetTable* table) { Self(table).Attach(); }
  static void Detach(LogTargetTable* table) { Self(table).Detach(); }
  static uint8_t IsAttached(LogTargetTable* table) { return Self(table).attached() ? 1 : 0; }
  static bool Write(LogTargetTable* table, const LogRecord* record) {
    return record != nullptr && Self(table).Write(*record);
  }
};

bool TargetAccepts(LogLevel level, uint64_t include, uint64_t exclude, const LogRecord& record) {
  if (record.level < level) return false;
  const uint64_t groups = record.groups();
  if (groups == 0) return true;
  if ((groups & exclude) != 0) return false;
  return include == 0 || (groups & include) != 0;
}

LogTarget::LogTarget(const LogTargetHome& home) : home_(home), format_(kDefaultLineFormat) {
  table_.InterfaceVersion = &LogTargetTableEntries::InterfaceVersion;
  table_.SetLevel = &LogTargetTableEntries::SetLevel;
  table_.GetLevel = &LogTargetTableEntries::GetLevel;
  table_.SetGroups = &LogTargetTableEntries::SetGroups;
  table_.GetIncludeGroups = &LogTargetTableEntries::GetIncludeGroups;
  table_.GetExcludeGroups = &LogTargetTableEntries::GetExcludeGroups;
  table_.Name = &LogTargetTableEntries::Name;
  table_.Format = &LogTargetTableEntries::Format;
  table_.Attach = &LogTargetTableEntries::Attach;
  table_.Detach = &LogTargetTableEntries::Detach;
  table_.IsAttached = &LogTargetTableEntries::IsAttached;
  table_.Write = &LogTargetTableEntries::Write;
  table_.object = this;
}

LogTarget::~LogTarget() {
  // Not the virtual `Detach`: the derived part is already gone.
  LogTarget::Detach();
}

void LogTarget::Detach() {
  std::lock_guard<std::recursive_mutex> guard(home_.lock());
  attached_.store(0, std::memory_order_release);
  // Removed even when the mark is clear: a table added with `AddTarget` alone
  // must not stay behind in the logger once its object is gone.
  home_.remove(&table_);
}

const char* LogTarget::Name() const {
  return "LogTarget";
}

const char* LogTarget::Format() const {
  return format_.c_str();
}

void LogTarget::Attach() {
  std::lock_guard<std::recursive_mutex> guard(home_.lock());
  if (attached()) return;
  attached_.store(1, std::memory_order_release);
  home_.add(&table_);
}

void LogTarget::SetFormat(const char* format) {
  if (format == nullptr) return;
  std::lock_guard<std::mutex> guard(lock_);
  format_ = format;
}

void LogTarget::SetGroups(uint64_t include, uint64_t exclude) {
  exclude_.store(exclude, std::memory_order_relaxed);
  include_.store(include & ~exclude, std::memory_order_relaxed);
}

void LogTarget::Configure(LogLevel level, uint64_t include, uint64_t exclude, const char* format) {
  // The home's lock first, then the target's own: the order every `Write` follows.
  std::lock_guard<std::recursive_mutex> home_guard(home_.lock());
  if (attached()) Detach();
  {
    std::lock_guard<std::mutex> guard(lock_);
    SetLevel(level);
    SetGroups(include, exclude);
    if (format != nullptr) format_ = format;
  }
  Attach();
}

LogTarget* LogTarget::FromTable(LogTargetTable* table) {
  if (table == nullptr || table->InterfaceVersion != &LogTargetTableEntries::InterfaceVersion) {
    return nullptr;
  }
  return static_cast<LogTarget*>(table->object);
}

}  // namespace Kestrel
