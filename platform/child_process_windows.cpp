#include "platform/child_process.h"

#include <windows.h>

#include <mutex>

#include "platform/termination_signal.h"
#include "platform/windows_text.h"

namespace Kestrel::Platform {
namespace {

// Handles are inherited by every child started while they are inheritable, so
// starts are serialised: no child gets another child's pipe end.
std::mutex g_start_mutex;

// Appends `argument` quoted the way the C runtime splits a command line:
// backslashes are literal except before a quote, where they are doubled.
void AppendQuoted(const std::wstring& argument, std::wstring* line) {
  if (!line->empty()) line->push_back(L' ');
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line->append(argument);
    return;
  }
  line->push_back(L'"');
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line->append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line->push_back(c);
  }
  line->append(backslashes * 2, L'\\');
  line->push_back(L'"');
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& arguments,
                                                  std::string* error) {
  if (arguments.empty()) {
    if (error != nullptr) *error = "no program to start";
    return nullptr;
  }
  std::wstring line;
  for (const std::string& argument : arguments) AppendQuoted(WidenUtf8(argument), &line);
  const std::wstring program = WidenUtf8(arguments[0]);

  std::lock_guard<std::mutex> lock(g_start_mutex);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) {
    if (error != nullptr) *error = SystemErrorText(GetLastError());
    return nullptr;
  }
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  const DWORD code = GetLastError();
  CloseHandle(write_end);
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (!started) {
    CloseHandle(read_end);
    if (error != nullptr) *error = "cannot execute " + arguments[0] + ": " + SystemErrorText(code);
    return nullptr;
  }
  CloseHandle(process.hThread);
  return std::unique_ptr<ChildProcess>(new ChildProcess(
      static_cast<int>(process.dwProcessId), reinterpret_cast<std::intptr_t>(process.hProcess),
      reinterpret_cast<std::intptr_t>(read_end)));
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    Terminate();
    Wait();
  }
  CloseHandle(reinterpret_cast<HANDLE>(output_));
}

std::size_t ChildProcess::ReadChunk(char* buffer, std::size_t size) {
  // Output is read as text: a Windows program ends its lines with "\r\n",
  // which becomes "\n" as on Linux.
  HANDLE pipe = reinterpret_cast<HANDLE>(output_);
  DWORD got = 0;
  // One byte stays free for the "\n" of a pair split between two reads.
  if (!ReadFile(pipe, buffer, static_cast<DWORD>(size - 1), &got, nullptr) || got == 0) return 0;
  if (buffer[got - 1] == '\r') {
    DWORD more = 0;
    if (ReadFile(pipe, buffer + got, 1, &more, nullptr)) got += more;
  }
  std::size_t kept = 0;
  for (DWORD i = 0; i < got; ++i) {
    if (buffer[i] == '\r' && i + 1 < got && buffer[i + 1] == '\n') continue;
    buffer[kept++] = buffer[i];
  }
  return kept;
}

void ChildProcess::Terminate() {
  if (reaped_) return;
  if (!Detail::RequestTermination(pid_)) {
    TerminateProcess(reinterpret_cast<HANDLE>(process_), 128 + TerminateSignalNumber());
  }
}

int ChildProcess::Wait() {
  if (reaped_) return status_;
  HANDLE process = reinterpret_cast<HANDLE>(process_);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  status_ = GetExitCodeProcess(process, &code) ? static_cast<int>(code) : 0;
  CloseHandle(process);
  reaped_ = true;
  return status_;
}

bool ProcessExists(int pid) {
  // An ended process may linger as an object while anyone holds a handle to
  // it; it counts as gone once it has ended.
  if (pid <= 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

}  // namespace Kestrel::Platform
