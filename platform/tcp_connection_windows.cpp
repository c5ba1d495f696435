#include "platform/tcp_connection.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <string>

namespace Kestrel::Platform {
namespace {

// Winsock must be started once per process before its first socket; it stays
// started until the process ends.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

std::string LastSocketError() {
  return "socket error " + std::to_string(WSAGetLastError());
}

}  // namespace

std::unique_ptr<TcpConnection> TcpConnection::Connect(const std::string& address, int port,
                                                      std::string* error) {
  if (!StartWinsock()) {
    *error = "Winsock did not start";
    return nullptr;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<u_short>(port));
  if (inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address;
    return nullptr;
  }
  SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) {
    *error = LastSocketError();
    return nullptr;
  }
  if (connect(handle, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
    *error = LastSocketError();
    closesocket(handle);
    return nullptr;
  }
  BOOL yes = TRUE;
  setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof(yes));
  // A 32-bit process's socket handles fit the int the header keeps.
  return std::unique_ptr<TcpConnection>(new TcpConnection(static_cast<int>(handle)));
}

TcpConnection::~TcpConnection() {
  closesocket(static_cast<SOCKET>(socket_));
}

bool TcpConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    int sent = send(static_cast<SOCKET>(socket_), bytes.data(), static_cast<int>(bytes.size()), 0);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

std::string TcpConnection::ReceiveSome(int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!closed_) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    WSAPOLLFD waiting{static_cast<SOCKET>(socket_), POLLRDNORM, 0};
    int ready = WSAPoll(&waiting, 1, static_cast<INT>(left));
    if (ready <= 0) return {};
    char buffer[16384];
    int count = recv(static_cast<SOCKET>(socket_), buffer, sizeof(buffer), 0);
    if (count <= 0) {
      closed_ = true;
      return {};
    }
    return std::string(buffer, static_cast<size_t>(count));
  }
  return {};
}

}  // namespace Kestrel::Platform
