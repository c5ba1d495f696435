#include "platform/system_library.h"

namespace Kestrel::Platform {
namespace {

SystemFunctionResolver g_resolver = nullptr;

}  // namespace

bool IsSystemLibraryAvailable(const char* library) {
  if (library == nullptr) return false;
  if (g_resolver != nullptr) return g_resolver(library, nullptr) != nullptr;
  return Detail::ResolveWithSystemLoader(library, nullptr) != nullptr;
}

void* FindSystemFunction(const char* library, const char* symbol) {
  if (library == nullptr || symbol == nullptr) return nullptr;
  if (g_resolver != nullptr) return g_resolver(library, symbol);
  return Detail::ResolveWithSystemLoader(library, symbol);
}

// The tests' seam, declared for them in tests/support/system_function_resolver.h;
// the product never calls it.
SystemFunctionResolver SetSystemFunctionResolverForTesting(SystemFunctionResolver resolver) {
  SystemFunctionResolver previous = g_resolver;
  g_resolver = resolver;
  return previous;
}

}  // namespace Kestrel::Platform
