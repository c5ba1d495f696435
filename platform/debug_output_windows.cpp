#include "platform/debug_output.h"

#include <windows.h>

namespace Kestrel::Platform::Detail {

void WriteSystemDebugOutput(const char* text) {
  OutputDebugStringA(text);
}

}  // namespace Kestrel::Platform::Detail
