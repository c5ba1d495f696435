#include "devhost/program/dev_host_commands.h"

#include <memory>
#include <mutex>
#include <thread>

#include "devhost/peers/roster.h"
#include "devhost/peers/simulated_peers.h"
#include "devhost/server/api_document.h"
#include "devhost/server/api_listing.h"
#include "devhost/server/session_har.h"

namespace Kestrel::DevHost {
namespace {

constexpr const char* kLogLevels[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};

// What a long-running server keeps of each kind of record: enough to look
// at recent calls, bounded however long it runs and however large the calls.
constexpr size_t kServeRecordLimit = 1000;
constexpr size_t kServeRecordBytesLimit = size_t{4} * 1024 * 1024;

int Fail(std::ostream& err, const Failure& failure) {
  err << "vyn-devhost: " << failure.message() << "\n";
  return 2;
}

}  // namespace

MaybeType<RunningHost> StartHost(const DevHostOptions& options, const PluginSource& source,
                                 const HostObserver& observer, size_t record_limit,
                                 size_t record_bytes_limit,
                                 const std::function<void(CoreHost*, SimulatedPeers*)>& install) {
  Roster roster = DefaultRoster();
  if (!options.roster_path.empty()) {
    MaybeType<Roster> loaded = LoadRosterFile(options.roster_path);
    if (loaded.is_failure()) return loaded.failure();
    roster = loaded.TakeValue();
  }
  RunningHost running;
  running.host = std::make_unique<CoreHost>(HostOptions{options.api_major, options.api_minor,
                                                        options.api_patch, 1, true, record_limit,
                                                        record_bytes_limit});
  running.peers =
      std::make_unique<SimulatedPeers>(std::move(roster), record_limit, record_bytes_limit);
  if (install) {
    install(running.host.get(), running.peers.get());
  } else {
    running.peers->Install(running.host.get());
  }
  running.host->SetObserver(observer);
  MaybeType<void> loaded = source.entry != nullptr ? running.host->Load(source.entry)
                                                   : running.host->LoadLibrary(options.plugin_path);
  if (loaded.is_failure()) return loaded.failure();
  MaybeType<void> started = running.host->Initialize();
  if (started.is_failure()) return started.failure();
  return running;
}

namespace {

// The line `serve --watch` prints for a reload.
std::string ReloadLine(const ReloadRecord& reload) {
  if (!reload.succeeded) {
    return FormatText("vyn-devhost: %1 did not load: %2", reload.path, reload.reason);
  }
  return FormatText("vyn-devhost: reloaded %1 (load %2, %3 ms)", reload.path, reload.load,
                    reload.duration_ms);
}

}  // namespace

bool ShowsLogLine(LogFilter filter, int32_t level) {
  switch (filter) {
    case LogFilter::kNone:
      return false;
    case LogFilter::kError:
      return level == 2;
    case LogFilter::kWarn:
      return level == 1 || level == 2;
    case LogFilter::kAll:
      return true;
  }
  return true;
}

std::string LogLevelText(int32_t level) {
  if (level >= 0 && level < 4) return kLogLevels[level];
  return std::to_string(level);
}

int RunDescribe(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
                std::ostream& err) {
  MaybeType<RunningHost> running = StartHost(options, source, HostObserver{});
  if (running.is_failure()) return Fail(err, running.failure());
  CoreHost& host = *running.value().host;
  const ApiDescription& api = *host.api();
  switch (options.format) {
    case DescribeFormat::kText:
      out << DescribeApiText(api, host.plugin_name());
      break;
    case DescribeFormat::kJson:
      out << DescribeApiJson(api, host.plugin_name()) << "\n";
      break;
    case DescribeFormat::kOpenApi:
      out << BuildOpenApiDocument(api, host.plugin_name()) << "\n";
      break;
  }
  host.Unload();
  return 0;
}

int RunCall(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
            std::ostream& err) {
  CallRequest request;
  request.method = options.method;
  request.path = options.path;
  request.headers = options.headers;
  request.content_type = options.content_type;
  if (options.body.has_value()) {
    MaybeType<std::string> body = ResolveBody(*options.body);
    if (body.is_failure()) return Fail(err, body.failure());
    request.body = body.TakeValue();
    if (request.content_type.empty()) request.content_type = "application/json";
  }
  for (const auto& [name, json] : options.arguments) {
    MaybeType<HostValue> value = HostValue::FromJson(json);
    if (value.is_failure()) {
      return Fail(err, Failure(2, "--arg %1: %2", name, value.failure().message()));
    }
    request.arguments.emplace_back(name, value.TakeValue());
  }

  HostObserver observer;
  if (options.verbose) {
    observer.on_request = [&out](const RecordedRequest& sent) {
      out << "request " << HttpMethodText(HttpMethodFromValue(sent.method)) << " " << sent.path
          << " " << sent.ArgumentsJson() << "\n";
    };
    observer.on_event = [&out](const RecordedEvent& event) {
      out << "event " << event.name << " " << event.payload.ToJson() << "\n";
    };
    observer.on_begin_wait = [&out](const std::string& label) { out << "wait " << label << "\n"; };
    observer.on_log = [&out](const LogLine& line) {
      out << "log " << LogLevelText(line.level) << "| " << line.text << "\n";
    };
  }
  MaybeType<RunningHost> running = StartHost(options, source, observer);
  if (running.is_failure()) return Fail(err, running.failure());
  CoreHost& host = *running.value().host;
  host.ClearRecords();  // what Initialize did is not part of the call
  HttpAnswer answer = AnswerForCall(host.Call(request));
  if (options.verbose) {
    for (const RecordedEvent& event : host.delivered_events()) {
      out << "delivered " << event.name << " " << event.payload.ToJson() << "\n";
    }
    out << "yields " << host.yield_count() << ", waits ended " << host.end_wait_count() << "\n";
    for (const CallRecord& call : host.calls()) {
      out << "call took " << call.duration_us << " us, " << call.AllocationsMade()
          << " allocations, live bytes " << (call.LiveBytesChange() >= 0 ? "+" : "")
          << call.LiveBytesChange() << "\n";
    }
  }
  out << "status: " << answer.status << "\n";
  if (!answer.body.empty()) out << answer.body << "\n";
  host.SetObserver(HostObserver{});
  host.Unload();
  return answer.status >= 400 ? 1 : 0;
}

int RunServe(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
             std::ostream& err, const std::function<void(int port)>& wait_for_stop) {
  auto out_mutex = std::make_shared<std::mutex>();
  HostObserver observer;
  const LogFilter filter = options.log;
  observer.on_log = [&out, out_mutex, filter](const LogLine& line) {
    if (!ShowsLogLine(filter, line.level)) return;
    std::lock_guard<std::mutex> lock(*out_mutex);
    out << "log " << LogLevelText(line.level) << "| " << line.text << std::endl;
  };
  // With --watch the host loads copies of the library, which the watch makes.
  std::unique_ptr<LibraryWatch> watch;
  DevHostOptions loading = options;
  if (options.watch && source.entry == nullptr) {
    watch = std::make_unique<LibraryWatch>(options.plugin_path, WatchOptions{});
    MaybeType<std::string> copy = watch->CopyForFirstLoad();
    if (copy.is_failure()) return Fail(err, copy.failure());
    loading.plugin_path = copy.TakeValue();
  }
  MaybeType<RunningHost> running =
      StartHost(loading, source, observer, kServeRecordLimit, kServeRecordBytesLimit);
  if (running.is_failure()) return Fail(err, running.failure());
  CoreHost& host = *running.value().host;
  SessionRecorder recorder(&host, running.value().peers.get(), kServeRecordLimit,
                           kServeRecordBytesLimit);
  recorder.Observe(&observer);
  int port = 0;
  {
    HttpServerOptions server_options;
    server_options.max_body = options.max_body;
    server_options.allowed_hosts = options.allowed_hosts;
    DevHttpServer server(&host, server_options);
    server.ServeRoster(running.value().peers.get());
    server.ServeSession(&recorder);
    // The server observes the host; log lines are still printed.
    server.ObserveHost(observer);

    MaybeType<int> bound = server.Bind(options.bind_address, options.port);
    if (bound.is_failure()) {
      host.SetObserver(HostObserver{});
      host.Unload();
      return Fail(err, bound.failure());
    }
    port = bound.value();
    std::thread thread([&server] { server.Run(); });
    {
      std::lock_guard<std::mutex> lock(*out_mutex);
      out << "vyn-devhost: " << host.plugin_name() << " listening on http://"
          << options.bind_address << ":" << port << std::endl;
      if (!server.listens_on_loopback()) {
        err << "vyn-devhost: warning: " << options.bind_address
            << " is not a loopback address: anyone who can reach it can call the plugin and "
               "read everything it does"
            << std::endl;
      }
    }
    if (watch != nullptr) {
      watch->Start(&host, [&server, &out, out_mutex](const ReloadRecord& reload) {
        server.PublishReload(reload);
        std::lock_guard<std::mutex> lock(*out_mutex);
        out << ReloadLine(reload) << std::endl;
      });
    }
    wait_for_stop(port);
    // No reload from here on.
    if (watch != nullptr) watch->Stop();
    // The plugin first: calls waiting for an answer end ("Finalizing"), so
    // the workers that serve them can finish and the server can stop.
    host.Shutdown();
    server.Stop();
    thread.join();
  }
  host.SetObserver(HostObserver{});
  host.Unload();
  watch.reset();  // its copies go once nothing has them loaded
  {
    std::lock_guard<std::mutex> lock(*out_mutex);
    out << "vyn-devhost: stopped" << std::endl;
  }
  return 0;
}

}  // namespace Kestrel::DevHost
