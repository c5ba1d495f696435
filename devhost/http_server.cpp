#include "devhost/http_server.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>

#include "devhost/api_document.h"
#include "devhost/page_files.h"
#include "devhost/roster_endpoint.h"
#include "httplib.h"
#include "platform/socket_options.h"

namespace Kestrel::DevHost {
namespace {

// Events kept for streams that are between two reads: at most this many, and
// about this many bytes (the newest event always stays).
constexpr size_t kEventHistory = 1024;
constexpr size_t kEventHistoryBytes = size_t{4} * 1024 * 1024;
// How often an idle event stream checks whether its client or the server
// went away.
constexpr auto kStreamCheckInterval = std::chrono::milliseconds(200);
// How long stopping waits for open streams to end.
constexpr auto kStreamEndWait = std::chrono::seconds(2);

// Whether the request's framing is ambiguous: two different Content-Length
// values, or a Content-Length with a chunked body. Servers and proxies may
// read such a request differently, so it is refused.
bool HasConflictingFraming(const httplib::Request& req) {
  size_t lengths = req.get_header_value_count("Content-Length");
  if (lengths == 0) return false;
  if (req.has_header("Transfer-Encoding")) return true;
  std::string first = req.get_header_value("Content-Length", 0);
  for (size_t i = 1; i < lengths; ++i) {
    if (req.get_header_value("Content-Length", i) != first) return true;
  }
  return false;
}

void SetError(httplib::Response& res, int status, std::string_view text) {
  res.status = status;
  res.set_content(ErrorBody(text), "application/json");
}

}  // namespace

std::string HttpErrorText(int status, size_t max_body) {
  switch (status) {
    case 400:
      return "Bad request: the request line, a header or the body framing could not be read";
    case 404:
      return "Not found";
    case 405:
      return "Method not allowed";
    case 408:
      return "The request was not received in time";
    case 413:
      return FormatText("The request body is larger than the limit of %1 bytes (--max-body)",
                        static_cast<uint64_t>(max_body));
    case 414:
      return "The request target (path and query) is too long";
    case 416:
      return "The requested range cannot be served";
    case 431:
      return "The request headers are too large";
    case 500:
      return "Internal error while serving the request";
    case 501:
      return "The request method is not implemented";
    case 503:
      return "The server cannot serve the request now";
  }
  return FormatText("The request failed with HTTP status %1", status);
}

struct DevHttpServer::State {
  CoreHost* host = nullptr;
  HttpServerOptions options;
  int listen_socket = -1;
  httplib::Server server;
  bool bound = false;
  std::atomic<uint32_t> next_caller{1};

  // The published events, numbered; streams remember the next number to send.
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> frames;
  uint64_t first_number = 0;  // number of frames.front()
  size_t frame_bytes = 0;
  bool stopping = false;
  bool running = false;   // `Run` entered the library's loop
  bool finished = false;  // and left it
  int open_streams = 0;

