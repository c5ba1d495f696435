#include "platform/termination_signal.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <string>

namespace Kestrel::Platform {
namespace {

// The process's termination request: an auto-reset event set by the console
// control handler or by another process; created once, never closed.
HANDLE g_request = nullptr;
// Which signal the last console event stands for; 0 for a request from outside.
std::atomic<int> g_signal{0};

std::wstring RequestName(DWORD pid) {
  return L"Local\\vyn-termination-request-" + std::to_wstring(pid);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  g_signal.store(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
  SetEvent(g_request);
  // Closing the console, logoff and shutdown end the process as soon as the
  // handler returns: hold it here so that the main thread can shut down in
  // order and leave through its own exit.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

bool BlockTerminationSignals() {
  if (g_request == nullptr) {
    g_request = CreateEventW(nullptr, FALSE, FALSE, RequestName(GetCurrentProcessId()).c_str());
    if (g_request == nullptr) return false;
  }
  return SetConsoleCtrlHandler(&OnConsoleControl, TRUE) != 0;
}

int WaitForTerminationSignal() {
  if (g_request == nullptr || WaitForSingleObject(g_request, INFINITE) != WAIT_OBJECT_0) return 0;
  const int signal_number = g_signal.exchange(0);
  return signal_number != 0 ? signal_number : SIGTERM;
}

void RaiseTerminationSignal() {
  // Without the request installed (`BlockTerminationSignals`) there is nothing
  // to raise, as with an unblocked signal nobody waits for.
  (void)Detail::RequestTermination(static_cast<int>(GetCurrentProcessId()));
}

int InterruptSignalNumber() {
  return SIGINT;
}

int TerminateSignalNumber() {
  return SIGTERM;
}

bool Detail::RequestTermination(int pid) {
  if (pid <= 0) return false;
  HANDLE request =
      OpenEventW(EVENT_MODIFY_STATE, FALSE, RequestName(static_cast<DWORD>(pid)).c_str());
  if (request == nullptr) return false;
  const bool set = SetEvent(request) != 0;
  CloseHandle(request);
  return set;
}

}  // namespace Kestrel::Platform
