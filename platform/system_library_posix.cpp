#include "platform/system_library.h"

#include <dlfcn.h>

namespace Kestrel::Platform::Detail {

// dlopen by name. Libraries already loaded stay loaded (the reference taken
// here is dropped again right away).
void* ResolveWithSystemLoader(const char* library, const char* symbol) {
  void* handle = dlopen(library, RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  void* address = symbol == nullptr ? handle : dlsym(handle, symbol);
  dlclose(handle);
  return address;
}

}  // namespace Kestrel::Platform::Detail
