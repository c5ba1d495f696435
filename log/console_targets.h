// The three console targets the logger owns: standard error, standard output
// and the debugger output.
//
// Each formats a record with its own line format into a 4096-byte buffer
// (`FormatLine`) and writes the line under its own lock. The two stream
// targets write to the process's standard streams unless a test hands them
// another stream; the stream is borrowed, never closed.
//
//   StdOutLogTarget out(LoggerHome());
//   out.SetStream(capture_file);
//   out.Configure(kLogLevelOkay, 0, 0, "#M");
#ifndef VYN_LOG_CONSOLE_TARGETS_H_
#define VYN_LOG_CONSOLE_TARGETS_H_

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "log/log_target.h"

namespace Kestrel {

// Common base of the console targets; adds nothing but the name and makes
// `Flush` abstract again.
class BaseConsoleLogTarget : public LogTarget {
 public:
  // `home` must outlive the target (see `LogTarget`).
  explicit BaseConsoleLogTarget(const LogTargetHome& home) : LogTarget(home) {}
  const char* Name() const override;
  bool Write(const LogRecord& record) override = 0;
  void Flush() override = 0;
};

// A console target that writes to a C stream (standard error or output).
class StreamLogTarget : public BaseConsoleLogTarget {
 public:
  // Writes to `stream` from now on; nullptr goes back to the standard stream.
  // Install it before lines are written: the swap is not synchronised with them.
  void SetStream(std::FILE* stream) { stream_ = stream; }

 protected:
  StreamLogTarget(const LogTargetHome& home, std::FILE* standard_stream)
      : BaseConsoleLogTarget(home), standard_(standard_stream) {}
  std::FILE* stream() const { return stream_ != nullptr ? stream_ : standard_; }
  // Formats `record` and writes the line under the target's lock. Returns true.
  bool WriteLine(const LogRecord& record, bool flush);

 private:
  std::FILE* standard_;
  std::FILE* stream_ = nullptr;
};

class StdErrLogTarget : public StreamLogTarget {
 public:
  explicit StdErrLogTarget(const LogTargetHome& home);
  const char* Name() const override;
  bool Write(const LogRecord& record) override;
  void Flush() override;
};

class StdOutLogTarget : public StreamLogTarget {
 public:
  explicit StdOutLogTarget(const LogTargetHome& home);
  const char* Name() const override;
  // Writes the line and, when the flush flag is 1, flushes the stream.
  bool Write(const LogRecord& record) override;
  void Flush() override;

  // 1: flush after every line; any other value: leave it to the stream.
  void SetFlushFlag(int32_t flag) { flush_flag_.store(flag, std::memory_order_relaxed); }
  int32_t flush_flag() const { return flush_flag_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int32_t> flush_flag_{0};
};

// Writes each line to the debugger output (`Platform::WriteDebugOutput`).
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
 public:
  using BaseConsoleLogTarget::BaseConsoleLogTarget;
  const char* Name() const override;
  bool Write(const LogRecord& record) override;
  // The debugger output keeps nothing back; there is nothing to flush.
  void Flush() override;
};

}  // namespace Kestrel

#endif  // VYN_LOG_CONSOLE_TARGETS_H_
