#include "platform/socket_options.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace Kestrel::Platform {

bool SetListeningSocketOptions(int socket) {
  int yes = 1;
  return setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes)) == 0;
}

bool DisableWriteDelay(int socket) {
  int yes = 1;
  return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof(yes)) == 0;
}

bool UseSystemListenBacklog(int socket) {
  // A second listen() on a listening socket only changes its backlog.
  return listen(socket, SOMAXCONN) == 0;
}

}  // namespace Kestrel::Platform
