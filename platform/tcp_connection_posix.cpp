#include "platform/tcp_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace Kestrel::Platform {

std::unique_ptr<TcpConnection> TcpConnection::Connect(const std::string& address, int port,
                                                      std::string* error) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address;
    return nullptr;
  }
  int socket_number = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket_number < 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  if (connect(socket_number, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) != 0) {
    *error = std::strerror(errno);
    close(socket_number);
    return nullptr;
  }
  int yes = 1;
  setsockopt(socket_number, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes));
  return std::unique_ptr<TcpConnection>(new TcpConnection(socket_number));
}

TcpConnection::~TcpConnection() {
  close(socket_);
}

bool TcpConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
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
    pollfd waiting{socket_, POLLIN, 0};
    int ready = poll(&waiting, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return {};
    char buffer[16384];
    ssize_t count = recv(socket_, buffer, sizeof(buffer), 0);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      closed_ = true;
      return {};
    }
    return std::string(buffer, static_cast<size_t>(count));
  }
  return {};
}

}  // namespace Kestrel::Platform
