// Running another program with its output captured (for end-to-end tests).
//
// A `ChildProcess` owns one started program: the read end of a pipe that
// receives both its standard output and its standard error, and the duty to
// reap it. Destroying a still-running child terminates and reaps it, so a
// failing test leaves no process behind.
//
//   std::unique_ptr<ChildProcess> child = ChildProcess::Start({"/bin/echo", "hi"}, &error);
//   std::string output = child->ReadAll();   // "hi\n"
//   int status = child->Wait();              // 0
#ifndef VYN_PLATFORM_CHILD_PROCESS_H_
#define VYN_PLATFORM_CHILD_PROCESS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Kestrel::Platform {

class ChildProcess {
 public:
  // Starts `arguments[0]` (a path) with `arguments` as its argument list.
  // Returns nullptr and sets `*error` (when `error` is not null) when the
  // list is empty, the pipe or the process cannot be created, or the program
  // cannot be executed. Any thread.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& arguments,
                                             std::string* error);

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Terminates (when still running) and reaps the child; closes the pipe.
  ~ChildProcess();

  // Reads one line of output (without its newline) into `*line` (`line` must
  // not be null). Returns false at the end of the output (the child closed
  // it) with `*line` holding what was left. One reader thread at a time.
  [[nodiscard]] bool ReadLine(std::string* line);

  // Reads the rest of the output until the child closes it.
  std::string ReadAll();

  // Asks the child to stop as the terminate signal does (on Windows: through
  // its termination request, see termination_signal.h, or by ending it with
  // exit code 128 plus that signal's number when it takes no requests); does
  // nothing once the child was reaped.
  void Terminate();

  // Waits for the child to end and reaps it. Returns its exit code, or 128
  // plus the signal number when a signal ended it; later calls return the
  // same value.
  int Wait();

  // The process id; after `Wait` no process with this id belongs to us.
  int pid() const { return pid_; }

 private:
  ChildProcess(int pid, std::intptr_t process, std::intptr_t output)
      : pid_(pid), process_(process), output_(output) {}

  // Reads at most `size` bytes of output into `buffer` (not null); returns how
  // many, 0 at the end of the output or on a read error. Defined by the
  // system's half.
  std::size_t ReadChunk(char* buffer, std::size_t size);

  int pid_;
  std::intptr_t process_;  // the process handle on Windows; unused on Linux
  std::intptr_t output_;   // the pipe's read end: a descriptor on Linux, a handle on Windows
  bool reaped_ = false;
  int status_ = 0;
  std::string buffer_;
};

// Whether a process with `pid` exists: on Linux zombies included, on Windows
// only while it runs.
bool ProcessExists(int pid);

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_CHILD_PROCESS_H_
