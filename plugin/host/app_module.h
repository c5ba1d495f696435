// The application module: the plugin's one long-lived object. The host drives
// it through the `ModuleEntryTable`; a feature module derives from
// `CoreAppModule`, registers its types and endpoints in `RegisterApi` and uses
// the module's services (calls to other plugins, service-proxy calls, events,
// waiting, telemetry).
//
// Ownership: the module owns its type registry, its endpoints (routes,
// handlers, API description), every handler table, the service-proxy client,
// the host log target, the telemetry sender and every text it hands the host;
// all of them live until the module is destroyed. Host records it receives
// stay the host's.
//
// Life: `Shutdown` sets the finalizing flag, stops the module and returns at
// once. Every entry point the host calls (descriptor call-backs, event
// call-backs, the entry table) counts itself in the module's `CallGate`
// (remoting/call_gate.h) while it runs, and the module is destroyed when the
// last call that was in progress at `Shutdown` leaves, on that call's thread
// (at `Shutdown` itself when none was). A service-proxy call that waits for
// its answer when `Shutdown` comes gets the failure "Finalizing" (code 0)
// through its future, so the handler that waits runs its own failure path;
// every other step of a call in progress completes as it would have. A call
// that starts after `Shutdown` answers "Finalizing" and runs no handler;
// answers that arrive after it are dropped.
//
// Every operation the plugin asks of the host goes through the virtual slots 4
// to 12, which `CoreAppModule` forwards to the host's `CoreFunctionTable`.
// Nothing here throws across the host boundary: the entry-table functions and
// the event call-backs catch everything.
//
//   class MyModule : public CoreAppModule {
//     void RegisterApi() override {
//       Get("/my-plugin/v1/items", [this]() -> MaybeType<Items> { return items_; });
//     }
//   };
#ifndef VYN_PLUGIN_HOST_APP_MODULE_H_
#define VYN_PLUGIN_HOST_APP_MODULE_H_

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_property.h"
#include "binding/convert_native.h"
#include "binding/static_type.h"
#include "binding/type_registry.h"
#include "host_abi/host_records.h"
#include "plugin/host/event_tables.h"
#include "plugin/host/module_events.h"
#include "plugin/host/outgoing_request.h"
#include "plugin/host/plugin_name.h"
#include "plugin/host/semantic_version.h"
#include "plugin/host/service_proxy_client.h"
#include "remoting/call_gate.h"
#include "remoting/remoting_endpoints.h"
#include "util/failure.h"
#include "util/format_text.h"

// The result type a module waits for is named in wait labels by its static
// type; `MaybeType<T>` is written as the result of `Failure` and T.
template <class T>
struct Kestrel::StaticTypeSpelling<Kestrel::MaybeType<T>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("class Kestrel::MaybeType",
                            {"class Kestrel::Failure", StaticTypeSpelling<T>::Text()});
  }
};

namespace Kestrel::Client {

class PluginLogTarget;
class TelemetrySender;

// Host subscription flags of the two handler flavours.
inline constexpr uint32_t kResourceEventFlag = 0;
inline constexpr uint32_t kServiceProxyEventFlag = 1;

// Reports a future error caught while waiting (the fatal "ALE-6D828C10"
// assertion report). Never fails; the caller raises the error again.
void ReportAwaitFailure(const std::future_error& error);

class AppModule {
 public:
  using PluginLcdsEvent = Client::PluginLcdsEvent;
  using PluginLcdsResponse = Client::PluginLcdsResponse;
  using PluginServiceProxyResponse = Client::PluginServiceProxyResponse;

  // Handlers of the two event flavours (event_tables.h).
  using ResourceHandler = Client::ResourceHandler;
  using ServiceProxyHandler = Client::ServiceProxyHandler;
  using EventHandler = Client::EventHandler;

  AppModule();
  AppModule(const AppModule&) = delete;
  AppModule& operator=(const AppModule&) = delete;

  // Virtual operations, in slot order.

