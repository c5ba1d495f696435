#include "platform/shared_library.h"

#include <windows.h>

#include <vector>

#include "platform/windows_text.h"

namespace Kestrel::Platform {
namespace {

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
  const std::wstring file = FullPath(WidenUtf8(path));
  HMODULE module = LoadLibraryW(file.c_str());
  if (module == nullptr) {
    const DWORD code = GetLastError();
    if (error != nullptr) {
      *error = NarrowToUtf8(file) + ": " + SystemErrorText(code);
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
