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
// Every call-back of the function table catches what the host's own code
// throws (an allocation failure): nothing is thrown into the plugin.
//
//   CoreHost host;
//   host.SetRequestHandler(kMethodPost, "/other/v1/thing",
//                          [](const RecordedRequest&) { return ScriptedResponse::Nil(); });
//   if (host.Load(&load_plugin).has_value() && host.Initialize().has_value()) {
//     MaybeType<CallOutcome> outcome = host.Call(CallRequest::Json(kMethodGet, "/x/v1/y", ""));
//   }
#ifndef VYN_DEVHOST_HOST_CORE_HOST_H_
#define VYN_DEVHOST_HOST_CORE_HOST_H_

#include <atomic>
#include <chrono>
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

#include "devhost/host/call_gate.h"
#include "devhost/host/host_value.h"
#include "devhost/host/record_window.h"
#include "devhost/host/scripted_response.h"
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

// One argument of a request: named, or positional (empty name).
struct RecordedArgument {
  std::string name;
  // True when `name` is empty: the argument counts by its place.
  bool positional = true;
  // A deep copy, owned by the record.
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
  uint32_t method = 0;  // an `HttpMethod` value
  std::string path;     // with the query string, as sent
  // The plugin's opaque caller id, as it sent it.
  uint32_t caller_id = 0;
  std::vector<RecordedArgument> arguments;

  // The arguments as one JSON array of their values (names left out).
  std::string ArgumentsJson() const;
};

// An event the plugin published, or one the host delivered to the plugin.
struct RecordedEvent {
  std::string name;
  // The event record's flag word, passed on unchanged.
  uint32_t flag = 0;
  // A deep copy, owned by the record.
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
  // The id the plugin subscribed under; `Unsubscribe` names it again.
  uint32_t plugin_id = 0;
  CoreEventCallback callback = nullptr;
  void* context = nullptr;
  // The flag word the plugin passed, kept unchanged.
  uint32_t flag = 0;
};

// An `Unsubscribe` call: it ends the subscriptions to `name` under
// `plugin_id`.
struct Unsubscription {
  std::string name;
  uint32_t plugin_id = 0;
};

// One line the plugin logged through the host, with the wall-clock time it
// arrived (milliseconds since 1970) and the number of the call in progress
// (0: none).
struct LogLine {
  int32_t level = 0;  // 0 OKAY, 1 WARN, 2 ERROR, 3 ALWAYS
  std::string text;
  int64_t time_ms = 0;
  uint64_t call = 0;
};

// One thing the plugin did towards the other plugins and the server while
// the host watched: a request it sent with the answer it got, an event the
// host delivered to it (an answer coming back), or a wait it began or ended.
// `call` is the number of the call in progress (0: none, as during
// `Initialize`).
struct OutgoingRecord {
  enum class Kind { kRequest, kDelivery, kBeginWait, kEndWait };
  Kind kind = Kind::kRequest;
  uint64_t call = 0;
  int64_t time_ms = 0;       // wall clock, milliseconds since 1970
  uint32_t method = 0;       // requests: an `HttpMethod` value
  std::string name;          // request: its path; delivery: the event name; begin: the label
  std::string payload_json;  // request: its arguments; delivery: the payload
  uint32_t status = 0;       // request: the answer's status (0: none set)
  bool error = false;        // request: answered with an error
  std::string answer_json;   // request: the answer's value, or {"message": ...} on error
};

// Answers one outgoing request; called on the thread of the plugin's call.
using RequestHandler = std::function<ScriptedResponse(const RecordedRequest&)>;

struct CallRecord;

// Live notifications of what the plugin does; each member may be empty. They
// are called on the plugin's thread, without any host lock held.
struct HostObserver {
  // A request the plugin sent, before its handler answers it.
  std::function<void(const RecordedRequest&)> on_request;
  // An event the plugin published.
  std::function<void(const RecordedEvent&)> on_event;
  std::function<void(const LogLine&)> on_log;
  std::function<void(const std::string& label)> on_begin_wait;
  // Every outgoing record, once complete (a request with its answer); only
  // when set are the records' JSON texts made.
  std::function<void(const OutgoingRecord&)> on_outgoing;
  // A call into the plugin, once it returned.
  std::function<void(const CallRecord&)> on_call;
};

