#include "plugin/host/app_module.h"

#include <exception>

#include "binding/assign_native.h"
#include "binding/core_value_conversion.h"
#include "host_abi/core_value.h"
#include "log/assertion_report.h"
#include "log/logger.h"
#include "plugin/host/plugin_log_target.h"
#include "plugin/host/telemetry.h"
#include "util/counting_allocator.h"

namespace Kestrel::Client {
namespace {

// Converts a delivered payload into the flavour's record; false drops the event.
template <class Record>
bool ConvertPayload(const CoreValue& payload, Record& record, TypeRegistry& registry) {
  BindingProperty property;
  if (!FromCoreValue(payload, property, "<result>", nullptr)) return false;
  PropertyResult status;
  AssignNative(status, record, property, "<result>", registry);
  return status.IsValid();
}

}  // namespace

void ReportAwaitFailure(const std::future_error& error) {
  const std::string description =
      FormatText("Caught std::future_error in AppModule::Await: (%1) %2", error.code().value(),
                 error.code().message());
  ReportAssertion("ALE-6D828C10", description.c_str(), __FILE__, __LINE__, "AppModule::Await");
}

// ---------------------------------------------------------------------------
// AppModule

AppModule::AppModule() : endpoints_(registry_, &gate_) {}

AppModule::~AppModule() = default;

void AppModule::SetPluginName(PluginNameRecord record) {
  plugin_name_ = std::move(record);
  endpoints_.SetTags(plugin_name_.tags);
}

void AppModule::Stop() {
  for (const std::string& name : event_tables_.HandledNames()) {
    Unsubscribe(name.c_str(), plugin_id_);
  }
  event_tables_.ClearHandlers();
  service_proxy_.Close();  // pending calls fail with "Finalizing"
  event_tables_.ClearResourceHandlers();
}

void AppModule::YieldOnce() {
  BeginWait("Wait: yield", 0);
  Yield();
  EndWait();
}

void AppModule::InstallHostServices(CoreFunctionTable* functions, uint32_t plugin_id) {
  InstallHostLogTarget(log_target_, functions);
  user_agent_ = FormatText("KestrelClient/%1 (%2)", host_version_, plugin_name_.full_name);
  plugin_id_ = plugin_id;
  telemetry_ = std::make_unique<TelemetrySender>(requests_);
  SetEventHandler(kServiceProxyUuidEventName,
                  ServiceProxyHandler([this](const PluginServiceProxyResponse& answer) {
                    service_proxy_.OnUuidAnswer(answer);
                  }));
  SetEventHandler(kServiceProxyMethodEventName,
                  ServiceProxyHandler([this](const PluginServiceProxyResponse& answer) {
                    service_proxy_.OnMethodAnswer(answer);
                  }));
  SetEventHandler(kServiceProxyAsyncEventName,
                  ServiceProxyHandler([this](const PluginServiceProxyResponse& answer) {
                    service_proxy_.OnAsyncAnswer(answer);
                  }));
}

void AppModule::DestroyModule(void* module) {
  auto* self = static_cast<AppModule*>(module);
  self->log_target_.reset();
  delete self;
}

// ---------------------------------------------------------------------------
// AppModule: subscriptions, event handlers, delivery and publishing

void AppModule::SubscribeEvent(const std::string& path) {
  const std::string name = EventNameFromUri(path);
  if (event_tables_.AddSubscription(name) == 1) {
    SetEventHandler(name, EventHandler([this](const PluginResourceEvent& event) {
                      DispatchResourceEvent(event);
                    }));
  }
}

void AppModule::UnsubscribeEvent(const std::string& path) {
  const std::string name = EventNameFromUri(path);
  if (event_tables_.RemoveSubscription(name) == 1) Unsubscribe(name.c_str(), plugin_id_);
}

void AppModule::SetEventHandler(const std::string& name, EventHandler handler) {
  const bool service_proxy = std::holds_alternative<ServiceProxyHandler>(handler);
  event_tables_.SetHandler(name, std::move(handler));
  Subscribe(name.c_str(), plugin_id_,
            service_proxy ? &AppModule::DeliverServiceProxyEvent : &AppModule::DeliverResourceEvent,
            this, service_proxy ? kServiceProxyEventFlag : kResourceEventFlag);
}

void AppModule::AddResourceHandler(const std::string& path, ResourceHandler handler) {
  event_tables_.AddResourceHandler(path, std::move(handler));
}

void AppModule::AddResourcePatternHandler(const std::string& pattern, ResourceHandler handler) {
  event_tables_.AddResourcePatternHandler(pattern, std::move(handler));
}

void AppModule::DispatchResourceEvent(const PluginResourceEvent& event) {
  std::string path = event.uri;
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
  for (const ResourceHandler& handler : event_tables_.ResourceHandlersOf(path)) {
    if (handler) handler(event);
  }
}

template <class Record, class Handler>
void AppModule::Deliver(const CoreEvent* event) noexcept {
  if (event == nullptr || event->context == nullptr || event->name == nullptr) return;
  auto* module = static_cast<AppModule*>(event->context);
  // The module lives until `call` ends; an event after `Shutdown` is dropped.
  CallGate::Call call(&module->gate_);
  if (!call.open()) return;
  try {
    Handler handler = module->event_tables_.FindHandler<Handler>(event->name);
    if (!handler) return;
    Record record;
    if (!ConvertPayload(event->payload, record, module->registry())) return;
    handler(record);
  } catch (...) {
    // Events are best-effort, and nothing may reach the host as an exception.
  }
}

VYN_CDECL void AppModule::DeliverResourceEvent(const CoreEvent* event) {
  Deliver<PluginResourceEvent, ResourceHandler>(event);
}

VYN_CDECL void AppModule::DeliverServiceProxyEvent(const CoreEvent* event) {
  Deliver<PluginServiceProxyResponse, ServiceProxyHandler>(event);
}

MaybeType<void> AppModule::SendJsonApiEvent(const std::string& base_name,
                                            const PluginResourceEvent& event) {
  PropertyResult property;
  ConvertNative(property, event, registry());
  if (!property.IsValid()) return Failure("%1", property.GetError());
  CoreValue payload{};
  ToCoreValue(property, payload, &registry());
  const std::string name = EventNameFromUri(event.uri);
  CoreEvent core_event{};
  core_event.name = name.c_str();
  core_event.payload = payload;
  core_event.flag = 0;
  core_event.context = nullptr;
  SendEvent(&core_event);
  if (name != base_name) {
    core_event.name = base_name.c_str();
    SendEvent(&core_event);
  }
  ReleaseToCoreValue(payload);
  return {};
}

// ---------------------------------------------------------------------------
// CoreAppModule

CoreAppModule::CoreAppModule() {
  entry_table_.Initialize = &CoreAppModule::EntryInitialize;
  entry_table_.Shutdown = &CoreAppModule::EntryShutdown;
  entry_table_.GetMemoryStats = &CoreAppModule::EntryGetMemoryStats;
}

CoreAppModule::~CoreAppModule() = default;

void CoreAppModule::SendRequest(CoreResponse* response, const CoreRequest* request) {
  CoreFunctionTable* table = functions();
  if (table != nullptr && table->SendRequest != nullptr)
    table->SendRequest(table, response, request);
}

void CoreAppModule::HostReserved2(uint32_t first, uint32_t second) {
  CoreFunctionTable* table = functions();
  if (table != nullptr && table->Reserved2 != nullptr) table->Reserved2(table, first, second);
}

void CoreAppModule::SendEvent(const CoreEvent* event) {
  CoreFunctionTable* table = functions();
  if (table != nullptr && table->SendEvent != nullptr) table->SendEvent(table, event);
}

void CoreAppModule::Subscribe(const char* name, uint32_t plugin_id, CoreEventCallback callback,
                              void* context, uint32_t flag) {
  CoreFunctionTable* table = functions();
  if (table != nullptr && table->Subscribe != nullptr) {
    table->Subscribe(table, name, plugin_id, callback, context, flag);
  }
}

void CoreAppModule::Unsubscribe(const char* name, uint32_t plugin_id) {
  CoreFunctionTable* table = functions();
  if (table != nullptr && table->Unsubscribe != nullptr) table->Unsubscribe(table, name, plugin_id);
}

void CoreAppModule::HostReserved6(uint32_t first, uint32_t second, uint32_t third, double fourth,
                                  uint32_t fifth) {
  CoreFunctionTable* table = functions();
  if (table != nullptr && table->Reserved6 != nullptr) {
    table->Reserved6(table, first, second, third, fourth, fifth);
  }
}

void CoreAppModule::Yield() {
  CoreFunctionTable* table = functions();
  if (table != nullptr && table->Yield != nullptr) table->Yield(table);
}

void CoreAppModule::BeginWait(const char* label, uint32_t zero) {
  CoreFunctionTable* table = functions();
  if (table != nullptr && table->BeginWait != nullptr) table->BeginWait(table, label, zero);
}

void CoreAppModule::EndWait() {
  CoreFunctionTable* table = functions();
  if (table != nullptr && table->EndWait != nullptr) table->EndWait(table);
}

bool CoreAppModule::Initialize(CoreInterface* core) {
  core_ = core;
  if (core == nullptr || core->functions == nullptr) return false;
  InstallHostServices(core->functions, core->plugin_id);
  return OnInitialize();
}

void CoreAppModule::Shutdown() noexcept {
  SetFinalizing();
  try {
    Stop();
  } catch (...) {
    // Stopping is best-effort; the module goes away regardless.
  }
  // Destroys the module now, or when the last call in progress leaves.
  call_gate().ReleaseHostReference();
}

MemoryStats CoreAppModule::ReadMemoryStats() {
  const AllocatorCounters counters = ReadAllocatorCounters();
  MemoryStats stats{};
  stats.peak_live_bytes = counters.peak_live_bytes;
  stats.peak_live_allocations = counters.peak_live_allocations;
  stats.bytes_allocated = counters.bytes_allocated;
  stats.allocations = counters.allocations;
  stats.bytes_freed = counters.bytes_freed;
  stats.frees = counters.frees;
  stats.reserved1 = 0;
  stats.reserved2 = 0;
  return stats;
}

VYN_CDECL uint8_t CoreAppModule::EntryInitialize(void* module, CoreInterface* core) {
  if (module == nullptr) return 0;
  auto* self = static_cast<CoreAppModule*>(module);
  CallGate::Call call(&self->call_gate());
  if (!call.open()) return 0;
  try {
    return self->Initialize(core) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

VYN_CDECL void CoreAppModule::EntryShutdown(void* module) {
  if (module == nullptr) return;
  static_cast<CoreAppModule*>(module)->Shutdown();
}

VYN_CDECL void CoreAppModule::EntryGetMemoryStats(uint32_t /*ignored*/, MemoryStats* stats) {
  if (stats != nullptr) *stats = ReadMemoryStats();
}

}  // namespace Kestrel::Client
