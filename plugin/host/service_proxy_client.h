// `ServiceProxyClient`: the module's side of the login plugin's service-proxy
// protocol. It posts a call by id ("/vyn-login/v1/service-proxy-uuid-requests",
// answered with the call's uuid) or by method
// ("/vyn-login/v1/service-proxy-method-requests", answered under
// service "." reply name), keeps the call pending until its answer event
// arrives, and hands asynchronous answers to their handler.
//
// Owned by the module, which subscribes the three answer events to it; it
// owns its tables (service_proxy_tables.h) and uses the module's request
// channel, which must outlive it. Sending runs on the calling thread; the
// answer handlers run on whichever thread the host delivers on (the tables
// lock themselves). service_proxy.h has the typed calls built on it.
//
//   std::string error = client.Send(service, method, payload_json, "", "", handler);
//   client.OnUuidAnswer(answer);  // runs `handler` with `answer`
#ifndef VYN_PLUGIN_HOST_SERVICE_PROXY_CLIENT_H_
#define VYN_PLUGIN_HOST_SERVICE_PROXY_CLIENT_H_

#include <cstdint>
#include <string>

#include "plugin/host/event_tables.h"
#include "plugin/host/module_events.h"
#include "plugin/host/outgoing_request.h"
#include "plugin/host/service_proxy_tables.h"

namespace Kestrel::Client {

inline constexpr char kServiceProxyUuidPath[] = "/vyn-login/v1/service-proxy-uuid-requests";
inline constexpr char kServiceProxyMethodPath[] = "/vyn-login/v1/service-proxy-method-requests";

class ServiceProxyClient {
 public:
  // `channel` must outlive the client.
  explicit ServiceProxyClient(RequestChannel& channel) : channel_(channel) {}
  ServiceProxyClient(const ServiceProxyClient&) = delete;
  ServiceProxyClient& operator=(const ServiceProxyClient&) = delete;

  // Steps of a call after its payload became JSON text: logs, posts the
  // request under the channel's plugin id (by id when `reply_name` is empty,
  // else by method), stores `handler` as the pending call and matches answers.
  // Returns an error text ("Request already in flight" or the request's
  // failure message), empty on success; on failure `handler` is dropped
  // uncalled.
  std::string Send(const std::string& service, const std::string& method,
                   const std::string& payload_text, const std::string& reply_name,
                   const std::string& extra, ServiceProxyHandler handler);

  // Answers of the three service-proxy events: by uuid, by method (matched
  // to their pending call) and asynchronous (to the handler of their
  // service "." method; logged as an error when there is none). Thread-safe.
  void OnUuidAnswer(const PluginServiceProxyResponse& answer);
  void OnMethodAnswer(const PluginServiceProxyResponse& answer);
  void OnAsyncAnswer(const PluginServiceProxyResponse& answer);

  // Registers the handler of asynchronous answers for `service`.`method`.
  void SetAsyncHandler(const std::string& service, const std::string& method,
                       ServiceProxyHandler handler);

  // Fails every pending call with "Finalizing", and every later one the same
  // way (`ServiceProxyTables::Close`). Idempotent; thread-safe.
  void Close() { tables_.Close(); }

 private:
  RequestChannel& channel_;
  // Pending calls, received answers and asynchronous handlers.
  ServiceProxyTables tables_;
};

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_SERVICE_PROXY_CLIENT_H_
