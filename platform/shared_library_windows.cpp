#include "platform/shared_library.h"

#include <windows.h>

#include <vector>

namespace Kestrel::Platform {
namespace {

std::wstring Widen(const std::string& text) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length - 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), length);
  return wide;
}

std::string Narrow(const wchar_t* text, int length) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), bytes, nullptr, nullptr);
  return narrow;
}

// The system's text for `code`, without its line end.
std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message =
      length == 0 ? "error " + std::to_string(code) : Narrow(text, static_cast<int>(length));
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return message;
}

// `path` made absolute against the working directory, so that a bare name
// names a file there instead of being searched for on the library path.
std::wstring FullPath(const std::wstring& path) {
  const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;
  std::vector<wchar_t> full(length);
  const DWORD written = GetFullPathNameW(path.c_str(), length, full.data(), nullptr);
  if (written == 0 || written >= length) return path;
  return std::wstring(full.data(), written);
}

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path, std::string* error) {
  const std::wstring file = FullPath(Widen(path));
  HMODULE module = LoadLibraryW(file.c_str());
  if (module == nullptr) {
    const DWORD code = GetLastError();
    if (error != nullptr) {
      *error = Narrow(file.c_str(), static_cast<int>(file.size())) + ": " + SystemMessage(code);
    }
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(reinterpret_cast<void*>(module), path));
}

SharedLibrary::~SharedLibrary() {
  FreeLibrary(static_cast<HMODULE>(handle_));
}

void* SharedLibrary::FindSymbol(const char* symbol) const {
  if (symbol == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), symbol));
}

}  // namespace Kestrel::Platform
