#include "plugin/host/module_events.h"

#include <vector>

#include "binding/type_building.h"

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

}  // namespace Kestrel::Client
