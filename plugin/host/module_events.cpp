#include "plugin/host/module_events.h"

#include <exception>
#include <utility>
#include <vector>

#include "binding/assign_native.h"
#include "binding/convert_native.h"
#include "binding/core_value_conversion.h"
#include "binding/type_registry.h"
#include "host_abi/core_value.h"
#include "plugin/host/app_module.h"

namespace Kestrel::Client {

void RegisterFrameworkTypes(TypeRegistry& registry) {
  registry.RegisterEnum<PluginManagerState>("PluginManagerState")
      .AddValue("NotReady", 0)
      .AddValue("PluginsInitialized", 1)
      .AddTag(kFrameworkTag);
  registry.RegisterStruct<PluginManagerResource>("PluginManagerResource")
      .AddField("state", &PluginManagerResource::state)
      .AddTag(kFrameworkTag);
  registry.RegisterEnum<PluginResourceEventType>("PluginResourceEventType")
      .AddValue("Create", 0)
      .AddValue("Update", 1)
      .AddValue("Delete", 2)
      .AddTag(kFrameworkTag);
  registry.RegisterStruct<PluginResourceEvent>("PluginResourceEvent")
      .AddField("uri", &PluginResourceEvent::uri)
      .AddField("eventType", &PluginResourceEvent::eventType)
      .AddField("data", &PluginResourceEvent::data)
      .AddTag(kFrameworkTag);
  registry.RegisterStruct<PluginLcdsEvent>("PluginLcdsEvent")
      .AddField("clientId", &PluginLcdsEvent::clientId)
      .AddField("subtopic", &PluginLcdsEvent::subtopic)
      .AddField("typeName", &PluginLcdsEvent::typeName)
      .AddField("body", &PluginLcdsEvent::body)
      .AddTag(kFrameworkTag);
  registry.RegisterStruct<PluginLcdsResponse>("PluginLcdsResponse")
      .AddField("typeName", &PluginLcdsResponse::typeName)
      .AddField("body", &PluginLcdsResponse::body)
      .AddTag(kFrameworkTag);
  registry.RegisterStruct<PluginServiceProxyResponse>("PluginServiceProxyResponse")
      .AddField("uuid", &PluginServiceProxyResponse::uuid)
      .AddField("serviceName", &PluginServiceProxyResponse::serviceName)
      .AddField("methodName", &PluginServiceProxyResponse::methodName)
      .AddField("payload", &PluginServiceProxyResponse::payload)
      .AddField("status", &PluginServiceProxyResponse::status)
      .AddField("error", &PluginServiceProxyResponse::error)
      .AddTag(kFrameworkTag);

  registry.RegisterEvent<PluginResourceEvent>(kJsonApiEventName)
      .SetDescription("Fired when a resource is changed.")
      .AddTag(kFrameworkTag);
  registry.RegisterEvent<PluginLcdsEvent>("OnLcdsEvent")
      .SetDescription("Fired when a message is received over the LCDS connection.")
      .AddTag(kFrameworkTag);
  registry.RegisterEvent<PluginServiceProxyResponse>(kServiceProxyUuidEventName)
      .SetDescription("Fired when a uuid-based service proxy message is received.")
      .AddTag(kFrameworkTag);
  registry.RegisterEvent<PluginServiceProxyResponse>(kServiceProxyMethodEventName)
      .SetDescription("Fired when a method-based service proxy message is received.")
      .AddTag(kFrameworkTag);
  registry.RegisterEvent<PluginServiceProxyResponse>(kServiceProxyAsyncEventName)
      .SetDescription("Fired when an async service proxy message is received.")
      .AddTag(kFrameworkTag);
}

std::string EventNameFromUri(std::string_view path) {
  std::vector<std::string_view> pieces{kJsonApiEventName};
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) pieces.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  const size_t keep = pieces.size() > 1 && pieces[1] == "vyn-platform-config" ? 6 : 4;
  std::string name;
  for (size_t i = 0; i < pieces.size() && i < keep; ++i) {
    if (i > 0) name += '_';
    name += pieces[i];
  }
  return name;
}

