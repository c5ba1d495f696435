#include "devhost/http_server.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "devhost/api_document.h"
#include "devhost/page_files.h"
#include "devhost/roster_endpoint.h"
#include "httplib.h"
#include "platform/socket_options.h"

namespace Kestrel::DevHost {
namespace {

// Events kept for streams that are between two reads.
constexpr size_t kEventHistory = 1024;
// How often an idle event stream checks whether its client or the server
// went away.
constexpr auto kStreamCheckInterval = std::chrono::milliseconds(200);

}  // namespace

struct DevHttpServer::State {
  CoreHost* host = nullptr;
  httplib::Server server;
  bool bound = false;
  std::atomic<uint32_t> next_caller{1};

  // The published events, numbered; streams remember the next number to send.
  mutable std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> frames;
  uint64_t first_number = 0;  // number of frames.front()
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

DevHttpServer::DevHttpServer(CoreHost* host) : state_(std::make_unique<State>()) {
  state_->host = host;
  State* state = state_.get();
  HostObserver observer;
  observer.on_event = [this](const RecordedEvent& event) { PublishEvent(event); };
  host->SetObserver(std::move(observer));
  // The library's default also shares the port with other listeners, which
  // would hide a busy port.
  state->server.set_socket_options(
      [](socket_t socket) { Platform::SetListeningSocketOptions(socket); });

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
            if (state->stopping) return false;
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
          std::lock_guard<std::mutex> lock(state->mutex);
          --state->open_streams;
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
    if (state_->frames.size() > kEventHistory) {
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
