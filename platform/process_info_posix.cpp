#include "platform/process_info.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

namespace Kestrel::Platform {

std::string ExecutablePath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) return std::string();
  return std::string(path, static_cast<std::size_t>(length));
}

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

LocalTime LocalTimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  time_t seconds = now.tv_sec;
  tm fields{};
  localtime_r(&seconds, &fields);
  LocalTime local;
  local.year = fields.tm_year + 1900;
  local.month = fields.tm_mon + 1;
  local.day = fields.tm_mday;
  local.hour = fields.tm_hour;
  local.minute = fields.tm_min;
  local.second = fields.tm_sec;
  local.millisecond = static_cast<int32_t>(now.tv_nsec / 1000000);
  return local;
}

int64_t HighResolutionCounter() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t HighResolutionFrequency() {
  return 1000000000;
}

uint64_t ResidentBytes() {
  // /proc/self/statm: total and resident size in pages, then more fields.
  FILE* file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr) return 0;
  unsigned long long total = 0;
  unsigned long long resident = 0;
  const int read = std::fscanf(file, "%llu %llu", &total, &resident);
  std::fclose(file);
  const long page = sysconf(_SC_PAGESIZE);
  if (read != 2 || page <= 0) return 0;
  return resident * static_cast<uint64_t>(page);
}

}  // namespace Kestrel::Platform
