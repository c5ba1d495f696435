#include "platform/debug_output.h"

namespace Kestrel::Platform::Detail {

// Linux has no debugger output channel.
void WriteSystemDebugOutput(const char*) {}

}  // namespace Kestrel::Platform::Detail
