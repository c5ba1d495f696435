#include "plugin/host/service_proxy_client.h"

#include <utility>

#include "host_abi/http_method.h"
#include "log/logger.h"

namespace Kestrel::Client {

std::string ServiceProxyClient::Send(const std::string& service, const std::string& method,
                                     const std::string& payload_text, const std::string& reply_name,
                                     const std::string& extra, ServiceProxyHandler handler) {
  const std::string description = ServiceProxyKey(service, method);
  LogMessage(kLogLevelAlways, 0, "Preparing service proxy request: %s", description.c_str());
  std::string key;
  if (reply_name.empty()) {
    MaybeType<std::string> sent =
        RequestValue<std::string>(channel_, HttpMethod::kPost, kServiceProxyUuidPath, service,
                                  method, channel_.plugin_id(), payload_text);
    if (sent.is_failure()) return sent.failure().message();
    key = sent.TakeValue();
  } else {
    key = ServiceProxyKey(service, reply_name);
    if (tables_.HasPendingCall(key)) {
      LogMessage(kLogLevelError, 0,
                 "Could not invoke service proxy as request is already in flight");
      return "Request already in flight";
    }
    MaybeType<void> sent = Request(channel_, HttpMethod::kPost, kServiceProxyMethodPath, service,
                                   method, reply_name, extra, channel_.plugin_id(), payload_text);
    if (sent.is_failure()) return sent.failure().message();
  }
  LogMessage(kLogLevelAlways, 0, "Started service proxy request: %s (%s)", description.c_str(),
             key.c_str());
  tables_.StorePendingCall(key, std::move(handler));
  tables_.MatchOne();
  return std::string();
}

void ServiceProxyClient::OnUuidAnswer(const PluginServiceProxyResponse& answer) {
  tables_.StoreReceivedAnswer(answer.uuid, answer);
  tables_.MatchOne();
}

void ServiceProxyClient::OnMethodAnswer(const PluginServiceProxyResponse& answer) {
  tables_.StoreReceivedAnswer(ServiceProxyKey(answer.serviceName, answer.methodName), answer);
  tables_.MatchOne();
}

void ServiceProxyClient::OnAsyncAnswer(const PluginServiceProxyResponse& answer) {
  const std::string key = ServiceProxyKey(answer.serviceName, answer.methodName);
  if (!tables_.RunAsyncHandler(key, answer)) {
    LogMessage(kLogLevelError, 0,
               "Could not find registered handler for async service proxy event %s", key.c_str());
  }
}

void ServiceProxyClient::SetAsyncHandler(const std::string& service, const std::string& method,
                                         ServiceProxyHandler handler) {
  tables_.SetAsyncHandler(ServiceProxyKey(service, method), std::move(handler));
}

}  // namespace Kestrel::Client
