// Turning a `LogRecord` into one line of text, and the small texts a line is
// made of (level names, timestamps, the process name).
//
// A line format is plain text in which "#" followed by a code expands:
//   #D  the record's local time, `FormatTimestamp` ("2024-05-01T13:02:03.004")
//   #E  the process name (`ProcessName`)
//   #G  the record's group names (`GroupNames`, "DBG;NET")
//   #H  seconds since the first "#H" expansion of the process, "%06d.%03d"
//   #L  the level name, six characters right-aligned ("  WARN")
//   #M  the message
//   #T  the calling thread's id, eight upper-case hexadecimal digits
//   #x  any other character x stands for itself ("##" gives "#"); a "#" that
//       ends the format is written as "#".
// Every formatted line ends with exactly one newline. Nothing here allocates.
//
//   char line[kLogLineBufferSize];
//   FormatLine(line, sizeof(line), "#D| #L| #G| #M", record);
#ifndef VYN_LOG_LOG_FORMAT_H_
#define VYN_LOG_LOG_FORMAT_H_

#include <cstddef>

#include "log/log_record.h"

namespace Kestrel {

// The format of lines when a target was given none.
inline constexpr const char* kDefaultLineFormat = "#D| #L| #G| #M";

// Size of the buffer the console targets format a line into.
inline constexpr std::size_t kLogLineBufferSize = 4096;

// Size of the buffer that holds the process name, NUL included.
inline constexpr std::size_t kProcessNameBufferSize = 1024;

// Returns the name of `level`: "  OKAY", "  WARN", " ERROR", "ALWAYS" for 0 to 3
// and "  ????" for any other value. Never nullptr.
const char* LevelName(LogLevel level);

// Writes `time` as "%04d-%02d-%02dT%02d:%02d:%02d.%03d" into `buffer` (cut to
// `size`) and returns the characters written; nullptr or size 0 writes nothing.
std::size_t FormatTimestamp(char* buffer, std::size_t size, const LogTime& time);

// Writes `time` as "%04d-%02d-%02dT%02d-%02d-%02d" (no milliseconds; fit for a
// file name) into `buffer` (cut to `size`) and returns the characters written;
// nullptr or size 0 writes nothing.
std::size_t FormatFileTimestamp(char* buffer, std::size_t size, const LogTime& time);

// Copies the file-name part of `path` (what follows its last "/" or "\", the
// whole path when it has neither) into `buffer`, cut to `size`, and returns the
// characters written. A nullptr `path` gives "".
std::size_t ExtractProcessName(const char* path, char* buffer, std::size_t size);

// Returns the file-name part of the running executable's path, read once per
// process; "" when the path is unknown. Never nullptr.
const char* ProcessName();

// Returns the local time now as the seven record fields.
LogTime LocalTimeNow();

// Expands `format` (nullptr counts as "") for `record` into `buffer` and returns
// the length of the line. Two bytes of `size` are kept for the final newline
// and NUL: the text is cut at `size` - 2 characters, then a newline is appended
// unless the text already ends with one. An empty format gives "\n". A nullptr
// `buffer` or a `size` below 2 gives no line (the buffer, if any, gets "").
std::size_t FormatLine(char* buffer, std::size_t size, const char* format, const LogRecord& record);

}  // namespace Kestrel

#endif  // VYN_LOG_LOG_FORMAT_H_
