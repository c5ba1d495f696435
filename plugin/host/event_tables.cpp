#include "plugin/host/event_tables.h"

namespace Kestrel::Client {

void EventTables::SetHandler(const std::string& name, EventHandler handler) {
  std::lock_guard<std::mutex> guard(mutex_);
  handlers_[name] = std::move(handler);
}

std::vector<std::string> EventTables::HandledNames() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<std::string> names;
  names.reserve(handlers_.size());
  for (const auto& entry : handlers_) names.push_back(entry.first);
  return names;
}

int32_t EventTables::AddSubscription(const std::string& name) {
  std::lock_guard<std::mutex> guard(mutex_);
  return ++subscription_counts_[name];
}

int32_t EventTables::RemoveSubscription(const std::string& name) {
  std::lock_guard<std::mutex> guard(mutex_);
  const int32_t previous = subscription_counts_[name]--;
  if (previous == 1) handlers_.erase(name);
  return previous;
}

void EventTables::AddResourceHandler(const std::string& path, ResourceHandler handler) {
  std::lock_guard<std::mutex> guard(mutex_);
  resource_handlers_[path] = std::move(handler);
}

void EventTables::AddResourcePatternHandler(const std::string& pattern, ResourceHandler handler) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto& [existing, slot] : pattern_handlers_) {
    if (existing == pattern) {
      slot = std::move(handler);
      return;
    }
  }
  pattern_handlers_.emplace_back(pattern, std::move(handler));
}

std::vector<ResourceHandler> EventTables::ResourceHandlersOf(const std::string& path) const {
  std::vector<ResourceHandler> handlers;
  std::lock_guard<std::mutex> guard(mutex_);
  auto exact = resource_handlers_.find(path);
  if (exact != resource_handlers_.end()) handlers.push_back(exact->second);
  for (const auto& [pattern, handler] : pattern_handlers_) {
    if (MatchResourcePattern(pattern, path)) handlers.push_back(handler);
  }
  return handlers;
}

void EventTables::ClearHandlers() {
  std::lock_guard<std::mutex> guard(mutex_);
  handlers_.clear();
  subscription_counts_.clear();
}

void EventTables::ClearResourceHandlers() {
  std::lock_guard<std::mutex> guard(mutex_);
  resource_handlers_.clear();
  pattern_handlers_.clear();
}

}  // namespace Kestrel::Client
