#include "plugin/host/app_module.h"

#include <exception>

#include "log/assertion_report.h"
#include "plugin/host/plugin_log_target.h"
#include "plugin/host/telemetry.h"
#include "util/counting_allocator.h"

namespace Kestrel::Client {

void ReportAwaitFailure(const std::future_error& error) {
  const std::string description =
      FormatText("Caught std::future_error in AppModule::Await: (%1) %2", error.code().value(),
                 error.code().message());
  ReportAssertion("ALE-6D828C10", description.c_str(), __FILE__, __LINE__, "AppModule::Await");
}

// ---------------------------------------------------------------------------
// AppModule

AppModule::AppModule() : endpoints_(registry_, this) {}

AppModule::~AppModule() = default;

void AppModule::SetPluginName(PluginNameRecord record) {
  plugin_name_ = std::move(record);
  endpoints_.SetTags(plugin_name_.tags);
}

void AppModule::Stop() {
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> guard(event_mutex_);
    names.reserve(event_handlers_.size());
    for (const auto& entry : event_handlers_) names.push_back(entry.first);
  }
  for (const std::string& name : names) Unsubscribe(name.c_str(), plugin_id_);
  {
    std::lock_guard<std::mutex> guard(event_mutex_);
    event_handlers_.clear();
    subscription_counts_.clear();
  }
  {
    std::lock_guard<std::mutex> guard(service_proxy_mutex_);
    pending_calls_.clear();
    received_answers_.clear();
    async_handlers_.clear();
  }
  std::lock_guard<std::mutex> guard(event_mutex_);
  resource_handlers_.clear();
  pattern_handlers_.clear();
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
  telemetry_ = std::make_unique<TelemetrySender>(*this);
  SetEventHandler(kServiceProxyUuidEventName,
                  ServiceProxyHandler([this](const PluginServiceProxyResponse& answer) {
                    OnServiceProxyUuidEvent(answer);
                  }));
  SetEventHandler(kServiceProxyMethodEventName,
                  ServiceProxyHandler([this](const PluginServiceProxyResponse& answer) {
                    OnServiceProxyMethodEvent(answer);
                  }));
  SetEventHandler(kServiceProxyAsyncEventName,
                  ServiceProxyHandler([this](const PluginServiceProxyResponse& answer) {
                    OnServiceProxyAsyncEvent(answer);
                  }));
}

void AppModule::DestroyHostLogTarget() {
  log_target_.reset();
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
  // The logger must not call into the host's table once the module is gone.
  DestroyHostLogTarget();
  delete this;
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
  try {
    return static_cast<CoreAppModule*>(module)->Initialize(core) ? 1 : 0;
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
