// The system's error texts, apart from the conversions (windows_text.cpp), so
// that a program that only converts text does not import the formatter.
#include <windows.h>

#include <string>

#include "platform/windows_text.h"

namespace Kestrel::Platform {

std::string SystemErrorText(unsigned long code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message =
      length == 0 ? "error " + std::to_string(code) : NarrowToUtf8(std::wstring_view(text, length));
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

}  // namespace Kestrel::Platform
