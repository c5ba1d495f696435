#include "platform/system_library.h"

#include <dlfcn.h>

namespace Kestrel::Platform {
namespace {

SystemFunctionResolver g_resolver = nullptr;

// The system loader: dlopen by name. Libraries already loaded stay loaded
// (the reference taken here is dropped again right away).
void* ResolveWithLoader(const char* library, const char* symbol) {
  void* handle = dlopen(library, RTLD_LAZY | RTLD_LOCAL);
  if (handle == nullptr) return nullptr;
  void* address = symbol == nullptr ? handle : dlsym(handle, symbol);
  dlclose(handle);
  return address;
}

}  // namespace

bool IsSystemLibraryAvailable(const char* library) {
  if (library == nullptr) return false;
  if (g_resolver != nullptr) return g_resolver(library, nullptr) != nullptr;
  return ResolveWithLoader(library, nullptr) != nullptr;
}

void* FindSystemFunction(const char* library, const char* symbol) {
  if (library == nullptr || symbol == nullptr) return nullptr;
  if (g_resolver != nullptr) return g_resolver(library, symbol);
  return ResolveWithLoader(library, symbol);
}

SystemFunctionResolver SetSystemFunctionResolverForTesting(SystemFunctionResolver resolver) {
  SystemFunctionResolver previous = g_resolver;
  g_resolver = resolver;
  return previous;
}

}  // namespace Kestrel::Platform
