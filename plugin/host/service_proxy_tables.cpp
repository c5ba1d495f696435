#include "plugin/host/service_proxy_tables.h"

#include "log/logger.h"
#include "remoting/call_gate.h"

namespace Kestrel::Client {
namespace {

// The answer a call gets when the module shuts down before its own came.
void FailFinalizing(const std::string& key, const ServiceProxyHandler& handler) {
  if (!handler) return;
  PluginServiceProxyResponse answer;
  answer.uuid = key;
  answer.error = kFinalizingText;
  handler(answer);
}

}  // namespace

std::string ServiceProxyKey(const std::string& service, const std::string& name) {
  return service + "." + name;
}

void ServiceProxyTables::StorePendingCall(const std::string& key, ServiceProxyHandler handler) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!closed_) {
      pending_calls_[key] = std::move(handler);
      return;
    }
  }
  FailFinalizing(key, handler);
}

void ServiceProxyTables::StoreReceivedAnswer(const std::string& key,
                                             const PluginServiceProxyResponse& answer) {
  std::lock_guard<std::mutex> guard(mutex_);
  received_answers_[key] = answer;
}

bool ServiceProxyTables::HasPendingCall(const std::string& key) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return pending_calls_.count(key) != 0;
}

bool ServiceProxyTables::MatchOne() {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto answer = received_answers_.begin(); answer != received_answers_.end(); ++answer) {
    auto call = pending_calls_.find(answer->first);
    if (call == pending_calls_.end()) continue;
    if (call->second) call->second(answer->second);
    LogMessage(kLogLevelAlways, 0, "Fulfilled service proxy request: %s", answer->first.c_str());
    pending_calls_.erase(call);
    received_answers_.erase(answer);
    return true;
  }
  return false;
}

void ServiceProxyTables::SetAsyncHandler(const std::string& key, ServiceProxyHandler handler) {
  std::lock_guard<std::mutex> guard(mutex_);
  async_handlers_[key] = std::move(handler);
}

bool ServiceProxyTables::RunAsyncHandler(const std::string& key,
                                         const PluginServiceProxyResponse& answer) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto found = async_handlers_.find(key);
  if (found == async_handlers_.end() || !found->second) return false;
  found->second(answer);
  return true;
}

void ServiceProxyTables::Close() {
  std::unordered_map<std::string, ServiceProxyHandler> pending;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    closed_ = true;
    pending.swap(pending_calls_);
    received_answers_.clear();
    async_handlers_.clear();
  }
  for (const auto& [key, handler] : pending) FailFinalizing(key, handler);
}

}  // namespace Kestrel::Client
