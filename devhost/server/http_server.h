// `DevHttpServer`: the stand-in host's HTTP/1.1 front for a plugin.
//
// Every request whose method and path match one of the plugin's function
// descriptors becomes a call (`CoreHost::Call`: method, path with its query,
// headers, content type, body with its length, a caller id) and is answered
// from the plugin's response: the value as JSON with status 200 (204 when
// there is no value), or on error `{"message": "<error text>"}` with the
// response's status (500 when it set none). Unknown paths get 404.
// `GET /events` streams every event the plugin publishes as Server-Sent
// Events (at most `max_event_streams` at once; more get 503), each ended
// with the end of its chunked body when the server stops; `GET
// /devhost/inspector` streams what happens inside the plugin, `GET
// /devhost/calls/<number>` and `GET /devhost/memory` answer one call in full
// and the plugin's memory (inspector.h); `GET /openapi.json` serves the OpenAPI document of the
// plugin's API; `GET /` serves the host's page (page_files.h), `/devhost/roster` the roster
// endpoint (roster_endpoint.h) and `GET /devhost/session.har` the session (session_har.h).
//
// Every error answer, those of reading the request included (400 malformed,
// 408 head or body not received in time, 413 body over `max_body`, 414
// request line too long, 431 head too large, 501 unknown method), is
// `{"message": "..."}`; a request with a `Host` or an `Origin` that is not
// the server's own gets 403 (request_guard.h); a request with conflicting `Content-Length` headers,
// or with one and a chunked body, gets 400; a request whose serving throws
// (memory ran out) gets 500 and the server goes on.
//
// Connections are served by one event loop (two threads) and never hold a
// thread while they wait: a reused connection carries up to
// `keep_alive_requests` requests, pipelined requests are answered in order,
// and event streams are written as events arrive. A request head must arrive
// whole within `header_timeout_ms` of the connection being ready for it
// (accepted, or the previous answer sent): an idle connection is closed
// then, one that sent part of a head gets 408 and is closed, so slow senders
// cannot hold the server. Calls into the plugin, which may wait (held
// answers), run on a pool of `worker_threads`. The server borrows the host,
// which must outlive it; the HTTP library stays behind this header.
//
//   DevHttpServer server(&host);
//   MaybeType<int> port = server.Bind("127.0.0.1", 0);   // 0: any free port
//   std::thread thread([&] { server.Run(); });
//   ... server.Stop(); thread.join();
#ifndef VYN_DEVHOST_SERVER_HTTP_SERVER_H_
#define VYN_DEVHOST_SERVER_HTTP_SERVER_H_

#include <memory>
#include <string>
#include <vector>

#include "devhost/host/core_host.h"
#include "devhost/host/library_watch.h"
#include "devhost/peers/simulated_peers.h"
#include "devhost/server/http_answer.h"
#include "util/failure.h"

namespace Kestrel::DevHost {

class SessionRecorder;

struct HttpServerOptions {
  size_t max_body = size_t{64} * 1024 * 1024;
  int max_event_streams = 64;
  // Calls into the plugin in progress at once; more wait their turn.
  int worker_threads = 32;
  int header_timeout_ms = 5000;
  // For the body, from the end of the head.
  int body_timeout_ms = 60000;
  int keep_alive_requests = 10000;
  // Names served besides 127.0.0.1, localhost and [::1] when the server
  // listens on a loopback address (request_guard.h).
  std::vector<std::string> allowed_hosts;
};

class DevHttpServer {
 public:
  // Installs itself as the host's observer (see `ObserveHost`).
  explicit DevHttpServer(CoreHost* host, HttpServerOptions options = {});
  DevHttpServer(const DevHttpServer&) = delete;
  DevHttpServer& operator=(const DevHttpServer&) = delete;
  // Stops the server; `Run` must have returned.
  ~DevHttpServer();

  // Binds the listening socket. Port 0 picks a free port. Returns the port,
  // or fails with status 503 when the address cannot be bound (busy port,
  // bad address).
  MaybeType<int> Bind(const std::string& address, int port);

  // Whether the bound address is a loopback one: only this machine's names
  // are then served as `Host` (request_guard.h). False before `Bind`.
  bool listens_on_loopback() const;

  // Makes the server the host's observer: published events go to both
  // streams, calls, outgoing requests, deliveries, waits and log lines to
  // the inspector's; each is then passed on to `also`'s member of its kind.
  // Call before `Run`.
  void ObserveHost(HostObserver also);

  // Serves `/devhost/roster` from `peers` (borrowed, must outlive the
  // server); without it the endpoint answers 404. Call before `Run`.
  void ServeRoster(SimulatedPeers* peers);

  // Serves `/devhost/session.har` from `recorder` (borrowed, must outlive
  // the server); without it the endpoint answers 404. Call before `Run`.
  void ServeSession(const SessionRecorder* recorder);

  // Serves until `Stop`, then waits for the calls in progress; returns false
  // when it could not serve (not bound, or stopped before).
  bool Run();

  // Ends `Run` and every open event stream; safe from any thread, repeatable.
  void Stop();

  // Sends `event` to every open event stream (also called by the observer).
  void PublishEvent(const RecordedEvent& event);

  // Tells the inspector's streams that the plugin was reloaded. Safe from
  // any thread.
  void PublishReload(const ReloadRecord& reload);

  // Number of event streams currently open.
  int open_event_streams() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_HTTP_SERVER_H_