// One call of a plugin function.
struct CallRequest {
  uint32_t method = kMethodGet;                              // an `HttpMethod` value
  std::string path;                                          // may carry "?" and a query string
  std::vector<std::pair<std::string, std::string>> headers;  // name, value
  std::string content_type;
  std::optional<std::string> body;  // no body: a null body pointer
  // Arguments outside the body, handed to the function as they are.
  std::vector<RecordedArgument> arguments;
  // Opaque to the host; the plugin gets it unchanged.
  uint32_t caller_id = 0;
  std::string method_name;  // with `kMethodCustom`

  // A request with a JSON `body` ("" means no body) and the JSON content type.
  static CallRequest Json(uint32_t method, std::string path, std::string body);
};

// What the plugin answered, copied out of its `CoreResponse`.
struct CallOutcome {
  std::string function_name;  // the descriptor's, "" when none matched
  bool error = false;         // the response's error flag
  std::string error_text;     // with `error`
  uint32_t status = 0;        // 0 when the plugin set none
  // The response's result flag and body encoding (1, 2, 3 or 0), as set.
  uint8_t result_flag = 0;
  uint32_t body_encoding = 0;
  std::string content_type;
  std::vector<std::pair<std::string, std::string>> headers;  // name, value
  // A deep copy of the response's value, owned by the outcome.
  HostValue value;
  // Whether the answer was a stream; then `stream_text` holds all it read,
  // and `stream_failed` tells that a read failed or the stream ran over the
  // host's bound (the text is then cut short).
  bool streamed = false;
  std::string stream_text;
  bool stream_failed = false;

  // The value as JSON text, or the stream text when the answer was streamed.
  std::string ValueJson() const { return streamed ? stream_text : value.ToJson(); }

  CallOutcome() = default;
  CallOutcome(const CallOutcome& other) { *this = other; }
  CallOutcome& operator=(const CallOutcome& other);
  CallOutcome(CallOutcome&&) = default;
  CallOutcome& operator=(CallOutcome&&) = default;
};

// One call the host made into the plugin: numbered from 1 in the order made,
// with its request and outcome copied, when it began (milliseconds since
// 1970), how long it took, and the plugin's allocator counters before and
// after (queued events delivered after the call are part of it).
struct CallRecord {
  // The allocations the plugin made during the call, and the change in its
  // live bytes and live allocations over it.
  int64_t AllocationsMade() const;
  int64_t LiveBytesChange() const;
  int64_t LiveAllocationsChange() const;

  uint64_t number = 0;
  int64_t time_ms = 0;      // when it began, wall clock
  int64_t duration_us = 0;  // from the call-back made to the response copied
  // The load of the plugin that answered (`CoreHost::load_number` then), so
  // that calls before and after a reload can be told apart.
  uint32_t load = 0;
  CallRequest request;
  CallOutcome outcome;
  // The plugin's allocator counters as the call began and after it (equal
  // when the plugin was shut down during the call).
  MemoryStats memory_before{};
  MemoryStats memory_after{};
};

// The bytes and allocations `stats` counts as live (allocated, not freed).
int64_t LiveBytes(const MemoryStats& stats);
int64_t LiveAllocations(const MemoryStats& stats);

struct HostOptions {
  // The host plugin API version the handshake announces; a plugin of
  // another major version is refused.
  uint32_t api_major = 18;
  uint32_t api_minor = 0;
  uint32_t api_patch = 0;
  // The id the host's `CoreInterface` gives the plugin.
  uint32_t plugin_id = 1;
  // Deliver queued events after every call into the plugin returns.
  bool deliver_after_calls = true;
  // How many of each kind of record (requests, events, delivered events,
  // subscriptions, unsubscriptions, wait labels, log lines, calls) are kept, and
  // about how many bytes of each kind: the newest ones; 0 keeps all. A
  // long-running server sets bounds.
  size_t record_limit = 0;
  size_t record_bytes_limit = 0;
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
  // nothing when no module is loaded or it was already shut down. It does
  // not wait for calls in progress on other threads (a call waiting for a
  // server answer gets the failure "Finalizing" and ends through the
  // handler's own failure path); calls that start after it are refused with
  // status 503.
  void Shutdown();

