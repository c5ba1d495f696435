// Waiting for the operator's request to stop a long-running program.
//
// A server program blocks the termination signals (interrupt and terminate)
// in its first thread before it starts any other, so that every thread
// inherits the mask; its main thread then waits for one of them and shuts
// down in order instead of being killed in the middle of a call.
//
// Windows has no such signals: there the first call installs a console
// control handler (Ctrl-C counts as the interrupt signal; Ctrl-Break, closing
// the console, logoff and shutdown as the terminate signal) and creates the
// process's termination request, a named event that another process sets
// through `Detail::RequestTermination` to stop it as the terminate signal does.
//
//   BlockTerminationSignals();            // before creating threads
//   std::thread worker(...);
//   int signal_number = WaitForTerminationSignal();
#ifndef VYN_PLATFORM_TERMINATION_SIGNAL_H_
#define VYN_PLATFORM_TERMINATION_SIGNAL_H_

namespace Kestrel::Platform {

// Blocks the interrupt and terminate signals in the calling thread (and in
// the threads it creates afterwards); on Windows installs the handler and the
// request. Returns false when that failed.
[[nodiscard]] bool BlockTerminationSignals();

// Waits until an interrupt or terminate signal is pending for the process and
// takes it. Returns its number, or 0 when waiting failed. The signals must be
// blocked first.
int WaitForTerminationSignal();

// Sends the terminate signal to this process (for tests).
void RaiseTerminationSignal();

// The numbers of the two signals, for messages and tests.
int InterruptSignalNumber();
int TerminateSignalNumber();

namespace Detail {
// Asks process `pid` to stop as the terminate signal does. Returns false when
// it cannot be asked (it does not exist, or on Windows it made no request).
[[nodiscard]] bool RequestTermination(int pid);
}  // namespace Detail

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_TERMINATION_SIGNAL_H_
