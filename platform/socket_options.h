// Options for listening sockets that the socket library in use cannot set
// portably (the stand-in host's HTTP server).
#ifndef VYN_PLATFORM_SOCKET_OPTIONS_H_
#define VYN_PLATFORM_SOCKET_OPTIONS_H_

namespace Kestrel::Platform {

// Lets `socket` bind to an address whose previous connections are still
// closing, but not share a port another socket listens on, so that a busy
// port is reported instead of silently shared. Returns false when the option
// could not be set. Any thread.
[[nodiscard]] bool SetListeningSocketOptions(int socket);

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_SOCKET_OPTIONS_H_
