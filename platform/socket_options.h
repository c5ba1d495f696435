// Options for listening sockets made by libraries that let the caller
// choose them (the stand-in host's HTTP server).
#ifndef VYN_PLATFORM_SOCKET_OPTIONS_H_
#define VYN_PLATFORM_SOCKET_OPTIONS_H_

namespace Kestrel::Platform {

// Lets `socket` bind to an address whose previous connections are still
// closing, but not share a port another socket listens on, so that a busy
// port is reported instead of silently shared. Returns false when the option
// could not be set.
bool SetListeningSocketOptions(int socket);

// Turns off the delaying of small writes (Nagle's algorithm) on `socket`;
// connections accepted from a listening socket inherit it. Without it, an
// answer written in two pieces waits for the peer's delayed acknowledgement
// (about 40 ms) on a reused connection. Returns false when it failed.
bool DisableWriteDelay(int socket);

// Lets the listening `socket` queue as many unaccepted connections as the
// system allows by default (SOMAXCONN) instead of what its listener asked.
// Returns false when it failed.
bool UseSystemListenBacklog(int socket);

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_SOCKET_OPTIONS_H_
