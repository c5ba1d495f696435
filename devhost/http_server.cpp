#include "devhost/http_server.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "boost/asio/dispatch.hpp"
#include "boost/asio/io_context.hpp"
#include "boost/asio/ip/tcp.hpp"
#include "boost/asio/post.hpp"
#include "boost/asio/steady_timer.hpp"
#include "boost/asio/strand.hpp"
#include "boost/asio/thread_pool.hpp"
#include "boost/asio/write.hpp"
#include "boost/beast/core/bind_handler.hpp"
#include "boost/beast/core/buffers_cat.hpp"
#include "boost/beast/core/flat_buffer.hpp"
#include "boost/beast/core/string.hpp"
#include "boost/beast/http.hpp"
#include "devhost/api_document.h"
#include "devhost/inspector.h"
#include "devhost/page_files.h"
#include "devhost/record_window.h"
#include "devhost/roster_endpoint.h"
#include "platform/socket_options.h"

namespace Kestrel::DevHost {
namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using boost::system::error_code;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;

// Threads that run the event loop of every connection. Calls into the
// plugin run on the worker pool instead, so these never wait.
constexpr int kEventThreads = 2;
// Events kept for streams that are between two writes: at most this many, and
// about this many bytes (the newest event always stays).
constexpr size_t kEventHistory = 1024;
constexpr size_t kEventHistoryBytes = size_t{4} * 1024 * 1024;
// A request head (request line and headers) of more bytes gets 431, or 414
// when its request line alone is longer.
constexpr uint32_t kMaxHeadBytes = 8192;
// How long writing one answer or stream chunk may take before the client
// counts as gone.
constexpr auto kWriteTimeout = std::chrono::seconds(30);
// After an answer that closes the connection, how long what the client
// still sends is read and dropped, so that it reads the answer instead of a
// reset.
constexpr auto kLingerTime = std::chrono::seconds(1);
// How long stopping waits for connections to end: streams to send their
// final chunk, answers under way to be written.
constexpr auto kStopWait = std::chrono::seconds(2);
// How long accepting pauses after a failed accept (out of descriptors).
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);

