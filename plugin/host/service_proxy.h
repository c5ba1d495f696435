// Calls to the game platform server's services through the login plugin's
// service proxy.
//
// A call is posted to "/vyn-login/v1/service-proxy-uuid-requests" (by id) or
// "/vyn-login/v1/service-proxy-method-requests" (by method); the answer comes
// back later as a host event carrying a `PluginServiceProxyResponse`, which
// the module's `ServiceProxyClient` matches to the pending call by its key. The
// caller waits for the returned future with `AppModule::Await`. A call whose
// answer never comes stays pending until `Stop`; there is no timeout.
//
//   std::future<MaybeType<Answer>> answer =
//       CallService<Answer>(module, "spectator", "getDropInSpectateAvailability", request);
//   MaybeType<Answer> result = module.Await(answer);
#ifndef VYN_PLUGIN_HOST_SERVICE_PROXY_H_
#define VYN_PLUGIN_HOST_SERVICE_PROXY_H_

#include <future>
#include <memory>
#include <string>

#include "binding/assign_native.h"
#include "binding/convert_native.h"
#include "binding/static_type.h"
#include "formats/json_native.h"
#include "plugin/host/app_module.h"
#include "remoting/call_gate.h"
#include "util/failure.h"

namespace Kestrel::Client {

namespace ServiceProxyDetail {

// Sets `value` unless the promise was fulfilled already (an answer delivered
// twice must not throw into the host).
template <class T>
void Fulfil(std::promise<T>& promise, T value) {
  try {
    promise.set_value(std::move(value));
  } catch (const std::future_error&) {
  }
}

}  // namespace ServiceProxyDetail

// Posts a service-proxy call of `service`.`method` with `payload` serialized
// to JSON. `reply_name` empty: the id variant; otherwise the method variant
// with `reply_name` and `extra`. Returns an error text ("Finalizing", the
// serialization message, "Request already in flight" or the request's
// failure message), empty on success; `handler` receives the answer later and
// is dropped uncalled on failure.
template <class P>
std::string RequestServiceProxy(AppModule& module, const std::string& service,
                                const std::string& method, const P& payload,
                                const std::string& reply_name, const std::string& extra,
                                AppModule::ServiceProxyHandler handler) {
  if (module.finalizing()) return kFinalizingText;
  MaybeType<std::string> text = SerializeJson(payload, module.registry());
  if (text.is_failure()) return text.failure().message();
  return module.service_proxy().Send(service, method, text.value(), reply_name, extra,
                                     std::move(handler));
}

// Calls `service`.`method` with `payload` and returns the future answer of
// type A: the answer's `error` text as a failure (code 0), the payload read as
// JSON into A, or a failure naming the payload that could not be read. Every
// failure of sending is a failed result too.
template <class A, class P>
std::future<MaybeType<A>> CallService(AppModule& module, const std::string& service,
                                      const std::string& method, const P& payload) {
  auto promise = std::make_shared<std::promise<MaybeType<A>>>();
  std::future<MaybeType<A>> future = promise->get_future();
  TypeRegistry* registry = &module.registry();
  auto on_answer = [promise, registry](const PluginServiceProxyResponse& answer) {
    if (!answer.error.empty()) {
      ServiceProxyDetail::Fulfil(*promise, MaybeType<A>(Failure("%1", answer.error)));
      return;
    }
    A value{};
    if (ReadJsonInto(answer.payload, value, *registry)) {
      ServiceProxyDetail::Fulfil(*promise, MaybeType<A>(std::move(value)));
      return;
    }
    ServiceProxyDetail::Fulfil(
        *promise, MaybeType<A>(Failure("Failed to deserialize response payload \"%1\" to a %2",
                                       answer.payload, StaticType::Name<A>().display_name)));
  };
  const std::string error =
      RequestServiceProxy(module, service, method, payload, std::string(), std::string(),
                          AppModule::ServiceProxyHandler(std::move(on_answer)));
  if (!error.empty()) ServiceProxyDetail::Fulfil(*promise, MaybeType<A>(Failure("%1", error)));
  return future;
}

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_SERVICE_PROXY_H_