  SimulatedPeers* peers = nullptr;  // for the roster endpoint; set before `Run`
};

HttpAnswer AnswerForCall(const MaybeType<CallOutcome>& outcome) {
  HttpAnswer answer;
  if (outcome.is_failure()) {
    answer.status = outcome.failure().code() != 0 ? outcome.failure().code() : 500;
    answer.content_type = "application/json";
    answer.body = ErrorBody(outcome.failure().message());
    return answer;
  }
  const CallOutcome& result = outcome.value();
  if (result.error) {
    answer.status = result.status != 0 ? static_cast<int>(result.status) : 500;
    answer.content_type = "application/json";
    answer.body = ErrorBody(result.error_text);
    return answer;
  }
  if (result.streamed && result.stream_failed) {
    answer.status = 500;
    answer.content_type = "application/json";
    answer.body = ErrorBody("Stream read error");
    return answer;
  }
  if (!result.streamed && result.value.is_nil()) {
    answer.status = 204;
    return answer;
  }
  answer.status = result.status >= 200 && result.status < 300 && result.status != 204
                      ? static_cast<int>(result.status)
                      : 200;
  answer.content_type =
      result.streamed && !result.content_type.empty() ? result.content_type : "application/json";
  answer.body = result.ValueJson();
  return answer;
}

std::string ErrorBody(std::string_view text) {
  return "{\"message\":" + HostValue::String(text).ToJson() + "}";
}

std::string EventFrame(const RecordedEvent& event) {
  // A name with a line break would end the field early; such names do not
  // occur, but the frame must stay well-formed.
  std::string name = event.name;
  for (char& c : name) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return "event: " + name + "\ndata: " + event.payload.ToJson() + "\n\n";
}

DevHttpServer::DevHttpServer(CoreHost* host, HttpServerOptions options)
    : state_(std::make_unique<State>()) {
  state_->host = host;
  state_->options = options;
  State* state = state_.get();
  HostObserver observer;
  observer.on_event = [this](const RecordedEvent& event) { PublishEvent(event); };
  host->SetObserver(std::move(observer));
  // The library's default also shares the port with other listeners, which
  // would hide a busy port. Accepted connections inherit the disabled write
  // delay.
  state->server.set_socket_options([state](socket_t socket) {
    state->listen_socket = socket;
    Platform::SetListeningSocketOptions(socket);
    Platform::DisableWriteDelay(socket);
  });
  const int workers = options.worker_threads;
  state->server.new_task_queue = [workers] {
    return new httplib::ThreadPool(static_cast<size_t>(workers));
  };
  state->server.set_keep_alive_max_count(static_cast<size_t>(options.keep_alive_requests));
  state->server.set_read_timeout(options.read_timeout_ms / 1000,
                                 (options.read_timeout_ms % 1000) * 1000);
  state->server.set_payload_max_length(options.max_body);
  const size_t max_body = options.max_body;
  state->server.set_error_handler(httplib::Server::HandlerWithResponse(
      [max_body](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        SetError(res, res.status, HttpErrorText(res.status, max_body));
        return httplib::Server::HandlerResponse::Handled;
      }));
  state->server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr thrown) {
        std::string text = "Internal error while serving the request";
        try {
          std::rethrow_exception(thrown);
        } catch (const std::bad_alloc&) {
          text = "The host ran out of memory while serving the request";
        } catch (const std::exception& error) {
          text += std::string(": ") + error.what();
        } catch (...) {
        }
        SetError(res, 500, text);
      });
  state->server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!HasConflictingFraming(req)) return httplib::Server::HandlerResponse::Unhandled;
    SetError(res, 400,
             "Conflicting body framing: Content-Length headers that differ, or Content-Length "
             "with Transfer-Encoding");
    res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  });

  state->server.Get("/openapi.json", [state](const httplib::Request&, httplib::Response& res) {
    const ApiDescription* api = state->host->api();
    if (api == nullptr) {
      res.status = 503;
      res.set_content(ErrorBody("The plugin is not loaded"), "application/json");
      return;
    }
    res.set_content(BuildOpenApiDocument(*api, state->host->plugin_name()), "application/json");
  });

  state->server.Get("/events", [state](const httplib::Request&, httplib::Response& res) {
    uint64_t next = 0;
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->open_streams >= state->options.max_event_streams) {
        SetError(res, 503,
                 FormatText("Too many open event streams (at most %1)",
                            state->options.max_event_streams));
        return;
      }
      next = state->first_number + state->frames.size();
      ++state->open_streams;
    }
    res.set_header("Cache-Control", "no-cache");
    auto sent_hello = std::make_shared<bool>(false);
    res.set_chunked_content_provider(
        "text/event-stream",
        [state, next, sent_hello](size_t, httplib::DataSink& sink) mutable {
          if (!*sent_hello) {
            // A comment line: tells the client the stream is open.
            *sent_hello = true;
            static constexpr char kHello[] = ": connected\n\n";
            return sink.write(kHello, sizeof(kHello) - 1);
          }
          std::vector<std::string> pending;
          {
            std::unique_lock<std::mutex> lock(state->mutex);
            state->changed.wait_for(lock, kStreamCheckInterval, [&] {
              return state->stopping || state->first_number + state->frames.size() > next;
            });
            if (state->stopping) {
              // The end of the chunked body: the client sees a complete answer.
              sink.done();
              return true;
            }
            if (next < state->first_number) next = state->first_number;  // fell behind
            for (uint64_t n = next; n < state->first_number + state->frames.size(); ++n) {
              pending.push_back(state->frames[n - state->first_number]);
            }
            next = state->first_number + state->frames.size();
          }
          if (!sink.is_writable()) return false;
          for (const std::string& frame : pending) {
            if (!sink.write(frame.data(), frame.size())) return false;
          }
          return true;
        },
        [state](bool) {
          {
            std::lock_guard<std::mutex> lock(state->mutex);
            --state->open_streams;
          }
          state->changed.notify_all();
        });
  });

  // The host's own page and roster endpoint (page_files.h, roster_endpoint.h).
  auto send = [](httplib::Response& res, const HttpAnswer& answer) {
    res.status = answer.status;
    res.set_content(answer.body, answer.content_type);
  };
  auto page = [send](const httplib::Request& req, httplib::Response& res) {
    send(res, PageAnswer(DefaultPageFolder(), req.path));
  };
  state->server.Get("/", page);
  state->server.Get("/page/.*", page);
  state->server.Get(kRosterEndpointPath,
                    [state, send](const httplib::Request&, httplib::Response& res) {
                      send(res, RosterAnswer(state->peers));
                    });
  state->server.Put(kRosterEndpointPath,
                    [state, send](const httplib::Request& req, httplib::Response& res) {
                      send(res, ReplaceRosterAnswer(state->peers, req.body));
                    });

  auto call = [state](const httplib::Request& req, httplib::Response& res) {
    CallRequest request;
    request.method = static_cast<uint32_t>(HttpMethodFromText(req.method));
    request.path = req.target.empty() ? req.path : req.target;
    for (const auto& [name, value] : req.headers) request.headers.emplace_back(name, value);
    request.content_type = req.get_header_value("Content-Type");
    if (!req.body.empty() || req.has_header("Content-Length")) request.body = req.body;
    request.caller_id = state->next_caller++;
    HttpAnswer answer = AnswerForCall(state->host->Call(request));
    res.status = answer.status;
    if (!answer.content_type.empty()) res.set_content(answer.body, answer.content_type);
  };
  state->server.Get(".*", call);
  state->server.Post(".*", call);
  state->server.Put(".*", call);
  state->server.Patch(".*", call);
  state->server.Delete(".*", call);
  state->server.Options(".*", call);
}

