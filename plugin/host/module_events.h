// The framework's own event vocabulary and the pieces of event handling that
// do not need a module: the records every module registers at load (tag
// "kclient"), the event name derived from a resource path, and the matching of
// resource paths against handler patterns.
//
// The module's event tables are `EventTables` (event_tables.h); subscribing,
// the delivery call-backs and publishing are `AppModule` operations
// (app_module.h).
//
//   EventNameFromUri("/vyn-spectator/v1/spectate");  // "OnJsonApiEvent_vyn-spectator_v1_spectate"
//   MatchResourcePattern("/a/*/c", "/a/b/c");         // true
#ifndef VYN_PLUGIN_HOST_MODULE_EVENTS_H_
#define VYN_PLUGIN_HOST_MODULE_EVENTS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/static_type.h"

namespace Kestrel {
class TypeRegistry;
}  // namespace Kestrel

namespace Kestrel::Client {

enum class PluginManagerState : int32_t {
  NotReady = 0,
  PluginsInitialized = 1,
};

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

enum class PluginResourceEventType : int32_t {
  Create = 0,
  Update = 1,
  Delete = 2,
};

// The payload of `OnJsonApiEvent`: which resource changed, how, and its new
// value. Owns its data tree.
struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  BindingProperty data;
};

// The records below are known to the host by their `AppModule`-scoped names
// (see the spellings at the end of this header); `AppModule` re-exports them.
struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  BindingProperty body;
};

struct PluginLcdsResponse {
  std::string typeName;
  BindingProperty body;
};

// The answer to a service-proxy call, delivered as an event payload. All texts;
// `payload` is the JSON text of the answer.
struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

// The tag of every framework type and event.
inline constexpr char kFrameworkTag[] = "kclient";

// The plain event name under which resource changes are also published.
inline constexpr char kJsonApiEventName[] = "OnJsonApiEvent";
inline constexpr char kServiceProxyUuidEventName[] = "OnServiceProxyUuidEvent";
inline constexpr char kServiceProxyMethodEventName[] = "OnServiceProxyMethodEvent";
inline constexpr char kServiceProxyAsyncEventName[] = "OnServiceProxyAsyncEvent";

// Registers the framework types and the five framework events in `registry`,
// each tagged "kclient". A name registered before keeps its first definition.
// Never fails.
void RegisterFrameworkTypes(TypeRegistry& registry);

// Returns the event name of a resource path: the non-empty pieces between "/",
// after "OnJsonApiEvent", the first 4 of them (6 when the second is
// "vyn-platform-config"), joined by "_". Never fails.
std::string EventNameFromUri(std::string_view path);

// Returns whether `path` matches `pattern` under the resource-handler rule: a
// "*" takes the characters of one path segment (never a "/"), stays on the
// star while it takes them, and never gives any back; every other pattern
// character must equal the path character. Both must be used up together.
// Runs in linear time; never fails.
bool MatchResourcePattern(std::string_view pattern, std::string_view path);

}  // namespace Kestrel::Client

VYN_STATIC_TYPE(Kestrel::Client::PluginManagerState, "enum Kestrel::Client::PluginManagerState");
VYN_STATIC_TYPE(Kestrel::Client::PluginManagerResource,
                "struct Kestrel::Client::PluginManagerResource");
VYN_STATIC_TYPE(Kestrel::Client::PluginResourceEventType,
                "enum Kestrel::Client::PluginResourceEventType");
VYN_STATIC_TYPE(Kestrel::Client::PluginResourceEvent,
                "struct Kestrel::Client::PluginResourceEvent");
VYN_STATIC_TYPE(Kestrel::Client::PluginLcdsEvent,
                "struct Kestrel::Client::AppModule::PluginLcdsEvent");
VYN_STATIC_TYPE(Kestrel::Client::PluginLcdsResponse,
                "struct Kestrel::Client::AppModule::PluginLcdsResponse");
VYN_STATIC_TYPE(Kestrel::Client::PluginServiceProxyResponse,
                "struct Kestrel::Client::AppModule::PluginServiceProxyResponse");

#endif  // VYN_PLUGIN_HOST_MODULE_EVENTS_H_
