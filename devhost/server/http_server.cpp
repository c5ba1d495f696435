#include "devhost/server/http_server.h"

#include <chrono>
#include <thread>
#include <vector>

#include "boost/asio/dispatch.hpp"
#include "boost/asio/post.hpp"
#include "devhost/server/http_server_state.h"
#include "devhost/server/inspector.h"
#include "platform/socket_options.h"

namespace Kestrel::DevHost {
namespace Serving {
namespace {

// Events kept for streams that are between two writes: at most this many, and
// about this many bytes (the newest event always stays).
constexpr size_t kEventHistory = 1024;
constexpr size_t kEventHistoryBytes = size_t{4} * 1024 * 1024;
// How long stopping waits for connections to end: streams to send their
// final chunk, answers under way to be written.
constexpr auto kStopWait = std::chrono::seconds(2);
// How long accepting pauses after a failed accept (out of descriptors).
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

// Runs `loop` until it stops. A handler that throws (memory ran out) loses
// its connection; the loop goes on.
void RunLoop(asio::io_context& loop) {
  for (;;) {
    try {
      loop.run();
      return;
    } catch (...) {
    }
  }
}

}  // namespace

void ServerState::Publish(Channel& channel, std::string frame) {
  std::vector<std::shared_ptr<Session>> streams;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (channel.numbered)
      frame = "id: " + std::to_string(channel.frames.end_number()) + "\n" + frame;
    const size_t bytes = frame.size();
    channel.frames.Add(std::move(frame), bytes, kEventHistory, kEventHistoryBytes);
    for (auto& [key, session] : channel.streams) streams.push_back(session.lock());
  }
  for (const std::shared_ptr<Session>& session : streams) {
    if (session != nullptr) WakeSession(*session);
  }
}

void ServerState::Accept() {
  acceptor.async_accept(asio::make_strand(loop),
                        [this](const error_code& error, tcp::socket socket) {
                          OnAccepted(error, std::move(socket));
                        });
}

void ServerState::OnAccepted(const error_code& error, tcp::socket socket) {
  if (error == asio::error::operation_aborted || !acceptor.is_open()) return;
  if (!error) {
    StartSession(this, std::move(socket));
    return Accept();
  }
  accept_pause.expires_after(kAcceptRetry);
  accept_pause.async_wait([this](const error_code& paused) {
    if (!paused) Accept();
  });
}

}  // namespace Serving

using namespace Serving;

struct DevHttpServer::State : ServerState {};

DevHttpServer::DevHttpServer(CoreHost* host, HttpServerOptions options)
    : state_(std::make_unique<State>()) {
  state_->host = host;
  state_->options = options;
  state_->workers = std::make_unique<asio::thread_pool>(std::max(1, options.worker_threads));
  ObserveHost(HostObserver{});
}

void DevHttpServer::ObserveHost(HostObserver also) {
  ServerState* state = state_.get();
  HostObserver observer = also;
  observer.on_event = [this, also = also.on_event](const RecordedEvent& event) {
    PublishEvent(event);
    if (also) also(event);
  };
  observer.on_call = [state, also = also.on_call](const CallRecord& call) {
    state->Publish(state->inspector, CallFrame(call));
    if (also) also(call);
  };
  observer.on_outgoing = [state, also = also.on_outgoing](const OutgoingRecord& outgoing) {
    state->Publish(state->inspector, OutgoingFrame(outgoing));
    if (also) also(outgoing);
  };
  observer.on_log = [state, also = also.on_log](const LogLine& line) {
    state->Publish(state->inspector, LogFrame(line));
    if (also) also(line);
  };
  state->host->SetObserver(std::move(observer));
}

DevHttpServer::~DevHttpServer() {
  Stop();
  state_->host->SetObserver(HostObserver{});
}

MaybeType<int> DevHttpServer::Bind(const std::string& address, int port) {
  State& state = *state_;
  error_code unresolved;  // leaves no endpoints
  tcp::resolver resolver(state.loop);
  auto endpoints =
      resolver.resolve(address, std::to_string(port),
                       tcp::resolver::passive | tcp::resolver::numeric_service, unresolved);
  bool listening = false;
  for (auto it = endpoints.begin(); !listening && it != endpoints.end(); ++it) {
    error_code failed;
    state.acceptor.open(it->endpoint().protocol(), failed);
    if (failed) continue;
    // Binding a port another socket listens on fails instead of sharing it.
    // Best effort: without the options the bind below still reports what it
    // cannot take.
    (void)Platform::SetListeningSocketOptions(static_cast<int>(state.acceptor.native_handle()));
    state.acceptor.bind(it->endpoint(), failed);
    // The system's usual backlog, so that a burst of connections waits.
    if (!failed) state.acceptor.listen(asio::socket_base::max_listen_connections, failed);
    listening = !failed;
    if (!listening) state.acceptor.close(failed);
  }
  if (!listening) {
    if (port == 0) {
      return Failure(503, "Cannot listen on %1: no free port or a bad address", address);
    }
    return Failure(503, "Cannot listen on %1:%2: the port is busy or the address is not available",
                   address, port);
  }
  state.bound = true;
  state.guard = HostGuard{state.acceptor.local_endpoint().address().is_loopback(),
                          state.options.allowed_hosts};
  return static_cast<int>(state.acceptor.local_endpoint().port());
}

bool DevHttpServer::listens_on_loopback() const {
  return state_->bound && state_->guard.loopback;
}

void DevHttpServer::ServeRoster(SimulatedPeers* peers) {
  state_->peers = peers;
}

void DevHttpServer::ServeSession(const SessionRecorder* recorder) {
  state_->session = recorder;
}

bool DevHttpServer::Run() {
  State& state = *state_;
  if (!state.bound) return false;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.stopping) return false;
    state.running = true;
  }
  asio::dispatch(state.acceptor.get_executor(), [&state] { state.Accept(); });
  std::vector<std::thread> helpers;
  for (int i = 1; i < kEventThreads; ++i) {
    helpers.emplace_back([&state] { RunLoop(state.loop); });
  }
  RunLoop(state.loop);
  for (std::thread& helper : helpers) helper.join();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.running = false;
  }
  state.changed.notify_all();
  // Calls still in progress finish; their answers have nowhere to go.
  state.workers->join();
  return true;
}

void DevHttpServer::Stop() {
  State& state = *state_;
  std::vector<std::shared_ptr<Session>> open;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.stopping = true;
    for (auto& [key, session] : state.sessions) open.push_back(session.lock());
  }
  asio::post(state.acceptor.get_executor(), [&state] {
    error_code ignored;
    state.acceptor.close(ignored);
    state.accept_pause.cancel();
  });
  for (const std::shared_ptr<Session>& session : open) {
    if (session != nullptr) FinishSession(*session);
  }
  open.clear();
  {
    std::unique_lock<std::mutex> lock(state.mutex);
    state.changed.wait_for(lock, kStopWait,
                           [&] { return state.sessions.empty() || !state.running; });
  }
  state.loop.stop();
}

void DevHttpServer::PublishEvent(const RecordedEvent& event) {
  state_->Publish(state_->events, EventFrame(event));
  state_->Publish(state_->inspector, PublishedFrame(event));
}

void DevHttpServer::PublishReload(const ReloadRecord& reload) {
  state_->Publish(state_->inspector, ReloadFrame(reload));
}

int DevHttpServer::open_event_streams() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return static_cast<int>(state_->open_streams());
}

}  // namespace Kestrel::DevHost
