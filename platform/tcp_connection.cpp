#include "platform/tcp_connection.h"

#include <chrono>

namespace Kestrel::Platform {

std::string TcpConnection::ReceiveUntil(std::string_view marker, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string received;
  while (!closed_ && (marker.empty() || received.find(marker) == std::string::npos)) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    std::string piece = ReceiveSome(static_cast<int>(left));
    if (piece.empty()) {
      if (closed_) break;
      continue;
    }
    received += piece;
  }
  return received;
}

}  // namespace Kestrel::Platform
