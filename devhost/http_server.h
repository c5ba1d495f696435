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
// /openapi.json` serves the OpenAPI document of the plugin's API; `GET /`
// serves the host's page (page_files.h) and `/devhost/roster` the roster
// endpoint (roster_endpoint.h).
//
// Every error answer, the HTTP library's own included (400 malformed, 413
// body over `max_body`, 414 target too long), is `{"message": "..."}`; a
// request with conflicting `Content-Length` headers, or with one and a
// chunked body, gets 400; a request whose serving throws (memory ran out)
// gets 500 and the server goes on. Connections are served by a pool of
// `worker_threads`; a request that stalls for `read_timeout` is dropped, so
// slow senders hold one worker each and never the server; reused
// connections carry up to `keep_alive_requests` requests without a delay.
// The server borrows the host, which must outlive it; the HTTP library stays
// behind this header.
//
//   DevHttpServer server(&host);
//   MaybeType<int> port = server.Bind("127.0.0.1", 0);   // 0: any free port
//   std::thread thread([&] { server.Run(); });
//   ... server.Stop(); thread.join();
#ifndef VYN_DEVHOST_HTTP_SERVER_H_
#define VYN_DEVHOST_HTTP_SERVER_H_

#include <memory>
#include <string>

#include "devhost/core_host.h"
#include "devhost/simulated_peers.h"
#include "util/failure.h"

namespace Kestrel::DevHost {

struct HttpServerOptions {
  size_t max_body = size_t{64} * 1024 * 1024;
  int max_event_streams = 64;
  // Streams, slow senders and idle reused connections each hold a worker:
  // enough for all streams and as many other connections.
  int worker_threads = 128;
  int read_timeout_ms = 2000;
  int keep_alive_requests = 10000;
};

// The HTTP form of a call's outcome.
struct HttpAnswer {
  int status = 200;
  std::string content_type;  // "" when there is no body
  std::string body;
};

// Maps the outcome of `CoreHost::Call` to status and body as described
// above; a failed `Call` (no function, not initialized) keeps its code.
HttpAnswer AnswerForCall(const MaybeType<CallOutcome>& outcome);

// `{"message":"<text>"}` with `text` escaped (and made valid UTF-8).
std::string ErrorBody(std::string_view text);

// What an error answer of the HTTP library with `status` says when it has no
// text of its own; `max_body` is named for 413.
std::string HttpErrorText(int status, size_t max_body);

// The Server-Sent Events frame of one event: "event: <name>", "data: <JSON>"
// and an empty line.
std::string EventFrame(const RecordedEvent& event);

class DevHttpServer {
 public:
  // Installs itself as the host's observer of published events.
  explicit DevHttpServer(CoreHost* host, HttpServerOptions options = {});
  DevHttpServer(const DevHttpServer&) = delete;
  DevHttpServer& operator=(const DevHttpServer&) = delete;
  // Stops the server; `Run` must have returned.
  ~DevHttpServer();

  // Binds the listening socket. Port 0 picks a free port. Returns the port,
  // or fails with status 503 when the address cannot be bound (busy port,
  // bad address).
  MaybeType<int> Bind(const std::string& address, int port);

  // Serves `/devhost/roster` from `peers` (borrowed, must outlive the
  // server); without it the endpoint answers 404. Call before `Run`.
  void ServeRoster(SimulatedPeers* peers);

  // Serves until `Stop`; returns false when it could not serve (not bound).
  bool Run();

  // Ends `Run` and every open event stream; safe from any thread, repeatable.
  void Stop();

  // Sends `event` to every open event stream (also called by the observer).
  void PublishEvent(const RecordedEvent& event);

  // Number of event streams currently open.
  int open_event_streams() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_HTTP_SERVER_H_
