// A log target that keeps what it receives, for tests of code that logs.
//
// It records each accepted record (level, groups, message) and the line its
// format gives. It attaches to the logger with `Configure` (or `Attach`) and
// detaches itself when destroyed. Not meant for production use: it grows without bound.
//
//   CapturingLogTarget capture;
//   capture.Configure(kLogLevelOkay, 0, 0, "#L| #M");
//   LogMessage(kLogLevelError, kLogGroupGen, "x");   // capture.lines() == {" ERROR| x\n"}
#ifndef VYN_TESTS_SUPPORT_CAPTURING_LOG_TARGET_H_
#define VYN_TESTS_SUPPORT_CAPTURING_LOG_TARGET_H_

#include <mutex>
#include <string>
#include <vector>

#include "log/log_format.h"
#include "log/log_target.h"
#include "log/logger.h"

namespace Kestrel {

class CapturingLogTarget : public LogTarget {
 public:
  struct Entry {
    LogLevel level;
    uint64_t groups;
    std::string message;
  };

  // `name` must outlive the target; nullptr gives "CapturingLogTarget".
  explicit CapturingLogTarget(const char* name = nullptr)
      : LogTarget(LoggerHome()), name_(name != nullptr ? name : "CapturingLogTarget") {}
  ~CapturingLogTarget() override { Detach(); }

  const char* Name() const override { return name_; }

  bool Write(const LogRecord& record) override {
    char line[kLogLineBufferSize];
    std::lock_guard<std::mutex> guard(lock());
    FormatLine(line, sizeof(line), Format(), record);
    lines_.push_back(line);
    entries_.push_back({record.level, record.groups(), record.message ? record.message : ""});
    return true;
  }

  // Copies of what was written so far.
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> guard(lock());
    return lines_;
  }
  std::vector<Entry> entries() const {
    std::lock_guard<std::mutex> guard(lock());
    return entries_;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(lock());
    lines_.clear();
    entries_.clear();
  }

 private:
  const char* name_;
  std::vector<std::string> lines_;
  std::vector<Entry> entries_;
};

}  // namespace Kestrel

#endif  // VYN_TESTS_SUPPORT_CAPTURING_LOG_TARGET_H_
