// Looking up functions of an operating-system library at run time.
//
// The event-tracing functions live in a system library ("Advapi32.dll") that
// this platform does not have, so a lookup normally finds nothing and tracing
// stays off. Tests install a resolver of their own to offer such functions.
#ifndef VYN_PLATFORM_SYSTEM_LIBRARY_H_
#define VYN_PLATFORM_SYSTEM_LIBRARY_H_

namespace Kestrel::Platform {

// Answers the address of `symbol` in `library`, or nullptr.
using SystemFunctionResolver = void* (*)(const char* library, const char* symbol);

// Returns true when `library` can be loaded at all (a library that cannot be
// loaded makes every lookup in it fail).
bool IsSystemLibraryAvailable(const char* library);

// Returns the address of `symbol` exported by `library`, or nullptr when the
// library or the symbol is missing.
void* FindSystemFunction(const char* library, const char* symbol);

// Replaces the loader with `resolver` (nullptr restores the system loader) and
// returns the previous resolver. For tests; not synchronised.
SystemFunctionResolver SetSystemFunctionResolverForTesting(SystemFunctionResolver resolver);

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_SYSTEM_LIBRARY_H_
