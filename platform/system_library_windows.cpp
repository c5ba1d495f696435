#include "platform/system_library.h"

#include <windows.h>

#include <string>

namespace Kestrel::Platform::Detail {

// Loads `library` from the system folder only (never from the host's folder
// or the search path). The first load's reference is kept for the life of
// the process, so that addresses handed out stay valid.
void* ResolveWithSystemLoader(const char* library, const char* symbol) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, library, -1, nullptr, 0);
  if (length <= 0) return nullptr;
  std::wstring name(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, library, -1, name.data(), length);
  HMODULE module = GetModuleHandleW(name.c_str());
  if (module == nullptr)
    module = LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return nullptr;
  if (symbol == nullptr) return reinterpret_cast<void*>(module);
  return reinterpret_cast<void*>(GetProcAddress(module, symbol));
}

}  // namespace Kestrel::Platform::Detail
