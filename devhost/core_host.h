// `CoreHost`: an in-process plugin host for tests and for the stand-in host.
//
// It loads a plugin (from its entry function, or from a shared library by
// path), performs the handshake as a configurable host plugin API version,
// initializes the module with its own `CoreFunctionTable` and calls the
// plugin's functions through their descriptors, exactly as the real host does.
// Towards the plugin it plays the other plugins: outgoing requests go to
// handlers registered per method and path (or path prefix) that script the
// response; everything the plugin does is recorded (requests with deep-copied
// arguments, published events, subscriptions, waits, yields, log lines).
// Events queued for the plugin are delivered when it calls `Yield` and after
// every call into it returns.
//
// The host owns its records and the values it hands out; the plugin's records
// (the API description, texts) belong to the plugin and are valid between
// `Load*` and `Shutdown`. All public operations are safe to call from several
// threads: calls into the plugin are serialised by one recursive lock, so a
// plugin that yields inside a call gets its events on the calling thread.
//
//   CoreHost host;
//   host.SetRequestHandler(kMethodPost, "/other/v1/thing",
//                          [](const RecordedRequest&) { return ScriptedResponse::Nil(); });
//   if (host.Load(&load_plugin).has_value() && host.Initialize().has_value()) {
//     MaybeType<CallOutcome> outcome = host.Call(CallRequest::Json(kMethodGet, "/x/v1/y", ""));
//   }
#ifndef VYN_DEVHOST_CORE_HOST_H_
#define VYN_DEVHOST_CORE_HOST_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devhost/host_value.h"
#include "host_abi/host_records.h"
#include "host_abi/http_method.h"
#include "util/failure.h"

namespace Kestrel::Platform {
class SharedLibrary;
}

namespace Kestrel::DevHost {

using Client::ApiDescription;
using Client::CoreEventCallback;
using Client::CoreFunctionDescriptor;
using Client::CoreFunctionTable;
using Client::CoreInterface;
using Client::LoadPluginFunction;
using Client::MemoryStats;

// The name of the symbol the host looks up in a plugin library.
inline constexpr const char* kPluginEntrySymbol = "load_vyn_spectator";

// Whether `path` (without query) matches the route template `path_template`:
// literal text must be equal, "{name}" matches one segment (no "/", possibly
// empty), "{+name}" any rest, "{#name}" a "#" and any rest.
bool PathMatchesTemplate(std::string_view path_template, std::string_view path);

// One argument of a request: named, or positional (empty name).
struct RecordedArgument {
  std::string name;
  bool positional = true;
  HostValue value;

  RecordedArgument() = default;
  RecordedArgument(std::string argument_name, HostValue argument_value)
      : name(std::move(argument_name)),
        positional(name.empty()),
        value(std::move(argument_value)) {}
  RecordedArgument(const RecordedArgument& other)
      : name(other.name), positional(other.positional), value(other.value.Clone()) {}
  RecordedArgument& operator=(const RecordedArgument& other) {
    if (this != &other) {
      name = other.name;
      positional = other.positional;
      value = other.value.Clone();
    }
    return *this;
  }
  RecordedArgument(RecordedArgument&&) = default;
  RecordedArgument& operator=(RecordedArgument&&) = default;
};

// A request the plugin sent to the host, copied when it arrived.
struct RecordedRequest {
  uint32_t method = 0;
  std::string path;
  uint32_t caller_id = 0;
  std::vector<RecordedArgument> arguments;

  // The arguments as one JSON array of their values (names left out).
  std::string ArgumentsJson() const;
};

// An event the plugin published, or one the host delivered to the plugin.
struct RecordedEvent {
  std::string name;
  uint32_t flag = 0;
  HostValue payload;

