#include "platform/debug_output_capture.h"

namespace Kestrel::Platform {

// Linux has no debugger channel to watch.
bool DebugOutputCapture::IsSupported() {
  return false;
}

DebugOutputCapture::DebugOutputCapture() = default;

DebugOutputCapture::~DebugOutputCapture() = default;

}  // namespace Kestrel::Platform
