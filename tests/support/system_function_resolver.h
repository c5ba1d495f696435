// The tests' seam in the system-library lookup (platform/system_library.h):
// a test installs a resolver of its own to offer functions the system lacks
// (the event-tracing functions on Linux) or to watch which ones are asked for.
// The seam is defined in platform/system_library.cpp; only tests declare it.
//
//   SystemFunctionResolver previous = SetSystemFunctionResolverForTesting(&Fake);
//   ...
//   SetSystemFunctionResolverForTesting(previous);
#ifndef VYN_TESTS_SUPPORT_SYSTEM_FUNCTION_RESOLVER_H_
#define VYN_TESTS_SUPPORT_SYSTEM_FUNCTION_RESOLVER_H_

#include "platform/system_library.h"

namespace Kestrel::Platform {

// Replaces the loader with `resolver` (nullptr restores the system loader) and
// returns the previous resolver (nullptr for the system loader). Not
// synchronised: install it before the code under test runs on other threads.
SystemFunctionResolver SetSystemFunctionResolverForTesting(SystemFunctionResolver resolver);

}  // namespace Kestrel::Platform

#endif  // VYN_TESTS_SUPPORT_SYSTEM_FUNCTION_RESOLVER_H_
