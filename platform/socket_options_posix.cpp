#include "platform/socket_options.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace Kestrel::Platform {

bool SetListeningSocketOptions(int socket) {
  int yes = 1;
  return setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes)) == 0;
}

}  // namespace Kestrel::Platform