constexpr char kStreamHead[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
    "Transfer-Encoding: chunked\r\n\r\n";
// The first chunk of a stream: a comment line that tells the client the
// stream is open.
constexpr char kStreamOpen[] = ": connected\n\n";
constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";

HttpAnswer ErrorAnswer(int status, std::string_view text) {
  return HttpAnswer{status, "application/json", ErrorBody(text)};
}

// Whether `error` is the HTTP parser's verdict on what the client sent.
bool IsParseError(const error_code& error) {
  return error.category() == http::make_error_code(http::error::bad_target).category() &&
         error != http::error::end_of_stream && error != http::error::partial_message;
}

// The answer to a request the parser refused; `request` holds what it read
// of it.
HttpAnswer RefusedAnswer(const error_code& error, const Request& request, size_t max_body) {
  if (error == http::error::body_limit) return ErrorAnswer(413, HttpErrorText(413, max_body));
  if (error == http::error::header_limit) {
    // The request line alone was too long when it has not been read.
    const int status = request.target().empty() ? 414 : 431;
    return ErrorAnswer(status, HttpErrorText(status, max_body));
  }
  // Servers and proxies may read a request with ambiguous framing
  // differently, so it is refused.
  if (error == http::error::bad_content_length || error == http::error::bad_transfer_encoding) {
    return ErrorAnswer(400,
                       "Conflicting body framing: Content-Length values that differ or are not "
                       "numbers, or Content-Length with Transfer-Encoding");
  }
  return ErrorAnswer(400, HttpErrorText(400, max_body) + " (" + error.message() + ")");
}

// The 500 answer to a request whose serving threw.
HttpAnswer ThrownAnswer(std::exception_ptr thrown) {
  std::string text = HttpErrorText(500, 0);
  try {
    std::rethrow_exception(thrown);
  } catch (const std::bad_alloc&) {
    text = "The host ran out of memory while serving the request";
  } catch (const std::exception& error) {
    text += std::string(": ") + error.what();
  } catch (...) {
  }
  return ErrorAnswer(500, text);
}

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

class Session;

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
  SimulatedPeers* peers = nullptr;  // for the roster endpoint; set before `Run`
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

// The connection's socket as its reads and writes use it: an operation that
// starts once the deadline has passed fails at once. Beast and Asio read a
// head or a body, and write an answer, in several socket operations, and a
// deadline's cancel reaches only the one that is pending; without this, an
// operation that completed just as the deadline passed would be followed by
// another that waits on.
class DeadlineStream {
 public:
  using executor_type = tcp::socket::executor_type;

  DeadlineStream(tcp::socket& socket, const bool& timed_out)
      : socket_(socket), timed_out_(timed_out) {}

  executor_type get_executor() noexcept { return socket_.get_executor(); }

  template <class MutableBuffers, class Handler>
  void async_read_some(const MutableBuffers& buffers, Handler&& handler) {
    if (!timed_out_) return socket_.async_read_some(buffers, std::forward<Handler>(handler));
    FailLater(std::forward<Handler>(handler));
  }

  template <class ConstBuffers, class Handler>
  void async_write_some(const ConstBuffers& buffers, Handler&& handler) {
    if (!timed_out_) return socket_.async_write_some(buffers, std::forward<Handler>(handler));
    FailLater(std::forward<Handler>(handler));
  }

 private:
  template <class Handler>
  void FailLater(Handler&& handler) {
    asio::post(socket_.get_executor(), boost::beast::bind_front_handler(
                                           std::forward<Handler>(handler),
                                           error_code(asio::error::operation_aborted), size_t{0}));
  }

  tcp::socket& socket_;
  const bool& timed_out_;
};

// One accepted connection. Its handlers run on its own strand, one at a
// time; a call into the plugin runs on the worker pool and the session goes
// on on its strand when it returns. Requests are read through one buffer,
// so pipelined requests are answered in order. A session lives while an
// operation or handler holds it; the server's registry only watches it.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(ServerState* state, tcp::socket socket)
      : state_(state), socket_(std::move(socket)), timer_(socket_.get_executor()) {}
  ~Session() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->sessions.erase(this);
    state_->changed.notify_all();
  }

  // Registers the session and reads its first request.
  void Start() {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (state_->stopping) return;
      state_->sessions[this] = weak_from_this();
    }
    asio::dispatch(socket_.get_executor(), [self = shared_from_this()] {
      error_code ignored;
      self->socket_.set_option(tcp::no_delay(true), ignored);
      self->ReadHead();
    });
  }

  // Sends the events published since the last write (streams only).
  void Wake() {
    asio::post(socket_.get_executor(), [self = shared_from_this()] { self->WriteFrames(); });
  }

  // The server stops: a stream ends its chunked body; any other connection
  // closes, after the answer it is serving.
  void Finish() {
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
      if (self->streaming_) return self->WriteFrames();
      if (!self->serving_) self->Close();
    });
  }

 private:
  // Arms the deadline of the operations that start now: when it passes,
  // they end with `timed_out_` set.
  void SetDeadline(std::chrono::milliseconds duration) {
    timer_.expires_after(duration);
    const uint64_t armed = ++deadline_number_;
    timed_out_ = false;
    timer_.async_wait([self = shared_from_this(), armed](const error_code& error) {
      if (error || armed != self->deadline_number_) return;
      self->timed_out_ = true;
      error_code failed;
      self->socket_.cancel(failed);
      if (failed) self->Close();
    });
  }

  // Ends the deadline: what starts next is not under it, even when it passed
  // as the operations under it completed.
  void ClearDeadline() {
    ++deadline_number_;
    timed_out_ = false;
    timer_.cancel();
  }

  void ReadHead() {
    serving_ = false;
    parser_.emplace();
    parser_->header_limit(kMaxHeadBytes);
    parser_->body_limit(state_->options.max_body);
    SetDeadline(std::chrono::milliseconds(state_->options.header_timeout_ms));
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](const error_code& error, size_t) {
                              if (error) return self->OnReadError(error);
                              self->serving_ = true;
                              self->ReadBody();
                            });
  }

  void ReadBody() {
    if (parser_->is_done()) return Serve();
    auto on_body = [self = shared_from_this()](const error_code& error, size_t) {
      if (error) return self->OnReadError(error);
      self->Serve();
    };
    SetDeadline(std::chrono::milliseconds(state_->options.body_timeout_ms));
    if (boost::beast::iequals(parser_->get()[http::field::expect], "100-continue")) {
      asio::async_write(stream_, asio::buffer(kContinue, sizeof(kContinue) - 1),
                        [self = shared_from_this(), on_body](const error_code& error, size_t) {
                          if (error) return self->Close();
                          http::async_read(self->stream_, self->buffer_, *self->parser_, on_body);
                        });
      return;
    }
    http::async_read(stream_, buffer_, *parser_, on_body);
  }

  // A request that could not be read is answered when something of it
  // arrived (408 when too late, 4xx when refused), then the connection
  // closes.
  void OnReadError(const error_code& error) {
    serving_ = true;
    const bool started = buffer_.size() > 0 || parser_->got_some();
    if (timed_out_ && started) return Answer(ErrorAnswer(408, HttpErrorText(408, 0)), false);
    if (IsParseError(error)) {
      return Answer(RefusedAnswer(error, parser_->get(), state_->options.max_body), false);
    }
    Close();
  }

  void Serve() {
    ClearDeadline();
    ++requests_;
    Request request = parser_->release();
    const bool keep_alive = request.keep_alive() && requests_ < state_->options.keep_alive_requests;
    const http::verb verb = request.method();
    const bool head_only = verb == http::verb::head;
    const bool get = verb == http::verb::get || head_only;
    const std::string_view target = request.target();
    const std::string_view path = target.substr(0, target.find('?'));
    // The host's own endpoints answer at once, on the loop.
    try {
      if (verb == http::verb::get && path == "/events") {
        return StartStream(&state_->events, "", keep_alive);
      }
      if (verb == http::verb::get && path == kInspectorStreamPath) {
        return StartStream(&state_->inspector, request["Last-Event-ID"], keep_alive);
      }
      if (get && path.substr(0, kCallsPathPrefix.size()) == kCallsPathPrefix) {
        return Answer(CallAnswer(*state_->host, path), keep_alive, head_only);
      }
      if (get && path == kMemoryPath) {
        return Answer(MemoryAnswer(state_->host->SampleMemoryStats()), keep_alive, head_only);
      }
      if (get && path == "/openapi.json") {
        const ApiDescription* api = state_->host->api();
        HttpAnswer answer =
            api == nullptr ? ErrorAnswer(503, "The plugin is not loaded")
                           : HttpAnswer{200, "application/json",
                                        BuildOpenApiDocument(*api, state_->host->plugin_name())};
        return Answer(std::move(answer), keep_alive, head_only);
      }
      if (get && IsPagePath(path)) {
        return Answer(PageAnswer(DefaultPageFolder(), path), keep_alive, head_only);
      }
      if (get && path == kRosterEndpointPath) {
        return Answer(RosterAnswer(state_->peers), keep_alive, head_only);
      }
      if (verb == http::verb::put && path == kRosterEndpointPath) {
        return Answer(ReplaceRosterAnswer(state_->peers, request.body()), keep_alive);
      }
    } catch (...) {
      return Answer(ThrownAnswer(std::current_exception()), keep_alive);
    }
    const HttpMethod method = HttpMethodFromText(request.method_string());
    if (method == HttpMethod::kNone) {
      return Answer(ErrorAnswer(501, HttpErrorText(501, 0)), keep_alive);
    }
    // The plugin may keep a call waiting (held answers), so it runs on the
    // worker pool.
    asio::post(*state_->workers, [self = shared_from_this(), request = std::move(request), method,
                                  keep_alive, head_only] {
      HttpAnswer answer;
      try {
        answer = AnswerForCall(self->state_->host->Call(self->ToCall(request, method)));
      } catch (...) {
        answer = ThrownAnswer(std::current_exception());
      }
      asio::post(self->socket_.get_executor(),
                 [self, answer = std::move(answer), keep_alive, head_only]() mutable {
                   self->Answer(std::move(answer), keep_alive, head_only);
                 });
    });
  }

  CallRequest ToCall(const Request& request, HttpMethod method) const {
    CallRequest call;
    call.method = static_cast<uint32_t>(method);
    call.path = std::string(request.target());
    for (const auto& field : request) {
      call.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    call.content_type = std::string(request[http::field::content_type]);
    if (!request.body().empty() || request.has_content_length() || request.chunked()) {
      call.body = request.body();
    }
    call.caller_id = state_->next_caller++;
    return call;
  }

  // Writes `answer` (its head only for HEAD), then reads the next request,
  // or closes when `keep_alive` is false or the server stops.
  void Answer(HttpAnswer answer, bool keep_alive, bool head_only = false) {
    if (closed_) return;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (state_->stopping) keep_alive = false;
    }
    response_.emplace();
    response_->result(static_cast<unsigned>(answer.status));
    if (http::obsolete_reason(response_->result()) == "<unknown-status>") response_->reason("");
    if (!answer.content_type.empty()) {
      response_->set(http::field::content_type, answer.content_type);
    }
    response_->keep_alive(keep_alive);
    if (answer.status != 204 && answer.status != 304) {
      response_->content_length(answer.body.size());
      if (!head_only) response_->body() = std::move(answer.body);
    }
    SetDeadline(kWriteTimeout);
    // Head and body go out in one write: an answer in two parts can wait
    // for the client's delayed acknowledgement of the first.
    http::async_write(stream_, *response_,
                      [self = shared_from_this(), keep_alive](const error_code& error, size_t) {
                        self->response_.reset();
                        if (error) return self->Close();
                        if (keep_alive) return self->ReadHead();
                        self->Linger();
                      });
  }

  void StartStream(Channel* channel, std::string_view last_seen, bool keep_alive) {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (static_cast<int>(state_->open_streams()) < state_->options.max_event_streams) {
        channel->streams[this] = weak_from_this();
        channel_ = channel;
        streaming_ = true;
        next_frame_ = channel->StartNumber(last_seen);
      }
    }
    if (!streaming_) {
      return Answer(ErrorAnswer(503, FormatText("Too many open event streams (at most %1)",
                                                state_->options.max_event_streams)),
                    keep_alive);
    }
    // What the client sends from now on is dropped; its end ends the stream.
    DiscardReads(&Session::EndStream);
    outgoing_ = kStreamOpen;
    writing_ = true;
    SetDeadline(kWriteTimeout);
    asio::async_write(stream_,
                      boost::beast::buffers_cat(asio::buffer(kStreamHead, sizeof(kStreamHead) - 1),
                                                http::make_chunk(asio::buffer(outgoing_))),
                      [self = shared_from_this()](const error_code& error, size_t) {
                        self->OnStreamWritten(error);
                      });
  }

  // Reads and drops what the client sends until the connection ends (or
  // its deadline passes), then calls `at_end`.
  void DiscardReads(void (Session::*at_end)()) {
    stream_.async_read_some(asio::buffer(scratch_),
                            [self = shared_from_this(), at_end](const error_code& error, size_t) {
                              if (error) return ((*self).*at_end)();
                              self->DiscardReads(at_end);
                            });
  }

  // Writes the frames published since the last write as one chunk, or the
  // final chunk when the server stops.
  void WriteFrames() {
    if (!streaming_ || writing_) return;
    bool stopping = false;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      stopping = state_->stopping;
      if (!stopping) outgoing_ = channel_->FramesFrom(&next_frame_);
    }
    if (stopping) {
      writing_ = true;
      SetDeadline(kWriteTimeout);
      asio::async_write(
          stream_, http::make_chunk_last(),
          [self = shared_from_this()](const error_code&, size_t) { self->EndStream(); });
    } else if (!outgoing_.empty()) {
      writing_ = true;
      SetDeadline(kWriteTimeout);
      asio::async_write(stream_, http::make_chunk(asio::buffer(outgoing_)),
                        [self = shared_from_this()](const error_code& error, size_t) {
                          self->OnStreamWritten(error);
                        });
    }
  }

  void OnStreamWritten(const error_code& error) {
    writing_ = false;
    ClearDeadline();
    if (error) return EndStream();
    WriteFrames();
  }

  void EndStream() {
    if (streaming_) {
      streaming_ = false;
      std::lock_guard<std::mutex> lock(state_->mutex);
      channel_->streams.erase(this);
      state_->changed.notify_all();
    }
    Close();
  }

  // Stops sending, reads and drops what the client still sends for a
  // moment, then closes.
  void Linger() {
    serving_ = false;
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    SetDeadline(kLingerTime);
    DiscardReads(&Session::Close);
  }

  void Close() {
    if (closed_) return;
    closed_ = true;
    ClearDeadline();
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  ServerState* const state_;
  tcp::socket socket_;
  asio::steady_timer timer_;
  uint64_t deadline_number_ = 0;
  bool timed_out_ = false;
  DeadlineStream stream_{socket_, timed_out_};  // every read and write goes through it
  bool serving_ = false;                        // a request is read or answered
  bool closed_ = false;
  int requests_ = 0;
  boost::beast::flat_buffer buffer_;  // also holds the start of pipelined requests
  std::optional<http::request_parser<http::string_body>> parser_;
  std::optional<http::response<http::string_body>> response_;
  std::array<char, 512> scratch_{};
  // Event streams.
  Channel* channel_ = nullptr;
  bool streaming_ = false;
  bool writing_ = false;
  uint64_t next_frame_ = 0;
  std::string outgoing_;
};

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
    if (session != nullptr) session->Wake();
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
    std::make_shared<Session>(this, std::move(socket))->Start();
    return Accept();
  }
  accept_pause.expires_after(kAcceptRetry);
  accept_pause.async_wait([this](const error_code& paused) {
    if (!paused) Accept();
  });
}

}  // namespace

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
    Platform::SetListeningSocketOptions(static_cast<int>(state.acceptor.native_handle()));
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
  return static_cast<int>(state.acceptor.local_endpoint().port());
}

void DevHttpServer::ServeRoster(SimulatedPeers* peers) {
  state_->peers = peers;
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
    if (session != nullptr) session->Finish();
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

int DevHttpServer::open_event_streams() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return static_cast<int>(state_->open_streams());
}

}  // namespace Kestrel::DevHost