  // Shuts down (if needed) and unloads the library; the host can load again.
  // Drops the plugin's subscriptions and the events queued for it; keeps
  // the handlers and the records. Waits for a call in progress.
  void Unload();

  // Replaces the plugin with the library at `path` between calls: holds new
  // calls back, lets calls in progress finish on the old plugin for up to
  // `drain` (then shuts it down, which ends those still waiting), unloads it,
  // loads `path` and initializes it. Handlers and records stay. On failure no
  // plugin is loaded and `Call` answers 503 with the reason until a later
  // load succeeds. Safe from any thread but from inside a call.
  MaybeType<void> Reload(const std::string& path, std::chrono::milliseconds drain);

  // The number of the current load: 1 after the first successful `Load`,
  // one more after each later one; 0 before.
  uint32_t load_number() const { return load_number_; }
  // Whether a `Reload` holds new calls back now.
  bool reloading() const { return gate_.closed(); }

  // Whether a plugin is loaded (its entry table kept), and whether its
  // `Initialize` succeeded and it is not shut down yet.
  bool loaded() const { return entry_table_ != nullptr; }
  bool initialized() const { return initialized_; }
  // The record the plugin filled at load; zero before.
  const Client::CorePluginRecord& plugin_record() const { return record_; }
  // The plugin's full name, or "" before load.
  std::string plugin_name() const;
  // The plugin's API description, or nullptr when not loaded or shut down.
  // Valid until the plugin is unloaded: a server that may reload it reads
  // the description through `ReadApi`.
  const ApiDescription* api() const;
  // Calls `read` with `api()` and the plugin's name while the plugin cannot
  // be unloaded or reloaded; waits for a call in progress.
  void ReadApi(
      const std::function<void(const ApiDescription* api, const std::string& name)>& read) const;

  // Copies the module's allocator counters; zeros when nothing is loaded or
  // the module is shut down (it may be gone). Waits for a call in progress.
  MemoryStats GetMemoryStats() const;

  // The module's allocator counters without waiting: fresh when no call is
  // in progress, else those taken as the current call began. Zeros when
  // nothing is loaded. Safe from any thread.
  MemoryStats SampleMemoryStats() const;

  // The number of the call in progress (0: none). Safe from any thread.
  uint64_t current_call() const { return current_call_; }

  // --- Calling the plugin -------------------------------------------------

  // Returns the descriptor whose method (0: any; custom: same name) and path
  // template match; the query string of `path` is ignored. nullptr when none.
  const CoreFunctionDescriptor* FindFunction(uint32_t method, std::string_view path,
                                             std::string_view method_name = {}) const;

  // Finds the function and calls it (see `CallFunction`); waits while a
  // `Reload` replaces the plugin. Fails with status 404 when no function
  // matches and 503 when the module is not initialized (with the reason when
  // a reload failed).
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

  // Replaces the observer (an empty one stops the notifications); calls
  // under way may still notify the previous one.
  void SetObserver(HostObserver observer);

  // --- Records ------------------------------------------------------------

  // Copies of the records kept (see `HostOptions` for how many), oldest
  // first. Requests the plugin sent, whatever answered them.
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
  // The labels of the waits the plugin began (`BeginWait`), and how many
  // `EndWait` and `Yield` calls it made.
  std::vector<std::string> wait_labels() const;
  int end_wait_count() const;
  int yield_count() const;
  // The lines the plugin logged through the host.
  std::vector<LogLine> log_lines() const;
  // The calls made into the plugin, oldest first; and the one numbered
  // `number`, or nothing when it is not (or no longer) kept.
  std::vector<CallRecord> calls() const;
  std::optional<CallRecord> FindCall(uint64_t number) const;
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
  // One registered answer: `path` is exact, or a prefix with `prefix`;
  // `method` 0 matches any.
  struct HandlerEntry {
    uint32_t method;
    std::string path;
    bool prefix;
    RequestHandler handler;
  };

