#include "platform/socket_options.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace Kestrel::Platform {

bool SetListeningSocketOptions(int socket) {
  // Winsock's SO_REUSEADDR would let a second socket take over a port in use;
  // SO_EXCLUSIVEADDRUSE makes binding a busy port fail instead.
  BOOL yes = TRUE;
  return setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                    reinterpret_cast<const char*>(&yes), sizeof(yes)) == 0;
}

}  // namespace Kestrel::Platform
