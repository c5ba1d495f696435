#include "plugin/host/service_proxy.h"

#include "log/logger.h"
#include "plugin/host/outgoing_request.h"

namespace Kestrel::Client {
namespace {

std::string CallKey(const std::string& service, const std::string& name) {
  return service + "." + name;
}

}  // namespace

std::string AppModule::SendServiceProxyRequest(
    const std::string& service, const std::string& method, const std::string& payload_text,
    const std::string& reply_name, const std::string& extra, ServiceProxyHandler handler) {
  const std::string description = CallKey(service, method);
  LogMessage(kLogLevelAlways, 0, "Preparing service proxy request: %s", description.c_str());
  std::string key;
  if (reply_name.empty()) {
    MaybeType<std::string> sent = RequestValue<std::string>(
        *this, HttpMethod::kPost, kServiceProxyUuidPath, service, method, plugin_id_, payload_text);
    if (sent.is_failure()) return sent.failure().message();
    key = sent.TakeValue();
  } else {
    key = CallKey(service, reply_name);
    if (HasPendingCall(key)) {
      LogMessage(kLogLevelError, 0,
                 "Could not invoke service proxy as request is already in flight");
      return "Request already in flight";
    }
    MaybeType<void> sent = Request(*this, HttpMethod::kPost, kServiceProxyMethodPath, service,
                                   method, reply_name, extra, plugin_id_, payload_text);
    if (sent.is_failure()) return sent.failure().message();
  }
  LogMessage(kLogLevelAlways, 0, "Started service proxy request: %s (%s)", description.c_str(),
             key.c_str());
  StorePendingCall(key, std::move(handler));
  MatchServiceProxyAnswers();
  return std::string();
}

void AppModule::StorePendingCall(const std::string& key, ServiceProxyHandler handler) {
  std::lock_guard<std::mutex> guard(service_proxy_mutex_);
  pending_calls_[key] = std::move(handler);
}

void AppModule::StoreReceivedAnswer(const std::string& key,
                                    const PluginServiceProxyResponse& answer) {
  std::lock_guard<std::mutex> guard(service_proxy_mutex_);
  received_answers_[key] = answer;
}

bool AppModule::HasPendingCall(const std::string& key) {
  std::lock_guard<std::mutex> guard(service_proxy_mutex_);
  return pending_calls_.count(key) != 0;
}

void AppModule::OnServiceProxyUuidEvent(const PluginServiceProxyResponse& answer) {
  StoreReceivedAnswer(answer.uuid, answer);
  MatchServiceProxyAnswers();
}

void AppModule::OnServiceProxyMethodEvent(const PluginServiceProxyResponse& answer) {
  StoreReceivedAnswer(CallKey(answer.serviceName, answer.methodName), answer);
  MatchServiceProxyAnswers();
}

void AppModule::OnServiceProxyAsyncEvent(const PluginServiceProxyResponse& answer) {
  const std::string key = CallKey(answer.serviceName, answer.methodName);
  std::lock_guard<std::mutex> guard(service_proxy_mutex_);
  auto found = async_handlers_.find(key);
  if (found == async_handlers_.end() || !found->second) {
    LogMessage(kLogLevelError, 0,
               "Could not find registered handler for async service proxy event %s", key.c_str());
    return;
  }
  found->second(answer);
}

void AppModule::SetAsyncServiceProxyHandler(const std::string& service, const std::string& method,
                                            ServiceProxyHandler handler) {
  std::lock_guard<std::mutex> guard(service_proxy_mutex_);
  async_handlers_[CallKey(service, method)] = std::move(handler);
}

bool AppModule::MatchServiceProxyAnswers() {
  std::lock_guard<std::mutex> guard(service_proxy_mutex_);
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

}  // namespace Kestrel::Client
