#include "log/log_format.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

#include "log/log_groups.h"
#include "platform/process_info.h"

namespace Kestrel {
namespace {

// Appends text to a fixed buffer until `capacity` characters are used; the
// caller keeps room for the newline and the NUL beyond `capacity`.
class LineWriter {
 public:
  LineWriter(char* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  bool full() const { return length_ >= capacity_; }
  std::size_t length() const { return length_; }

  void Put(char c) {
    if (!full()) buffer_[length_++] = c;
  }
  void Append(const char* text) {
    for (; *text != '\0' && !full(); ++text) buffer_[length_++] = *text;
  }

 private:
  char* buffer_;
  std::size_t capacity_;
  std::size_t length_ = 0;
};

std::size_t ClampWritten(int written, std::size_t size) {
  if (written < 0) return 0;
  return static_cast<std::size_t>(written) < size ? static_cast<std::size_t>(written) : size - 1;
}

// The logging clock behind "#H": its first reading is taken at the first
// expansion, and later expansions show the time since then.
int64_t ClockStart() {
  static const int64_t start = Platform::HighResolutionCounter();
  return start;
}

void FormatClock(char* buffer, std::size_t size) {
  const int64_t start = ClockStart();
  const int64_t frequency = Platform::HighResolutionFrequency();
  const int64_t ticks = Platform::HighResolutionCounter() - start;
  const int64_t seconds = ticks / frequency;
  const int64_t milliseconds = (ticks % frequency) * 1000 / frequency;
  std::snprintf(buffer, size, "%06d.%03d", static_cast<int>(seconds),
                static_cast<int>(milliseconds));
}

}  // namespace

const char* LevelName(LogLevel level) {
  static constexpr const char* kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  static_assert(std::size(kNames) == kLogLevelAlways + 1);
  if (level < kLogLevelOkay || level > kLogLevelAlways) return "  ????";
  return kNames[level];
}

std::size_t FormatTimestamp(char* buffer, std::size_t size, const LogTime& time) {
  if (buffer == nullptr || size == 0) return 0;
  const int written =
      std::snprintf(buffer, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", static_cast<int>(time.year),
                    static_cast<int>(time.month), static_cast<int>(time.day),
                    static_cast<int>(time.hour), static_cast<int>(time.minute),
                    static_cast<int>(time.second), static_cast<int>(time.millisecond));
  return ClampWritten(written, size);
}

std::size_t FormatFileTimestamp(char* buffer, std::size_t size, const LogTime& time) {
  if (buffer == nullptr || size == 0) return 0;
  const int written = std::snprintf(buffer, size, "%04d-%02d-%02dT%02d-%02d-%02d",
                                    static_cast<int>(time.year), static_cast<int>(time.month),
                                    static_cast<int>(time.day), static_cast<int>(time.hour),
                                    static_cast<int>(time.minute), static_cast<int>(time.second));
  return ClampWritten(written, size);
}

std::size_t ExtractProcessName(const char* path, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const char* name = path == nullptr ? "" : path;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c == '/' || *c == '\\') name = c + 1;
  }
  std::size_t length = 0;
  for (; name[length] != '\0' && length + 1 < size; ++length) buffer[length] = name[length];
  buffer[length] = '\0';
  return length;
}

const char* ProcessName() {
  static char name[kProcessNameBufferSize] = {};
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string path = Platform::ExecutablePath();
    ExtractProcessName(path.c_str(), name, sizeof(name));
  });
  return name;
}

LogTime LocalTimeNow() {
  const Platform::LocalTime now = Platform::LocalTimeNow();
  LogTime time;
  time.year = now.year;
  time.month = now.month;
  time.day = now.day;
  time.hour = now.hour;
  time.minute = now.minute;
  time.second = now.second;
  time.millisecond = now.millisecond;
  return time;
}

std::size_t FormatLine(char* buffer, std::size_t size, const char* format,
                       const LogRecord& record) {
  if (buffer == nullptr) return 0;
  if (size < 2) {
    if (size == 1) buffer[0] = '\0';
    return 0;
  }
  LineWriter out(buffer, size - 2);
  char field[kGroupNamesBufferSize];
  for (const char* p = format == nullptr ? "" : format; *p != '\0' && !out.full(); ++p) {
    if (*p != '#') {
      out.Put(*p);
      continue;
    }
    const char code = *++p;
    if (code == '\0') {
      out.Put('#');
      break;
    }
    switch (code) {
      case 'D':
        FormatTimestamp(field, sizeof(field), record.time);
        out.Append(field);
        break;
      case 'E':
        out.Append(ProcessName());
        break;
      case 'G':
        GroupNames(field, sizeof(field), record.groups());
        out.Append(field);
        break;
      case 'H':
        FormatClock(field, sizeof(field));
        out.Append(field);
        break;
      case 'L':
        out.Append(LevelName(record.level));
        break;
      case 'M':
        out.Append(record.message == nullptr ? "" : record.message);
        break;
      case 'T':
        std::snprintf(field, sizeof(field), "%08" PRIX32, Platform::CurrentThreadId());
        out.Append(field);
        break;
      default:
        out.Put(code);
        break;
    }
  }
  std::size_t length = out.length();
  if (length == 0 || buffer[length - 1] != '\n') buffer[length++] = '\n';
  buffer[length] = '\0';
  return length;
}

}  // namespace Kestrel
