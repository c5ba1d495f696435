// Who may reach the stand-in host's server: the checks every request passes
// before a route serves it, so that a web page the developer happens to
// visit can neither read what the plugin does nor make it act.
//
// - A server that listens on a loopback address serves only requests whose
//   `Host` names this machine: `127.0.0.1`, `localhost` or `[::1]`, with or
//   without a port, or a name allowed with `serve --allow-host NAME`. A page
//   that points its own name at 127.0.0.1 (DNS rebinding) still sends its
//   own name as `Host`, and is refused. A server on any other address
//   answers every `Host`: whoever reaches the address may use it.
// - A request that may change state (every method but GET and HEAD, and
//   every call into the plugin) and carries an `Origin` is served only when
//   that origin is the server's own: `http://` and the `Host` it was sent
//   to. Browsers send `Origin` with such requests; curl and the tests'
//   clients send none and keep working.
// Refusals are 403 with `{"message": "..."}` saying why. Pure functions,
// safe from any thread.
//
//   if (auto refused = RefuseHost(guard, host_header)) return *refused;
#ifndef VYN_DEVHOST_SERVER_REQUEST_GUARD_H_
#define VYN_DEVHOST_SERVER_REQUEST_GUARD_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devhost/server/http_answer.h"

namespace Kestrel::DevHost {

// What the host check allows: set when the server binds.
struct HostGuard {
  // The server listens on a loopback address: only this machine's names,
  // and `allowed_hosts`, are served.
  bool loopback = true;
  // Names served besides the loopback ones, without a port (`--allow-host`).
  std::vector<std::string> allowed_hosts;
};

// The 403 answer for a request whose `Host` header value `host` (nullopt:
// none sent) the server does not serve, or nullopt when it serves it.
std::optional<HttpAnswer> RefuseHost(const HostGuard& guard, std::optional<std::string_view> host);

// The 403 answer for a state-changing request whose `Origin` header value
// `origin` (nullopt: none sent) is not the server's own for the request's
// `host`, or nullopt when the request may go on.
std::optional<HttpAnswer> RefuseOrigin(std::optional<std::string_view> origin,
                                       std::string_view host);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_REQUEST_GUARD_H_
