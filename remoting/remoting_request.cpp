#include "remoting/remoting_request.h"

#include <chrono>

namespace Kestrel {

uint64_t RequestTimestampNow() {
  using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const int64_t ticks = std::chrono::duration_cast<Ticks>(since_epoch).count();
  return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}

void FillRequestRecord(RemotingRequest& record, const Client::CoreRequest& request,
                       HttpMethod method, std::string_view method_name,
                       const TypeRegistry* registry) {
  record.caller_id = request.caller_id;
  record.registry = registry;
  record.timestamp = RequestTimestampNow();
  record.method = method;
  record.method_name.assign(method_name);
  record.path = request.path != nullptr ? request.path : "";
  record.headers.clear();
  if (request.headers != nullptr) {
    for (uint32_t i = 0; i < request.header_count; ++i) {
      const Client::CoreHeader& header = request.headers[i];
      if (header.name == nullptr) continue;
      record.headers[header.name] = header.value != nullptr ? header.value : "";
    }
  }
}

bool IsRequestRecordIdentity(const StaticTypeInfo& identity) {
  return identity.hash_code == StaticType::HashCode<RemotingRequest>().hash_code ||
         identity.hash_code == StaticType::HashCode<HttpBaseTransport::Request>().hash_code;
}

}  // namespace Kestrel