  RecordedEvent() = default;
  RecordedEvent(std::string event_name, uint32_t event_flag, HostValue event_payload)
      : name(std::move(event_name)), flag(event_flag), payload(std::move(event_payload)) {}
  RecordedEvent(const RecordedEvent& other)
      : name(other.name), flag(other.flag), payload(other.payload.Clone()) {}
  RecordedEvent& operator=(const RecordedEvent& other) {
    if (this != &other) {
      name = other.name;
      flag = other.flag;
      payload = other.payload.Clone();
    }
    return *this;
  }
  RecordedEvent(RecordedEvent&&) = default;
  RecordedEvent& operator=(RecordedEvent&&) = default;
};

// A subscription the plugin made. `callback` and `context` are the plugin's.
struct Subscription {
  std::string name;
  uint32_t plugin_id = 0;
  CoreEventCallback callback = nullptr;
  void* context = nullptr;
  uint32_t flag = 0;
};

struct Unsubscription {
  std::string name;
  uint32_t plugin_id = 0;
};

// One line the plugin logged through the host.
struct LogLine {
  int32_t level = 0;
  std::string text;
};

// One piece of a scripted response stream. A read returns at most the
// reader's buffer size; a chunk larger than that is split over several reads
// with "more" set, and its own `more` applies to its last piece. A chunk with
// `fail` makes that read return false.
struct StreamChunk {
  std::string data;
  bool more = true;
  bool fail = false;
};

// How the host answers one outgoing request of the plugin.
struct ScriptedResponse {
  HostValue value;
  bool error = false;
  std::string error_text;
  uint32_t status = 0;
  bool streamed = false;
  std::vector<StreamChunk> chunks;

  // Success with `value` (nil: no value).
  static ScriptedResponse Value(HostValue value);
  static ScriptedResponse Nil() { return Value(HostValue()); }
  // Success with the value parsed from JSON `text`; a text that does not
  // parse gives an error response with status 500 naming the problem.
  static ScriptedResponse Json(std::string_view text);
  // An error response with `text` and `status` (0: none).
  static ScriptedResponse Error(std::string text, uint32_t status);
  // A streamed response made of `chunks` (and no value).
  static ScriptedResponse Stream(std::vector<StreamChunk> chunks);
};

// Answers one outgoing request; called on the thread of the plugin's call.
using RequestHandler = std::function<ScriptedResponse(const RecordedRequest&)>;

// Live notifications of what the plugin does; each member may be empty. They
// are called on the plugin's thread, without any host lock held.
struct HostObserver {
  std::function<void(const RecordedRequest&)> on_request;
  std::function<void(const RecordedEvent&)> on_event;
  std::function<void(const LogLine&)> on_log;
  std::function<void(const std::string& label)> on_begin_wait;
};

// One call of a plugin function.
struct CallRequest {
  uint32_t method = kMethodGet;
  std::string path;  // may carry "?" and a query string
  std::vector<std::pair<std::string, std::string>> headers;
  std::string content_type;
  std::optional<std::string> body;  // no body: a null body pointer
  std::vector<RecordedArgument> arguments;
  uint32_t caller_id = 0;
  std::string method_name;  // with `kMethodCustom`

  // A request with a JSON `body` ("" means no body) and the JSON content type.
  static CallRequest Json(uint32_t method, std::string path, std::string body);
};

// What the plugin answered, copied out of its `CoreResponse`.
struct CallOutcome {
  std::string function_name;
  bool error = false;
  std::string error_text;
  uint32_t status = 0;
  uint8_t result_flag = 0;
  uint32_t body_encoding = 0;
  std::string content_type;
  std::vector<std::pair<std::string, std::string>> headers;
  HostValue value;
  bool streamed = false;
  std::string stream_text;
  bool stream_failed = false;

