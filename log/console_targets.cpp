#include "log/console_targets.h"

#include <mutex>

#include "log/log_format.h"
#include "platform/debug_output.h"

namespace Kestrel {

const char* BaseConsoleLogTarget::Name() const {
  return "BaseConsoleLogTarget";
}

bool StreamLogTarget::WriteLine(const LogRecord& record, bool flush) {
  char line[kLogLineBufferSize];
  std::lock_guard<std::mutex> guard(lock());
  FormatLine(line, sizeof(line), Format(), record);
  std::FILE* out = stream();
  std::fputs(line, out);
  if (flush) std::fflush(out);
  return true;
}

StdErrLogTarget::StdErrLogTarget(const LogTargetHome& home) : StreamLogTarget(home, stderr) {}

const char* StdErrLogTarget::Name() const {
  return "StdErrLogTarget";
}

bool StdErrLogTarget::Write(const LogRecord& record) {
  return WriteLine(record, false);
}

void StdErrLogTarget::Flush() {
  std::fflush(stream());
}

StdOutLogTarget::StdOutLogTarget(const LogTargetHome& home) : StreamLogTarget(home, stdout) {}

const char* StdOutLogTarget::Name() const {
  return "StdOutLogTarget";
}

bool StdOutLogTarget::Write(const LogRecord& record) {
  return WriteLine(record, flush_flag() == 1);
}

void StdOutLogTarget::Flush() {
  std::fflush(stream());
}

const char* DebuggerConsoleLogTarget::Name() const {
  return "DebuggerConsoleLogTarget";
}

bool DebuggerConsoleLogTarget::Write(const LogRecord& record) {
  char line[kLogLineBufferSize];
  std::lock_guard<std::mutex> guard(lock());
  FormatLine(line, sizeof(line), Format(), record);
  Platform::WriteDebugOutput(line);
  return true;
}

void DebuggerConsoleLogTarget::Flush() {}

}  // namespace Kestrel
