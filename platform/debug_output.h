// The debugger output channel (where a debugger attached to the host shows
// text). On Windows each text goes to OutputDebugStringA; Linux has no such
// channel, so there it goes nowhere. Either way an installed observer sees
// every text too; tests install one to see what a target wrote.
#ifndef VYN_PLATFORM_DEBUG_OUTPUT_H_
#define VYN_PLATFORM_DEBUG_OUTPUT_H_

namespace Kestrel::Platform {

// Receives each text written to the debugger output. `context` is the value
// given to `SetDebugOutputObserver`.
using DebugOutputObserver = void (*)(const char* text, void* context);

// Writes one NUL-terminated `text` to the debugger output; nullptr is ignored.
void WriteDebugOutput(const char* text);

// Installs `observer` (nullptr removes it) with `context` (may be null,
// handed back unread) and returns the previous observer, nullptr when there
// was none. Not synchronised with concurrent writers: install it before
// logging starts.
DebugOutputObserver SetDebugOutputObserver(DebugOutputObserver observer, void* context);

namespace Detail {
// The operating system's half (debug_output_posix.cpp, debug_output_windows.cpp):
// hands a non-null `text` to the system's debugger channel, if there is one.
void WriteSystemDebugOutput(const char* text);
}  // namespace Detail

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_DEBUG_OUTPUT_H_
