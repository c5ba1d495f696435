// `ServiceProxyTables`: the module's bookkeeping of service-proxy calls, apart
// from the host. Pending calls wait for their answer under a call key (the
// uuid the login plugin returned, or service "." reply name); answers that
// arrive before their call is stored wait under the same key; asynchronous
// answers go to a handler per service "." method.
//
// The tables own their handlers. One mutex guards them all; handlers run with
// it held and must only fulfil a promise (they may not call back into the
// tables). `Close` (at shutdown) fails every pending call instead of dropping
// it, so that no caller waits for an answer that can no longer come. Sending
// requests and receiving the host's events is the client's part
// (service_proxy_client.h).
//
//   ServiceProxyTables tables;
//   tables.StorePendingCall(key, handler);
//   tables.StoreReceivedAnswer(answer.uuid, answer);
//   tables.MatchOne();  // runs `handler` with `answer`
#ifndef VYN_PLUGIN_HOST_SERVICE_PROXY_TABLES_H_
#define VYN_PLUGIN_HOST_SERVICE_PROXY_TABLES_H_

#include <mutex>
#include <string>
#include <unordered_map>

#include "plugin/host/event_tables.h"
#include "plugin/host/module_events.h"

namespace Kestrel::Client {

// The key of a call by method and of an asynchronous handler, and the
// description of a call in log lines: `service` "." `name`.
std::string ServiceProxyKey(const std::string& service, const std::string& name);

class ServiceProxyTables {
 public:
  ServiceProxyTables() = default;
  ServiceProxyTables(const ServiceProxyTables&) = delete;
  ServiceProxyTables& operator=(const ServiceProxyTables&) = delete;

  // Stores `handler` as the pending call of `key`, replacing one there. After
  // `Close`, runs `handler` at once with the "Finalizing" answer instead.
  void StorePendingCall(const std::string& key, ServiceProxyHandler handler);
  // Stores `answer` as received under `key`, replacing one there.
  void StoreReceivedAnswer(const std::string& key, const PluginServiceProxyResponse& answer);
  bool HasPendingCall(const std::string& key) const;

  // Walks the received answers in table order; the first whose key has a
  // pending call runs that call's handler, logs "Fulfilled service proxy
  // request: %s" and leaves both tables. Returns whether one was matched.
  bool MatchOne();

  // Registers the handler of asynchronous answers for `key`.
  void SetAsyncHandler(const std::string& key, ServiceProxyHandler handler);
  // Runs the asynchronous handler of `key` with `answer`; returns false when
  // there is none.
  [[nodiscard]] bool RunAsyncHandler(const std::string& key,
                                     const PluginServiceProxyResponse& answer);

  // Runs every pending call's handler with an answer whose `error` is
  // "Finalizing" (outside the lock), forgets received answers and
  // asynchronous handlers, and fails every later call the same way.
  // Idempotent; thread-safe.
  void Close();

 private:
  mutable std::mutex mutex_;
  std::unordered_map<std::string, ServiceProxyHandler> pending_calls_;
  std::unordered_map<std::string, PluginServiceProxyResponse> received_answers_;
  std::unordered_map<std::string, ServiceProxyHandler> async_handlers_;
  bool closed_ = false;
};

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_SERVICE_PROXY_TABLES_H_
