// The debugger output channel (where a debugger attached to the host would
// show text). Linux has no such channel, so text written here goes nowhere
// unless an observer is installed; tests install one to see what a target wrote.
#ifndef VYN_PLATFORM_DEBUG_OUTPUT_H_
#define VYN_PLATFORM_DEBUG_OUTPUT_H_

namespace Kestrel::Platform {

// Receives each text written to the debugger output. `context` is the value
// given to `SetDebugOutputObserver`.
using DebugOutputObserver = void (*)(const char* text, void* context);

// Writes one NUL-terminated `text` to the debugger output; nullptr is ignored.
void WriteDebugOutput(const char* text);

// Installs `observer` (nullptr removes it) and returns the previous one.
// Not synchronised with concurrent writers: install it before logging starts.
DebugOutputObserver SetDebugOutputObserver(DebugOutputObserver observer, void* context);

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_DEBUG_OUTPUT_H_
