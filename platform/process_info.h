// Facts about the running process that the logger stamps on its lines:
// the executable's path, the calling thread's id, the local time and a
// high-resolution counter. None of these can fail in a way callers handle;
// each returns a neutral value (empty text, zero) when the system has none.
#ifndef VYN_PLATFORM_PROCESS_INFO_H_
#define VYN_PLATFORM_PROCESS_INFO_H_

#include <cstdint>
#include <string>

namespace Kestrel::Platform {

// Local wall-clock time broken into its fields (month 1-12, day 1-31).
struct LocalTime {
  int32_t year = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t hour = 0;
  int32_t minute = 0;
  int32_t second = 0;
  int32_t millisecond = 0;
};

// The ending of a program's file name on this system.
#ifdef _WIN32
inline constexpr char kExecutableSuffix[] = ".exe";
#else
inline constexpr char kExecutableSuffix[] = "";
#endif

// Returns the absolute path of the running executable; empty when unknown.
std::string ExecutablePath();

// Returns the numeric id of the calling thread (the kernel's thread id).
uint32_t CurrentThreadId();

// Returns the local time now.
LocalTime LocalTimeNow();

// Returns a monotonic counter value; `HighResolutionFrequency` ticks make one second.
int64_t HighResolutionCounter();

// Returns the counter's ticks per second (never 0).
int64_t HighResolutionFrequency();

// Returns the process's resident memory in bytes, as the system counts it;
// 0 when unknown.
uint64_t ResidentBytes();

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_PROCESS_INFO_H_
