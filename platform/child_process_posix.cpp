#include "platform/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/termination_signal.h"

namespace Kestrel::Platform {

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& arguments,
                                                  std::string* error) {
  if (arguments.empty()) {
    if (error != nullptr) *error = "no program to start";
    return nullptr;
  }
  int output[2];
  int report[2];  // carries errno from a failed exec back to the parent
  if (pipe(output) != 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return nullptr;
  }
  if (pipe2(report, O_CLOEXEC) != 0) {
    if (error != nullptr) *error = std::strerror(errno);
    close(output[0]);
    close(output[1]);
    return nullptr;
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    if (error != nullptr) *error = std::strerror(errno);
    close(output[0]);
    close(output[1]);
    close(report[0]);
    close(report[1]);
    return nullptr;
  }
  if (pid == 0) {
    // The child starts with default signal handling and mask.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(output[1], 1);
    dup2(output[1], 2);
    close(output[0]);
    close(output[1]);
    close(report[0]);
    execv(argv[0], argv.data());
    int code = errno;
    (void)!write(report[1], &code, sizeof(code));
    _exit(127);
  }
  close(output[1]);
  close(report[1]);
  int code = 0;
  ssize_t got = read(report[0], &code, sizeof(code));
  close(report[0]);
  std::unique_ptr<ChildProcess> child(new ChildProcess(pid, 0, output[0]));
  if (got == sizeof(code)) {
    if (error != nullptr) *error = "cannot execute " + arguments[0] + ": " + std::strerror(code);
    child->Wait();
    return nullptr;
  }
  return child;
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    Terminate();
    Wait();
  }
  close(static_cast<int>(output_));
}

std::size_t ChildProcess::ReadChunk(char* buffer, std::size_t size) {
  for (;;) {
    ssize_t got = read(static_cast<int>(output_), buffer, size);
    if (got < 0 && errno == EINTR) continue;
    return got > 0 ? static_cast<std::size_t>(got) : 0;
  }
}

void ChildProcess::Terminate() {
  // A child that already ended cannot be asked; `Wait` reaps it either way.
  if (!reaped_) (void)Detail::RequestTermination(pid_);
}

int ChildProcess::Wait() {
  if (reaped_) return status_;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) {
      status = 0;
      break;
    }
  }
  reaped_ = true;
  if (WIFEXITED(status)) {
    status_ = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    status_ = 128 + WTERMSIG(status);
  }
  return status_;
}

bool ProcessExists(int pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace Kestrel::Platform
