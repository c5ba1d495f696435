#include "platform/system_library.h"

#include <windows.h>

#include <string>

#include "platform/windows_text.h"

namespace Kestrel::Platform::Detail {

// Loads `library` from the system folder only (never from the host's folder
// or the search path). The first load's reference is kept for the life of
// the process, so that addresses handed out stay valid.
void* ResolveWithSystemLoader(const char* library, const char* symbol) {
  const std::wstring name = WidenUtf8(library);
  if (name.empty()) return nullptr;
  HMODULE module = GetModuleHandleW(name.c_str());
  if (module == nullptr)
    module = LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return nullptr;
  if (symbol == nullptr) return reinterpret_cast<void*>(module);
  return reinterpret_cast<void*>(GetProcAddress(module, symbol));
}

}  // namespace Kestrel::Platform::Detail
