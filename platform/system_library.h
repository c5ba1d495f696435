// Looking up functions of an operating-system library at run time.
//
// The event-tracing functions live in the system library "Advapi32.dll". On
// Windows it is loaded from the system folder on first use and stays loaded
// for the life of the process, so the addresses found stay valid; Linux has
// no such library, so a lookup there finds nothing and tracing stays off.
// Tests install a resolver of their own to offer or observe such functions
// (tests/support/system_function_resolver.h).
#ifndef VYN_PLATFORM_SYSTEM_LIBRARY_H_
#define VYN_PLATFORM_SYSTEM_LIBRARY_H_

// The calling convention of the system libraries' functions and of the
// call-backs they make (stdcall on 32-bit Windows, the default elsewhere).
#if defined(_WIN32) && defined(__i386__)
#define VYN_SYSTEM_API __attribute__((stdcall))
#else
#define VYN_SYSTEM_API
#endif

namespace Kestrel::Platform {

// Answers the address of `symbol` in `library` (for a null `symbol`, any
// non-null value when the library exists), or nullptr. `library` is never
// null.
using SystemFunctionResolver = void* (*)(const char* library, const char* symbol);

// Returns true when `library` can be loaded at all (a library that cannot be
// loaded makes every lookup in it fail); false for a null `library`.
// Thread-safe.
bool IsSystemLibraryAvailable(const char* library);

// Returns the address of `symbol` exported by `library`, or nullptr when the
// library or the symbol is missing or either is null. Thread-safe.
void* FindSystemFunction(const char* library, const char* symbol);

namespace Detail {
// The operating system's loader (system_library_posix.cpp,
// system_library_windows.cpp); same contract as `SystemFunctionResolver`.
void* ResolveWithSystemLoader(const char* library, const char* symbol);
}  // namespace Detail

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_SYSTEM_LIBRARY_H_
