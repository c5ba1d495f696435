// Log targets: where the logger's records end up.
//
// The logger knows a target only by its `LogTargetTable`, a table of twelve
// plain functions that each take the table first. A target may therefore live
// in another module; it is attached to the logger (and found by name) through
// its table alone. `LogTarget` is the C++ base of this module's targets: it
// embeds its own table, keeps the level, group filters and line format, and
// leaves `Write` to the concrete class. The object owns its table; the logger
// only refers to it while the target is attached, and destroying a target
// detaches it first.
//
// A target does not know the logger: it is given the `LogTargetHome` it
// attaches to when it is made (the logger's is `LoggerHome()`, logger.h), and
// the home takes and drops its table.
//
//   class MyTarget : public LogTarget { bool Write(const LogRecord& r) override; };
//   MyTarget target(LoggerHome());
//   target.Configure(kLogLevelOkay, 0, 0, "#L| #M");   // attaches it
#ifndef VYN_LOG_LOG_TARGET_H_
#define VYN_LOG_LOG_TARGET_H_

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "log/log_record.h"

namespace Kestrel {

// The plain-function view of one target. Entries may not be nullptr, except
// `Write`, whose absence makes the logger skip the target. Every entry takes
// the table itself first, never nullptr; `Write` answers false for a null
// `record`.
struct LogTargetTable {
  uint32_t (*InterfaceVersion)(LogTargetTable* table);  // 1
  void (*SetLevel)(LogTargetTable* table, LogLevel level);
  LogLevel (*GetLevel)(LogTargetTable* table);
  // Stores the exclude mask unchanged and the include mask without the bits
  // that are also excluded.
  void (*SetGroups)(LogTargetTable* table, uint32_t include_low, uint32_t include_high,
                    uint32_t exclude_low, uint32_t exclude_high);
  uint64_t (*GetIncludeGroups)(LogTargetTable* table);
  uint64_t (*GetExcludeGroups)(LogTargetTable* table);
  const char* (*Name)(LogTargetTable* table);    // never nullptr
  const char* (*Format)(LogTargetTable* table);  // never nullptr
  void (*Attach)(LogTargetTable* table);
  void (*Detach)(LogTargetTable* table);
  uint8_t (*IsAttached)(LogTargetTable* table);
  bool (*Write)(LogTargetTable* table, const LogRecord* record);
  // The object behind the table; opaque to the logger.
  void* object;
};
static_assert(sizeof(LogTargetTable) == 13 * sizeof(void*));
static_assert(offsetof(LogTargetTable, InterfaceVersion) == 0);
static_assert(offsetof(LogTargetTable, Write) == 11 * sizeof(void*));
static_assert(offsetof(LogTargetTable, object) == 12 * sizeof(void*));

inline constexpr uint32_t kLogTargetInterfaceVersion = 1;

// Returns true when a target with `level`, `include` and `exclude` groups takes
// `record`: the record's level is not below the target's, its groups (if any)
// share no bit with `exclude`, and `include` is 0 or shares a bit with them.
// A record without groups passes both group tests.
bool TargetAccepts(LogLevel level, uint64_t include, uint64_t exclude, const LogRecord& record);

// Where a target attaches: a list of tables behind one recursive lock. A
// target takes the lock, then its own; `add` appends a table (making the list
// when there is none) and `remove` drops every occurrence of one (nothing
// when there is no list). The functions are never nullptr and are called with
// `lock` held; they may be called from any thread.
struct LogTargetHome {
  std::recursive_mutex& (*lock)();
  void (*add)(LogTargetTable* table);
  void (*remove)(LogTargetTable* table);
};

// Base of this module's targets. Not copyable; its table points back at it.
class LogTarget {
 public:
  // `home` is where the target attaches; it must outlive the target.
  explicit LogTarget(const LogTargetHome& home);
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;
  // Detaches the target from the logger first. A derived class whose `Write`
  // uses its own members calls `Detach()` in its own destructor, so that no
  // record reaches it half destroyed.
  virtual ~LogTarget();

  // Removes the target from its home's targets and clears the attached mark.
  // Safe to call when it is not attached.
  virtual void Detach();
  // Returns the target's class name. Never nullptr.
  virtual const char* Name() const;
  // Returns the line format. Never nullptr; valid until the next `Configure`.
  virtual const char* Format() const;
  // Writes one record; returns true when the target took it.
  virtual bool Write(const LogRecord& record) = 0;
  // Pushes out anything buffered. The base has nothing to flush.
  virtual void Flush() {}

  // Appends the target to its home's targets unless it is attached already
  // (the logger's home creates the logger if there is none).
  void Attach();
  bool attached() const { return attached_.load(std::memory_order_acquire) != 0; }

  // Applies level, include and exclude groups (see `LogTargetTable::SetGroups`)
  // and line format (nullptr keeps the current one) at once, then attaches the
  // target. Lines being written meanwhile see either the old or the new settings.
  void Configure(LogLevel level, uint64_t include, uint64_t exclude, const char* format);

  // Replaces the line format; nullptr is ignored. Does not attach the target.
  void SetFormat(const char* format);

  void SetLevel(LogLevel level) { level_.store(level, std::memory_order_relaxed); }
  LogLevel level() const { return level_.load(std::memory_order_relaxed); }
  void SetGroups(uint64_t include, uint64_t exclude);
  uint64_t include_groups() const { return include_.load(std::memory_order_relaxed); }
  uint64_t exclude_groups() const { return exclude_.load(std::memory_order_relaxed); }

  // Returns the table that stands for this target. Never nullptr.
  LogTargetTable* table() { return &table_; }
  // Returns the target behind `table` when the table belongs to a `LogTarget`
  // of this module, nullptr otherwise (also for a nullptr `table`).
  static LogTarget* FromTable(LogTargetTable* table);

 protected:
  // Guards the line format and each `Write` of a concrete target. Taken after
  // the home's lock, never before it.
  std::mutex& lock() const { return lock_; }

 private:
  const LogTargetHome& home_;
  LogTargetTable table_;
  std::atomic<uint8_t> attached_{0};
  mutable std::mutex lock_;
  std::atomic<LogLevel> level_{kLogLevelWarn};
  std::atomic<uint64_t> include_{0};
  std::atomic<uint64_t> exclude_{0};
  std::string format_;

  friend struct LogTargetTableEntries;
};

}  // namespace Kestrel

#endif  // VYN_LOG_LOG_TARGET_H_
