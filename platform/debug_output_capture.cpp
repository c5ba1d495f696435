#include "platform/debug_output_capture.h"

namespace Kestrel::Platform {

std::vector<std::string> DebugOutputCapture::texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return texts_;
}

void DebugOutputCapture::Add(const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  texts_.push_back(text);
}

}  // namespace Kestrel::Platform
