// The child that child_process_test starts; its first argument picks what it does:
//   streams   "one\n" on standard output, "two\n" on standard error, "three"
//             without a line end, then exit code 3
//   sleep     "ready\n", then sleeps for ten minutes
//   wait      takes the termination signals, "ready\n", waits for one, prints
//             "signal N" and exits with 0
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/termination_signal.h"

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  if (std::strcmp(mode, "streams") == 0) {
    std::fputs("one\n", stdout);
    std::fflush(stdout);
    std::fputs("two\n", stderr);
    std::fflush(stderr);
    std::fputs("three", stdout);
    return 3;
  }
  if (std::strcmp(mode, "sleep") == 0) {
    std::puts("ready");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::minutes(10));
    return 0;
  }
  if (std::strcmp(mode, "wait") == 0) {
    if (!Kestrel::Platform::BlockTerminationSignals()) return 1;
    std::puts("ready");
    std::fflush(stdout);
    std::printf("signal %d\n", Kestrel::Platform::WaitForTerminationSignal());
    return 0;
  }
  return 2;
}
