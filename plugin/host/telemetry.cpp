#include "plugin/host/telemetry.h"

#include <string>

#include "plugin/host/outgoing_request.h"

namespace Kestrel::Client {

std::future<MaybeType<void>> TelemetrySender::SendTelemetry(std::string_view name,
                                                            const BindingProperty& payload) {
  std::promise<MaybeType<void>> promise;
  std::future<MaybeType<void>> future = promise.get_future();
  const std::string path = std::string(kTelemetryPathPrefix) + std::string(name);
  promise.set_value(Request(channel_, HttpMethod::kPost, path, payload));
  return future;
}

}  // namespace Kestrel::Client