  // The value as JSON text, or the stream text when the answer was streamed.
  std::string ValueJson() const { return streamed ? stream_text : value.ToJson(); }
};

struct HostOptions {
  uint32_t api_major = 18;
  uint32_t api_minor = 0;
  uint32_t api_patch = 0;
  uint32_t plugin_id = 1;
  // Deliver queued events after every call into the plugin returns.
  bool deliver_after_calls = true;
};

class CoreHost {
 public:
  explicit CoreHost(HostOptions options = {});
  CoreHost(const CoreHost&) = delete;
  CoreHost& operator=(const CoreHost&) = delete;
  // Shuts the plugin down when it is still running and unloads its library.
  ~CoreHost();

  // --- Plugin life --------------------------------------------------------

  // Calls `load` with the host's API version and checks what it wrote back.
  // Fails when a plugin is already loaded, `load` is null, the plugin left
  // the entry table, module or API description unset (it refused the host),
  // or its API major version differs from the host's.
  MaybeType<void> Load(LoadPluginFunction load);

  // Loads the shared library at `path`, looks up `load_vyn_spectator` and
  // calls `Load` with it. Fails with the loader's reason, or when the symbol
  // is missing, or as `Load`; the library is unloaded again on failure.
  MaybeType<void> LoadLibrary(const std::string& path);

  // Calls the module's `Initialize` with the host's `CoreInterface`. Fails
  // when nothing is loaded, it already ran, or the module returned 0.
  MaybeType<void> Initialize();

  // Calls the module's `Shutdown` once (also when `Initialize` failed); does
  // nothing when no module is loaded or it was already shut down.
  void Shutdown();

  // Shuts down (if needed) and unloads the library; the host can load again.
  void Unload();

  bool loaded() const { return entry_table_ != nullptr; }
  bool initialized() const { return initialized_; }
  // The record the plugin filled at load; zero before.
  const Client::CorePluginRecord& plugin_record() const { return record_; }
  // The plugin's full name, or "" before load.
  std::string plugin_name() const;
  // The plugin's API description, or nullptr when not loaded or shut down.
  const ApiDescription* api() const;

  // Copies the module's allocator counters; zeros when nothing is loaded.
  MemoryStats GetMemoryStats() const;

  // --- Calling the plugin -------------------------------------------------

  // Returns the descriptor whose method (0: any; custom: same name) and path
  // template match; the query string of `path` is ignored. nullptr when none.
  const CoreFunctionDescriptor* FindFunction(uint32_t method, std::string_view path,
                                             std::string_view method_name = {}) const;

  // Finds the function and calls it (see `CallFunction`). Fails with status
  // 404 when no function matches and 503 when the module is not initialized.
  MaybeType<CallOutcome> Call(const CallRequest& request);

  // Builds a `CoreRequest` from `request` with the descriptor's function
  // context, calls the descriptor's call-back, copies the response out (the
  // whole stream when there is one), releases the stream and the response,
  // then delivers queued events when `deliver_after_calls` is set.
  CallOutcome CallFunction(const CoreFunctionDescriptor& function, const CallRequest& request);

  // --- Playing the other plugins ------------------------------------------

  // Answers outgoing requests whose method (0: any) and exact path (query
  // included) match. A later registration for the same key replaces it.
  void SetRequestHandler(uint32_t method, std::string path, RequestHandler handler);
  // Answers outgoing requests whose path starts with `prefix`, when no exact
  // handler matched; the longest matching prefix wins.
  void SetRequestPrefixHandler(uint32_t method, std::string prefix, RequestHandler handler);
  // Requests that no handler answers get an error response with status 404.

  // Queues an event for the subscribers of `name`; delivered on the plugin's
  // next `Yield`, after the current call returns, or by `DeliverPending`.
  void QueueEvent(std::string name, HostValue payload);

  // Delivers queued events (including those queued meanwhile) to the current
  // subscribers of their names, in queue order. Returns the number of
  // callbacks made.
  int DeliverPending();

  void SetObserver(HostObserver observer);

  // --- Records ------------------------------------------------------------