bool MatchResourcePattern(std::string_view pattern, std::string_view path) {
  size_t p = 0;
  size_t i = 0;
  while (true) {
    if (i == path.size()) return p == pattern.size();
    if (p == pattern.size()) return false;
    if (pattern[p] == '*') {
      if (path[i] == '/') {
        ++p;  // the star ends having taken nothing more
        continue;
      }
      ++i;
      if (i == path.size()) ++p;  // the star took the last path character
      continue;
    }
    if (pattern[p] != path[i]) return false;
    ++p;
    ++i;
  }
}

// ---------------------------------------------------------------------------
// AppModule: subscriptions, handler tables, delivery and publishing.

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

void AppModule::SubscribeEvent(const std::string& path) {
  const std::string name = EventNameFromUri(path);
  int32_t count = 0;
  {
    std::lock_guard<std::mutex> guard(event_mutex_);
    count = ++subscription_counts_[name];
  }
  if (count == 1) {
    SetEventHandler(name, EventHandler([this](const PluginResourceEvent& event) {
                      DispatchResourceEvent(event);
                    }));
  }
}

void AppModule::UnsubscribeEvent(const std::string& path) {
  const std::string name = EventNameFromUri(path);
  int32_t previous = 0;
  {
    std::lock_guard<std::mutex> guard(event_mutex_);
    previous = subscription_counts_[name]--;
    if (previous == 1) event_handlers_.erase(name);
  }
  if (previous == 1) Unsubscribe(name.c_str(), plugin_id_);
}

void AppModule::SetEventHandler(const std::string& name, EventHandler handler) {
  const bool service_proxy = std::holds_alternative<ServiceProxyHandler>(handler);
  {
    std::lock_guard<std::mutex> guard(event_mutex_);
    event_handlers_[name] = std::move(handler);
  }
  Subscribe(name.c_str(), plugin_id_,
            service_proxy ? &AppModule::DeliverServiceProxyEvent : &AppModule::DeliverResourceEvent,
            this, service_proxy ? kServiceProxyEventFlag : kResourceEventFlag);
}

void AppModule::AddResourceHandler(const std::string& path, ResourceHandler handler) {
  std::lock_guard<std::mutex> guard(event_mutex_);
  resource_handlers_[path] = std::move(handler);
}

void AppModule::AddResourcePatternHandler(const std::string& pattern, ResourceHandler handler) {
  std::lock_guard<std::mutex> guard(event_mutex_);
  for (auto& [existing, slot] : pattern_handlers_) {
    if (existing == pattern) {
      slot = std::move(handler);
      return;
    }
  }
  pattern_handlers_.emplace_back(pattern, std::move(handler));
}

void AppModule::DispatchResourceEvent(const PluginResourceEvent& event) {
  std::string path = event.uri;
  if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
  // Handlers run without the lock: they may subscribe or add handlers.
  std::vector<ResourceHandler> handlers;
  {
    std::lock_guard<std::mutex> guard(event_mutex_);
    auto exact = resource_handlers_.find(path);
    if (exact != resource_handlers_.end()) handlers.push_back(exact->second);
    for (const auto& [pattern, handler] : pattern_handlers_) {
      if (MatchResourcePattern(pattern, path)) handlers.push_back(handler);
    }
  }
  for (const ResourceHandler& handler : handlers) {
    if (handler) handler(event);
  }
}

template <class Record, class Handler>
void AppModule::Deliver(const CoreEvent* event) noexcept {
  if (event == nullptr || event->context == nullptr || event->name == nullptr) return;
  auto* module = static_cast<AppModule*>(event->context);
  try {
    Handler handler;
    {
      std::lock_guard<std::mutex> guard(module->event_mutex_);
      auto found = module->event_handlers_.find(event->name);
      if (found == module->event_handlers_.end()) return;
      const Handler* typed = std::get_if<Handler>(&found->second);
      if (typed == nullptr) return;
      handler = *typed;
    }
    Record record;
    if (!ConvertPayload(event->payload, record, module->registry())) return;
    if (handler) handler(record);
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

}  // namespace Kestrel::Client
