#include "platform/process_info.h"

#include <windows.h>

#include <psapi.h>

#include <vector>

#include "platform/windows_text.h"

namespace Kestrel::Platform {

std::string ExecutablePath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) return NarrowToUtf8(std::wstring_view(path.data(), length));
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
}

uint32_t CurrentThreadId() {
  return GetCurrentThreadId();
}

LocalTime LocalTimeNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime local;
  local.year = now.wYear;
  local.month = now.wMonth;
  local.day = now.wDay;
  local.hour = now.wHour;
  local.minute = now.wMinute;
  local.second = now.wSecond;
  local.millisecond = now.wMilliseconds;
  return local;
}

int64_t HighResolutionCounter() {
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

int64_t HighResolutionFrequency() {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return frequency.QuadPart > 0 ? frequency.QuadPart : 1;
}

uint64_t ResidentBytes() {
  // The KERNEL32 export (K32...), so the library imports no PSAPI.dll.
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof(counters);
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return counters.WorkingSetSize;
}

}  // namespace Kestrel::Platform
