#include "platform/termination_signal.h"

#include <signal.h>
#include <unistd.h>

namespace Kestrel::Platform {
namespace {

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

bool BlockTerminationSignals() {
  sigset_t set = TerminationSignals();
  return pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

int WaitForTerminationSignal() {
  sigset_t set = TerminationSignals();
  int signal_number = 0;
  if (sigwait(&set, &signal_number) != 0) return 0;
  return signal_number;
}

void RaiseTerminationSignal() {
  kill(getpid(), SIGTERM);
}

bool Detail::RequestTermination(int pid) {
  return pid > 0 && kill(pid, SIGTERM) == 0;
}

int InterruptSignalNumber() {
  return SIGINT;
}

int TerminateSignalNumber() {
  return SIGTERM;
}

}  // namespace Kestrel::Platform
