// `TcpConnection`: a plain client connection to a TCP port, for tests and
// benchmarks that must send exact bytes (half-sent or pipelined requests,
// conflicting headers) to the stand-in host's server.
//
// The connection owns its socket and closes it when destroyed. One thread at
// a time may use a connection.
//
//   std::unique_ptr<TcpConnection> connection = TcpConnection::Connect("127.0.0.1", port, &error);
//   connection->Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
//   std::string answer = connection->ReceiveUntil("\r\n\r\n", 2000);
#ifndef VYN_PLATFORM_TCP_CONNECTION_H_
#define VYN_PLATFORM_TCP_CONNECTION_H_

#include <memory>
#include <string>
#include <string_view>

namespace Kestrel::Platform {

class TcpConnection {
 public:
  // Connects to the IPv4 `address` and `port`; nullptr with `*error` set
  // when it cannot (`error` must not be null). Any thread.
  static std::unique_ptr<TcpConnection> Connect(const std::string& address, int port,
                                                std::string* error);
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;
  ~TcpConnection();

  // Sends all of `bytes` (without the write delay of small writes); false
  // when the connection failed.
  [[nodiscard]] bool Send(std::string_view bytes);

  // Receives what arrives within `timeout_ms`: at least one byte, or ""
  // when nothing came in time or the peer closed.
  std::string ReceiveSome(int timeout_ms);

  // Receives until what was received since the last call contains `marker`,
  // the peer closes, or `timeout_ms` pass; returns what was received
  // (possibly beyond `marker`). An empty marker waits for the close.
  std::string ReceiveUntil(std::string_view marker, int timeout_ms);

  // Whether the peer has closed the connection (seen by a receive).
  bool closed() const { return closed_; }

 private:
  explicit TcpConnection(int socket) : socket_(socket) {}
  int socket_;
  bool closed_ = false;
};

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_TCP_CONNECTION_H_