  // Slot 0: counted subscription to the resource event of `path`; the first
  // one installs the resource dispatcher and subscribes at the host.
  virtual void SubscribeEvent(const std::string& path);
  // Slot 1: counted release; the one that brings the count from 1 to 0
  // unsubscribes at the host and removes the handler.
  virtual void UnsubscribeEvent(const std::string& path);
  // Slot 2.
  virtual ~AppModule();
  // Slot 3: unsubscribes every handled event and clears every handler table
  // and the service-proxy tables. Never fails.
  virtual void Stop();
  // Slots 4 to 12: the host's functions 1 to 9, arguments passed unchanged.
  // Callers pass no null pointer (records, name, label); a subscription's
  // `context` is what the call-back gets back.
  virtual void SendRequest(CoreResponse* response, const CoreRequest* request) = 0;
  virtual void HostReserved2(uint32_t first, uint32_t second) = 0;
  virtual void SendEvent(const CoreEvent* event) = 0;
  virtual void Subscribe(const char* name, uint32_t plugin_id, CoreEventCallback callback,
                         void* context, uint32_t flag) = 0;
  virtual void Unsubscribe(const char* name, uint32_t plugin_id) = 0;
  virtual void HostReserved6(uint32_t first, uint32_t second, uint32_t third, double fourth,
                             uint32_t fifth) = 0;
  virtual void Yield() = 0;
  virtual void BeginWait(const char* label, uint32_t zero) = 0;
  virtual void EndWait() = 0;
  // Slot 13: registers the feature's types and endpoints.
  virtual void RegisterApi() = 0;
  // Slot 14: the feature's start; returning false fails `Initialize`.
  [[nodiscard]] virtual bool OnInitialize() { return true; }

  // --- Registry, endpoints and names -------------------------------------

  TypeRegistry& registry() { return registry_; }
  RemotingEndpoints& endpoints() { return endpoints_; }
  uint32_t plugin_id() const { return plugin_id_; }
  // "KestrelClient/<host API version> (<full name>)"; empty until `Initialize`.
  const std::string& user_agent() const { return user_agent_; }
  // True once `Shutdown` began; thread-safe.
  bool finalizing() const { return gate_.closed(); }
  const SemanticVersion& host_version() const { return host_version_; }
  const PluginNameRecord& plugin_name() const { return plugin_name_; }
  const std::vector<std::string>& tags() const { return plugin_name_.tags; }
  // Null until `Initialize` created it.
  TelemetrySender* telemetry() { return telemetry_.get(); }
  // The channel outgoing requests go through (outgoing_request.h): the
  // registry, the plugin id, slot 4 and `YieldOnce`. Lives as long as the
  // module.
  RequestChannel& requests() { return requests_; }
  // The service-proxy protocol (service_proxy.h has the typed calls); lives as
  // long as the module and answers "Finalizing" after `Stop`.
  ServiceProxyClient& service_proxy() { return service_proxy_; }

  // Load-time setters used by the entry point.
  void SetHostVersion(const SemanticVersion& version) { host_version_ = version; }
  // Keeps `record` and gives its tags to every later route.
  void SetPluginName(PluginNameRecord record);
  // Builds the API description from the registry and routes once and returns
  // it. May throw std::bad_alloc.
  const ApiDescription& BuildApiDescription() { return endpoints_.BuildApiDescription(); }

  // Route registration: GET or POST `path` served by `callable` (a callable
  // returning `MaybeType<R>` whose parameters are the declared arguments).
  // The route carries the module's tags; declare its arguments on the
  // returned builder. An already registered name gives a failed builder.
  template <class Callable>
  RouteBuilder Get(std::string_view path, Callable&& callable) {
    return endpoints_.Get(path, std::forward<Callable>(callable));
  }
  template <class Callable>
  RouteBuilder Post(std::string_view path, Callable&& callable) {
    return endpoints_.Post(path, std::forward<Callable>(callable));
  }

  // --- Waiting -------------------------------------------------------------

