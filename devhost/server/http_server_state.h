// What the stand-in host's HTTP server shares between its two sources:
// the state the server owns (http_server.cpp: the listener, the event
// histories, `DevHttpServer`) and the connections it serves
// (http_connection.cpp: the protocol of one connection). Private to them.
#ifndef VYN_DEVHOST_SERVER_HTTP_SERVER_STATE_H_
#define VYN_DEVHOST_SERVER_HTTP_SERVER_STATE_H_

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "boost/asio/io_context.hpp"
#include "boost/asio/ip/tcp.hpp"
#include "boost/asio/steady_timer.hpp"
#include "boost/asio/strand.hpp"
#include "boost/asio/thread_pool.hpp"
#include "devhost/host/record_window.h"
#include "devhost/server/http_server.h"
#include "devhost/server/request_guard.h"

namespace Kestrel::DevHost::Serving {

namespace asio = boost::asio;
using boost::system::error_code;
using tcp = asio::ip::tcp;

// Threads that run the event loop of every connection. Calls into the
// plugin run on the worker pool instead, so these never wait.
constexpr int kEventThreads = 2;

// One accepted connection (http_connection.cpp).
class Session;
struct ServerState;

// Serves a connection just accepted, registered with `state`.
void StartSession(ServerState* state, tcp::socket socket);
// Has a stream write the frames published since its last write.
void WakeSession(Session& session);
// The server stops: a stream ends its chunked body; any other connection
// closes, after the answer it is serving.
void FinishSession(Session& session);

// One kind of event stream: its frames, numbered, and the streams that
// follow it. A numbered channel gives every frame an "id:" field, so a
// client that reconnects goes on after the last frame it saw.
struct Channel {
  explicit Channel(bool numbered_frames) : numbered(numbered_frames) {}
  const bool numbered;
  RecordWindow<std::string> frames;
  std::map<const Session*, std::weak_ptr<Session>> streams;

  // The frames from number `*next` on (from the oldest kept when it fell
  // behind), concatenated; `*next` moves past them. Needs the server's mutex.
  std::string FramesFrom(uint64_t* next) const {
    std::string out;
    *next = std::max(*next, frames.first_number());
    for (uint64_t n = *next; n < frames.end_number(); ++n) out += frames.at_number(n);
    *next = frames.end_number();
    return out;
  }

  // Where a new stream starts: a numbered channel after `last_seen` (the
  // client's Last-Event-ID) or with the oldest frame kept; any other at the
  // next frame published.
  uint64_t StartNumber(std::string_view last_seen) const {
    if (!numbered) return frames.end_number();
    uint64_t last = 0;
    auto [end, error] =
        std::from_chars(last_seen.data(), last_seen.data() + last_seen.size(), last);
    if (last_seen.empty() || error != std::errc() || end != last_seen.data() + last_seen.size()) {
      return frames.first_number();
    }
    return std::min(last + 1, frames.end_number());
  }
};

// What the server owns: the event loop, the worker pool, the published
// events and the registry of open connections.
struct ServerState {
  CoreHost* host = nullptr;
  HttpServerOptions options;
  SimulatedPeers* peers = nullptr;           // for the roster endpoint; set before `Run`
  const SessionRecorder* session = nullptr;  // for the session endpoint; set before `Run`
  std::atomic<uint32_t> next_caller{1};

  // Declared before the event loop: connections that end with the loop
  // unregister themselves here.
  mutable std::mutex mutex;
  std::condition_variable changed;
  // The published events (`/events`) and what the inspector shows
  // (`/devhost/inspector`); streams remember the next number to send.
  Channel events{false};
  Channel inspector{true};
  // Every open connection.
  std::map<const Session*, std::weak_ptr<Session>> sessions;
  bool stopping = false;
  bool running = false;  // `Run` serves

  asio::io_context loop{kEventThreads};
  tcp::acceptor acceptor{asio::make_strand(loop)};
  asio::steady_timer accept_pause{acceptor.get_executor()};
  bool bound = false;
  // Which `Host` values are served; set by `Bind`.
  HostGuard guard;
  // Destroyed first: waits for the calls in progress, which hand their
  // answers to the loop.
  std::unique_ptr<asio::thread_pool> workers;

  // Accepts connections until the acceptor closes.
  void Accept();
  void OnAccepted(const error_code& error, tcp::socket socket);

  // Open event streams of both channels. Needs `mutex`.
  size_t open_streams() const { return events.streams.size() + inspector.streams.size(); }

  // Adds `frame` to `channel` and wakes its streams.
  void Publish(Channel& channel, std::string frame);
};

}  // namespace Kestrel::DevHost::Serving

#endif  // VYN_DEVHOST_SERVER_HTTP_SERVER_STATE_H_
