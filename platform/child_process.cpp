#include "platform/child_process.h"

namespace Kestrel::Platform {

bool ChildProcess::ReadLine(std::string* line) {
  for (;;) {
    std::size_t newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      *line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      return true;
    }
    char chunk[4096];
    std::size_t got = ReadChunk(chunk, sizeof(chunk));
    if (got == 0) {
      *line = buffer_;
      buffer_.clear();
      return false;
    }
    buffer_.append(chunk, got);
  }
}

std::string ChildProcess::ReadAll() {
  std::string text = std::move(buffer_);
  buffer_.clear();
  char chunk[4096];
  for (std::size_t got; (got = ReadChunk(chunk, sizeof(chunk))) != 0;) text.append(chunk, got);
  return text;
}

}  // namespace Kestrel::Platform