  // Returns the value of `future`, handing control to the host (`Yield`)
  // until it is ready; a wait is announced once ("Wait: future<T>") and ended
  // when one was announced. There is no timeout: `Shutdown` ends the waits of
  // service-proxy calls by failing their futures. A future error (no state,
  // broken promise) is reported as fatal and raised again: callers inside a
  // host call must catch it.
  template <class T>
  T Await(std::future<T>& future);

  // One cooperative pause: `BeginWait("Wait: yield")`, `Yield`, `EndWait`.
  void YieldOnce();

  // --- Events ----------------------------------------------------------------

  // Stores `handler` under the event `name` (replacing one there) and
  // subscribes at the host with the flavour's call-back and flag.
  void SetEventHandler(const std::string& name, EventHandler handler);
  // Resource handlers reached through `SubscribeEvent`: by exact path (with
  // leading "/"), and by pattern (see `MatchResourcePattern`) in order of
  // first addition. A second handler for the same path or pattern replaces it.
  void AddResourceHandler(const std::string& path, ResourceHandler handler);
  void AddResourcePatternHandler(const std::string& pattern, ResourceHandler handler);
  // Calls the exact-path handler of the event's uri, then every matching
  // pattern handler.
  void DispatchResourceEvent(const PluginResourceEvent& event);

  // Publishes a change of `resource` at `path` as `OnJsonApiEvent`. Fails,
  // sending nothing, when the resource cannot be converted.
  template <class T>
  MaybeType<void> PublishResourceEvent(PluginResourceEventType type, const std::string& path,
                                       const T& resource);
  // Sends `event` under `EventNameFromUri(event.uri)`, then again under
  // `base_name` when that differs. Fails, sending nothing, when the event
  // cannot be converted.
  MaybeType<void> SendJsonApiEvent(const std::string& base_name, const PluginResourceEvent& event);

 protected:
  // `Initialize` steps shared by every host binding; `functions` may be null
  // (the host log target then drops every line).
  void InstallHostServices(CoreFunctionTable* functions, uint32_t plugin_id);
  // Sets the finalizing flag (closes the gate); later calls answer
  // "Finalizing". Thread-safe.
  void SetFinalizing() { gate_.Close(); }
  // The gate every entry point counts itself in.
  CallGate& call_gate() { return gate_; }

 private:
  // The module as the channel of its outgoing requests.
  class ModuleRequests final : public RequestChannel {
   public:
    explicit ModuleRequests(AppModule& module) : module_(module) {}
    TypeRegistry& registry() override { return module_.registry(); }
    uint32_t plugin_id() const override { return module_.plugin_id(); }
    void SendRequest(CoreResponse* response, const CoreRequest* request) override {
      module_.SendRequest(response, request);
    }
    void YieldOnce() override { module_.YieldOnce(); }

   private:
    AppModule& module_;
  };

  // The call-backs the host calls for events of the two flavours; `context`
  // of the event is the module. A null event, context or name is ignored.
  static VYN_CDECL void DeliverResourceEvent(const CoreEvent* event);
  static VYN_CDECL void DeliverServiceProxyEvent(const CoreEvent* event);
  template <class Record, class Handler>
  static void Deliver(const CoreEvent* event) noexcept;
  // The gate's destruction of a module made with `new` (`module`, not null):
  // detaches the host log target (the logger must not call into the host's
  // table once the module is gone), then deletes the module.
  static void DestroyModule(void* module);

  // Counts the calls in progress; destroys the module after `Shutdown` when
  // the last one leaves. Declared before everything it keeps alive.
  CallGate gate_{&AppModule::DestroyModule, this};

  TypeRegistry registry_;
  RemotingEndpoints endpoints_;

  uint32_t plugin_id_ = 0;
  std::string user_agent_;
  std::unique_ptr<TelemetrySender> telemetry_;

  // Event handlers, subscription counts and resource handlers; the host may
  // deliver on its own threads, so the tables lock themselves.
  EventTables event_tables_;
  // What outgoing requests and the service-proxy client send through.
  ModuleRequests requests_{*this};
  // The service-proxy protocol: pending calls, received answers and
  // asynchronous handlers; subscribed to its three answer events.
  ServiceProxyClient service_proxy_{requests_};

