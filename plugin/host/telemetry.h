// `TelemetrySender`: posts named telemetry events to the host's telemetry
// endpoint, "/telemetry/v1/events/" followed by the event name.
//
// Owned by the module, whose request channel it posts through; created by
// `Initialize`.
//
//   auto sent = module.telemetry()->SendTelemetry("session-start", payload);
//   MaybeType<void> outcome = module.Await(sent);
#ifndef VYN_PLUGIN_HOST_TELEMETRY_H_
#define VYN_PLUGIN_HOST_TELEMETRY_H_

#include <future>
#include <string_view>

#include "binding/binding_property.h"
#include "plugin/host/outgoing_request.h"
#include "util/failure.h"

namespace Kestrel::Client {

inline constexpr char kTelemetryPathPrefix[] = "/telemetry/v1/events/";

class TelemetrySender {
 public:
  // `channel` must outlive the sender.
  explicit TelemetrySender(RequestChannel& channel) : channel_(channel) {}

  // Posts `payload` as the one argument of "/telemetry/v1/events/<name>". The
  // returned future is ready on return and holds success or the request's
  // failure. Never throws for a failed request.
  std::future<MaybeType<void>> SendTelemetry(std::string_view name, const BindingProperty& payload);

 private:
  RequestChannel& channel_;
};

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_TELEMETRY_H_
