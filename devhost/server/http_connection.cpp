// The protocol of one connection of the stand-in host's server: reading
// requests under deadlines, answering the host's own endpoints and the
// plugin's calls, event streams, and closing.
#include <array>
#include <chrono>
#include <exception>
#include <new>
#include <optional>
#include <vector>

#include "boost/asio/dispatch.hpp"
#include "boost/asio/post.hpp"
#include "boost/asio/write.hpp"
#include "boost/beast/core/bind_handler.hpp"
#include "boost/beast/core/buffers_cat.hpp"
#include "boost/beast/core/flat_buffer.hpp"
#include "boost/beast/core/string.hpp"
#include "boost/beast/http.hpp"
#include "devhost/server/api_document.h"
#include "devhost/server/http_server_state.h"
#include "devhost/server/inspector.h"
#include "devhost/server/page_files.h"
#include "devhost/server/request_guard.h"
#include "devhost/server/roster_endpoint.h"
#include "devhost/server/session_har.h"

namespace Kestrel::DevHost::Serving {
namespace {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;

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

// The value of `request`'s header `field`; nullopt when it has none.
std::optional<std::string_view> HeaderOf(const Request& request, http::field field) {
  auto found = request.find(field);
  if (found == request.end()) return std::nullopt;
  return found->value();
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

}  // namespace

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
    const std::optional<std::string_view> host = HeaderOf(request, http::field::host);
    if (std::optional<HttpAnswer> refused = RefuseHost(state_->guard, host)) {
      return Answer(std::move(*refused), keep_alive, head_only);
    }
    // Every method but GET and HEAD may change state, and so may every call
    // into the plugin (below).
    const std::optional<std::string_view> origin = HeaderOf(request, http::field::origin);
    if (!get) {
      if (std::optional<HttpAnswer> refused = RefuseOrigin(origin, host.value_or(""))) {
        return Answer(std::move(*refused), keep_alive);
      }
    }
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
        HttpAnswer answer;
        state_->host->ReadApi([&answer](const ApiDescription* api, const std::string& name) {
          answer = api == nullptr
                       ? ErrorAnswer(503, "The plugin is not loaded")
                       : HttpAnswer{200, "application/json", BuildOpenApiDocument(*api, name)};
        });
        return Answer(std::move(answer), keep_alive, head_only);
      }
      if (get && IsPagePath(path)) {
        return Answer(PageAnswer(DefaultPageFolder(), path), keep_alive, head_only);
      }
      if (get && path == kRosterEndpointPath) {
        return Answer(RosterAnswer(state_->peers), keep_alive, head_only);
      }
      if (get && path == kSessionHarPath) {
        return Answer(SessionRecorder::Answer(state_->session), keep_alive, head_only);
      }
      if (verb == http::verb::put && path == kRosterEndpointPath) {
        return Answer(ReplaceRosterAnswer(state_->peers, request.body()), keep_alive);
      }
    } catch (...) {
      return Answer(ThrownAnswer(std::current_exception()), keep_alive);
    }
    if (std::optional<HttpAnswer> refused = RefuseOrigin(origin, host.value_or(""))) {
      return Answer(std::move(*refused), keep_alive, head_only);
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

void StartSession(ServerState* state, tcp::socket socket) {
  std::make_shared<Session>(state, std::move(socket))->Start();
}

void WakeSession(Session& session) {
  session.Wake();
}

void FinishSession(Session& session) {
  session.Finish();
}

}  // namespace Kestrel::DevHost::Serving