  SemanticVersion host_version_;
  std::unique_ptr<PluginLogTarget> log_target_;
  PluginNameRecord plugin_name_;
};

// The module bound to the host's `CoreFunctionTable`: slots 4 to 12 forward to
// the host (nothing happens before `Initialize`), and the entry table drives
// `Initialize`, `Shutdown` and `GetMemoryStats`.
class CoreAppModule : public AppModule {
 public:
  CoreAppModule();
  ~CoreAppModule() override;

  // Forward to the host's table; before `Initialize`, or for an entry the
  // table leaves null, they do nothing (a response is then left as given).
  void SendRequest(CoreResponse* response, const CoreRequest* request) override;
  void HostReserved2(uint32_t first, uint32_t second) override;
  void SendEvent(const CoreEvent* event) override;
  void Subscribe(const char* name, uint32_t plugin_id, CoreEventCallback callback, void* context,
                 uint32_t flag) override;
  void Unsubscribe(const char* name, uint32_t plugin_id) override;
  void HostReserved6(uint32_t first, uint32_t second, uint32_t third, double fourth,
                     uint32_t fifth) override;
  void Yield() override;
  void BeginWait(const char* label, uint32_t zero) override;
  void EndWait() override;

  // Starts the module against `core` (kept; owned by the host): host log
  // target, user agent, plugin id, telemetry sender, service-proxy handlers,
  // then `OnInitialize`. Returns false when `core` (which may be null) or its
  // table is null or `OnInitialize` fails. May throw what the heap throws; the
  // entry table catches it.
  [[nodiscard]] bool Initialize(CoreInterface* core);
  // Sets finalizing, stops, and releases the host's hold on the module, which
  // must have been made with `new`: it is destroyed now when no call is in
  // progress, otherwise by the last call in progress when it leaves. Returns
  // at once; never throws. Call once.
  void Shutdown() noexcept;

  // Null until `Initialize`.
  CoreInterface* core() const { return core_; }
  // The table the host drives the module with; lives as long as the module.
  // Never nullptr.
  const ModuleEntryTable* entry_table() const { return &entry_table_; }

  // Returns the counting allocator's counters in the host's record.
  static MemoryStats ReadMemoryStats();

 private:
  // The entry table's functions (`ModuleEntryTable` says what a null pointer
  // does to each).
  static VYN_CDECL uint8_t EntryInitialize(void* module, CoreInterface* core);
  static VYN_CDECL void EntryShutdown(void* module);
  static VYN_CDECL void EntryGetMemoryStats(uint32_t ignored, MemoryStats* stats);

  // The host's table; nullptr before `Initialize`.
  CoreFunctionTable* functions() const { return core_ != nullptr ? core_->functions : nullptr; }

  CoreInterface* core_ = nullptr;
  ModuleEntryTable entry_table_;
};

// ---------------------------------------------------------------------------

template <class T>
T AppModule::Await(std::future<T>& future) {
  bool announced = false;
  try {
    while (true) {
      if (!future.valid()) throw std::future_error(std::future_errc::no_state);
      if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        if (announced) EndWait();
        return future.get();
      }
      if (!announced) {
        const std::string label =
            FormatText("Wait: future<%1>", StaticType::Name<T>().display_name);
        BeginWait(label.c_str(), 0);
        announced = true;
      }
      Yield();
    }
  } catch (const std::future_error& error) {
    ReportAwaitFailure(error);
    throw;
  }
}

template <class T>
MaybeType<void> AppModule::PublishResourceEvent(PluginResourceEventType type,
                                                const std::string& path, const T& resource) {
  PluginResourceEvent event;
  event.uri = path;
  event.eventType = type;
  PropertyResult data;
  ConvertNative(data, resource, registry_);
  if (!data.IsValid()) return Failure("%1", data.GetError());
  event.data = static_cast<BindingProperty&&>(data);  // both own their trees: no copy
  return SendJsonApiEvent(kJsonApiEventName, event);
}

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_APP_MODULE_H_
