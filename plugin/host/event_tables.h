// `EventTables`: the module's tables of event handling, apart from the host.
// They hold the handler of every event name the module subscribed to (one
// handler per name, of the resource or the service-proxy flavour), the
// subscription counts of resource events, and the resource handlers that
// `AppModule::DispatchResourceEvent` reaches, by exact path and by pattern.
//
// The tables own their handlers. One mutex guards them all: the host may
// deliver events on its own threads. Lookups hand out copies of handlers, so
// that a handler runs without the lock and may subscribe or add handlers.
// Talking to the host (subscribing, unsubscribing) is the module's part
// (app_module.h).
//
//   EventTables tables;
//   if (tables.AddSubscription(name) == 1) tables.SetHandler(name, EventHandler(dispatcher));
//   ResourceHandler found = tables.FindHandler<ResourceHandler>(name);
#ifndef VYN_PLUGIN_HOST_EVENT_TABLES_H_
#define VYN_PLUGIN_HOST_EVENT_TABLES_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "plugin/host/module_events.h"

namespace Kestrel::Client {

// Handlers of the two event flavours, each given the converted payload.
using ResourceHandler = std::function<void(const PluginResourceEvent&)>;
using ServiceProxyHandler = std::function<void(const PluginServiceProxyResponse&)>;
using EventHandler = std::variant<ResourceHandler, ServiceProxyHandler>;

class EventTables {
 public:
  EventTables() = default;
  EventTables(const EventTables&) = delete;
  EventTables& operator=(const EventTables&) = delete;

  // Stores `handler` under `name`, replacing one there.
  void SetHandler(const std::string& name, EventHandler handler);
  // Returns a copy of the handler of `name` when it is of the flavour
  // `Handler`; an empty handler otherwise.
  template <class Handler>
  Handler FindHandler(const std::string& name) const;
  // The names that have a handler, in no particular order.
  std::vector<std::string> HandledNames() const;

  // Counts one more subscription of `name` (a missing count starts at 0) and
  // returns the new count.
  int32_t AddSubscription(const std::string& name);
  // Counts one subscription of `name` less (a missing count starts at 0) and
  // returns the count before; when that was 1, the handler of `name` is
  // removed. Unbalanced releases leave the count below zero.
  int32_t RemoveSubscription(const std::string& name);

  // Resource handlers by exact path (with leading "/"), and by pattern (see
  // `MatchResourcePattern`) in order of first addition. A second handler for
  // the same path or pattern replaces it.
  void AddResourceHandler(const std::string& path, ResourceHandler handler);
  void AddResourcePatternHandler(const std::string& pattern, ResourceHandler handler);
  // Copies of the handlers that `path` reaches: the exact one first, then
  // every matching pattern's in table order.
  std::vector<ResourceHandler> ResourceHandlersOf(const std::string& path) const;

  // Forgets the event handlers and the subscription counts.
  void ClearHandlers();
  // Forgets the resource handlers.
  void ClearResourceHandlers();

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, EventHandler> handlers_;
  std::unordered_map<std::string, int32_t> subscription_counts_;
  std::unordered_map<std::string, ResourceHandler> resource_handlers_;
  std::vector<std::pair<std::string, ResourceHandler>> pattern_handlers_;
};

template <class Handler>
Handler EventTables::FindHandler(const std::string& name) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto found = handlers_.find(name);
  if (found == handlers_.end()) return Handler();
  const Handler* typed = std::get_if<Handler>(&found->second);
  return typed != nullptr ? *typed : Handler();
}

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_EVENT_TABLES_H_