DevHttpServer::~DevHttpServer() {
  Stop();
  state_->host->SetObserver(HostObserver{});
}

MaybeType<int> DevHttpServer::Bind(const std::string& address, int port) {
  int bound_port = port;
  if (port == 0) {
    bound_port = state_->server.bind_to_any_port(address);
    if (bound_port <= 0) {
      return Failure(503, "Cannot listen on %1: no free port or a bad address", address);
    }
  } else if (!state_->server.bind_to_port(address, port)) {
    return Failure(503, "Cannot listen on %1:%2: the port is busy or the address is not available",
                   address, port);
  }
  // The library asks for a backlog of 5, which refuses connections in a burst.
  if (state_->listen_socket >= 0) Platform::UseSystemListenBacklog(state_->listen_socket);
  state_->bound = true;
  return bound_port;
}

void DevHttpServer::ServeRoster(SimulatedPeers* peers) {
  state_->peers = peers;
}

bool DevHttpServer::Run() {
  if (!state_->bound) return false;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->stopping) return false;
    state_->running = true;
  }
  bool served = state_->server.listen_after_bind();
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->finished = true;
  }
  state_->changed.notify_all();
  return served;
}

void DevHttpServer::Stop() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stopping = true;
  state_->changed.notify_all();
  // Open streams end their chunked bodies first: once the library's loop is
  // stopped it no longer asks a stream for more, and the stream would be cut
  // off instead of ended.
  state_->changed.wait_for(lock, kStreamEndWait, [&] { return state_->open_streams == 0; });
  // `Run` may be between entering and starting the library's loop, where a
  // stop request is not seen yet: repeat it until the loop has ended.
  while (state_->running && !state_->finished) {
    lock.unlock();
    state_->server.stop();
    lock.lock();
    state_->changed.wait_for(lock, kStreamCheckInterval, [&] { return state_->finished; });
  }
  lock.unlock();
  state_->server.stop();
}

void DevHttpServer::PublishEvent(const RecordedEvent& event) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->frames.push_back(EventFrame(event));
    state_->frame_bytes += state_->frames.back().size();
    while (state_->frames.size() > 1 &&
           (state_->frames.size() > kEventHistory || state_->frame_bytes > kEventHistoryBytes)) {
      state_->frame_bytes -= state_->frames.front().size();
      state_->frames.pop_front();
      ++state_->first_number;
    }
  }
  state_->changed.notify_all();
}

int DevHttpServer::open_event_streams() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->open_streams;
}

}  // namespace Kestrel::DevHost