  // The host behind a table it handed out.
  static CoreHost* FromTable(CoreFunctionTable* table);
  // The function table's call-backs, one per entry, in table order: each
  // finds its host through the table and contains what it throws.
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

  // Records an outgoing request, answers it through its handler and fills
  // the plugin's response.
  void HandleSendRequest(Client::CoreResponse* response, const Client::CoreRequest* request);
  // True when an observer takes outgoing records; their JSON texts are only
  // made then, so that a host nobody inspects does not write them per call.
  bool ObservesOutgoing();
  // Reports `record` to the observer, stamped with the call in progress.
  void ReportOutgoing(OutgoingRecord record);
  // The call proper, without its record: request built, response copied out.
  CallOutcome RunFunction(const CoreFunctionDescriptor& function, const CallRequest& request);
  // The exact handler for `method` and `path`, else the longest prefix one;
  // nullptr when none. Needs `state_mutex_`.
  const HandlerEntry* FindHandler(uint32_t method, const std::string& path) const;

  HostOptions options_;
  // What the plugin gets at `Initialize`: the table of call-backs and the
  // interface that points to it.
  HostTable table_;
  CoreInterface core_interface_;

  // Plugin state; changed only under `call_mutex_`: the library loaded by
  // path (null for a plugin loaded from its entry function), the record its
  // handshake filled and the module's entry table (null: nothing loaded).
  std::unique_ptr<Platform::SharedLibrary> library_;
  Client::CorePluginRecord record_{};
  const Client::ModuleEntryTable* entry_table_ = nullptr;
  // Read by calls without `call_mutex_`: `Shutdown` does not wait for calls
  // in progress.
  std::atomic<bool> initialized_{false};
  std::atomic<bool> shut_down_{false};
  // Makes `Shutdown` run once, and keeps it from running while the module's
  // counters are read.
  mutable std::mutex shutdown_mutex_;
  // Serialises calls into the plugin and changes of its life; recursive, as
  // a plugin may call back into the host during a call.
  mutable std::recursive_mutex call_mutex_;
  // Calls pass it on their way in; `Reload` closes it while it replaces the
  // plugin.
  CallGate gate_;
  std::atomic<uint32_t> load_number_{0};  // see `load_number()`
  // Why no plugin answers after a failed `Reload`, "" otherwise; under
  // `call_mutex_`.
  std::string unavailable_reason_;

  // Handlers, subscriptions, the event queue and the records.
  mutable std::mutex state_mutex_;
  std::vector<HandlerEntry> handlers_;
  // Every subscription made (a window), and those in force.
  RecordWindow<Subscription> subscriptions_;
  std::vector<Subscription> active_subscriptions_;
  RecordWindow<Unsubscription> unsubscriptions_;
  // Events queued for the plugin, not delivered yet.
  std::deque<RecordedEvent> pending_events_;
  RecordWindow<RecordedRequest> requests_;
  RecordWindow<RecordedEvent> events_;
  RecordWindow<RecordedEvent> delivered_events_;
  RecordWindow<std::string> wait_labels_;
  int end_wait_count_ = 0;
  int yield_count_ = 0;
  RecordWindow<LogLine> log_lines_;
  RecordWindow<CallRecord> calls_;
  HostObserver observer_;
  // The call in progress (changed under `call_mutex_`) and the last number
  // given; the counters taken as the current call began (under
  // `state_mutex_`).
  std::atomic<uint64_t> current_call_{0};
  uint64_t last_call_number_ = 0;
  MemoryStats call_start_memory_{};

  // Adds `record` to `window` within the options' bounds.
  template <typename Record>
  void Keep(RecordWindow<Record>& window, Record record);
};

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_HOST_CORE_HOST_H_
