// Watching the system's debugger channel from inside the process, for tests:
// what a debugger attached to the process would show.
//
// On Windows, OutputDebugStringA raises the debug-print exception, and a
// capture sees it through a vectored exception handler, so it observes the
// real system call whichever module in the process made it. Linux has no
// such channel and nothing to watch: `IsSupported()` is false there and a
// capture stays empty. One capture at a time; it owns the texts it saw.
//
//   DebugOutputCapture capture;
//   WriteDebugOutput("line\n");
//   capture.texts();   // {"line\n"} on Windows
#ifndef VYN_PLATFORM_DEBUG_OUTPUT_CAPTURE_H_
#define VYN_PLATFORM_DEBUG_OUTPUT_CAPTURE_H_

#include <mutex>
#include <string>
#include <vector>

namespace Kestrel::Platform {

class DebugOutputCapture {
 public:
  // Whether this system has a debugger channel that can be watched.
  static bool IsSupported();

  // Starts watching; a second capture alive at the same time sees nothing.
  DebugOutputCapture();
  DebugOutputCapture(const DebugOutputCapture&) = delete;
  DebugOutputCapture& operator=(const DebugOutputCapture&) = delete;
  // Stops watching.
  ~DebugOutputCapture();

  // The texts seen so far, in order. Safe from any thread.
  std::vector<std::string> texts() const;

  // Records one text the system reported (`text` must not be null); called
  // by the watcher on its own thread.
  void Add(const char* text);

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
  void* watcher_ = nullptr;
};

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_DEBUG_OUTPUT_CAPTURE_H_