  std::vector<RecordedRequest> requests() const;
  // Events the plugin published through `SendEvent`.
  std::vector<RecordedEvent> events() const;
  // Events the host delivered to the plugin (one per callback made).
  std::vector<RecordedEvent> delivered_events() const;
  // Every `Subscribe` call, in order.
  std::vector<Subscription> subscriptions() const;
  // Subscriptions still in force.
  std::vector<Subscription> active_subscriptions() const;
  std::vector<Unsubscription> unsubscriptions() const;
  std::vector<std::string> wait_labels() const;
  int end_wait_count() const;
  int yield_count() const;
  std::vector<LogLine> log_lines() const;
  size_t pending_event_count() const;
  // Copies of the events queued for delivery, in queue order.
  std::vector<RecordedEvent> pending_events() const;
  // Forgets every record (not the handlers, subscriptions or queued events).
  void ClearRecords();

  // The table and interface handed to the plugin (valid while the host lives).
  CoreFunctionTable* functions() { return &table_.functions; }
  CoreInterface* core_interface() { return &core_interface_; }

 private:
  // The function table with a way back to its host: the plugin passes the
  // table pointer to every call, and the host finds itself behind it.
  struct HostTable {
    CoreFunctionTable functions;
    CoreHost* host;
  };
  struct HandlerEntry {
    uint32_t method;
    std::string path;
    bool prefix;
    RequestHandler handler;
  };

  static CoreHost* FromTable(CoreFunctionTable* table);
  static void VYN_CDECL OnSendRequest(CoreFunctionTable* table, Client::CoreResponse* response,
                                      const Client::CoreRequest* request);
  static void VYN_CDECL OnReserved2(CoreFunctionTable* table, uint32_t first, uint32_t second);
  static void VYN_CDECL OnSendEvent(CoreFunctionTable* table, const Client::CoreEvent* event);
  static void VYN_CDECL OnSubscribe(CoreFunctionTable* table, const char* name, uint32_t plugin_id,
                                    CoreEventCallback callback, void* context, uint32_t flag);
  static void VYN_CDECL OnUnsubscribe(CoreFunctionTable* table, const char* name,
                                      uint32_t plugin_id);
  static void VYN_CDECL OnReserved6(CoreFunctionTable* table, uint32_t first, uint32_t second,
                                    uint32_t third, double fourth, uint32_t fifth);
  static void VYN_CDECL OnYield(CoreFunctionTable* table);
  static void VYN_CDECL OnBeginWait(CoreFunctionTable* table, const char* label, uint32_t zero);
  static void VYN_CDECL OnEndWait(CoreFunctionTable* table);
  static void VYN_CDECL OnLog(CoreFunctionTable* table, int32_t level, const char* text);

  void HandleSendRequest(Client::CoreResponse* response, const Client::CoreRequest* request);
  const HandlerEntry* FindHandler(uint32_t method, const std::string& path) const;

  HostOptions options_;
  HostTable table_;
  CoreInterface core_interface_;

  // Plugin state; changed only under `call_mutex_`.
  std::unique_ptr<Platform::SharedLibrary> library_;
  Client::CorePluginRecord record_{};
  const Client::ModuleEntryTable* entry_table_ = nullptr;
  bool initialized_ = false;
  bool shut_down_ = false;
  mutable std::recursive_mutex call_mutex_;

  // Handlers, subscriptions, the event queue and the records.
  mutable std::mutex state_mutex_;
  std::vector<HandlerEntry> handlers_;
  std::vector<Subscription> subscriptions_;
  std::vector<Subscription> active_subscriptions_;
  std::vector<Unsubscription> unsubscriptions_;
  std::deque<RecordedEvent> pending_events_;
  std::vector<RecordedRequest> requests_;
  std::vector<RecordedEvent> events_;
  std::vector<RecordedEvent> delivered_events_;
  std::vector<std::string> wait_labels_;
  int end_wait_count_ = 0;
  int yield_count_ = 0;
  std::vector<LogLine> log_lines_;
  HostObserver observer_;
};

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_CORE_HOST_H_
