// The request as a handler may receive it: `RemotingRequest` and its twin
// `HttpBaseTransport::Request`.
//
// A handler that names either type among its parameters gets the request
// record of the call; the transport recognises the two by their static type
// identities. The transport always builds an `HttpBaseTransport::Request`,
// which is a `RemotingRequest` with nothing added, so a handler of either type
// reads the same record. The record lives for the call only; the registry it
// points to belongs to the module.
//
//   HttpBaseTransport::Request record;
//   FillRequestRecord(record, request, method, method_name, registry);
//   record.headers["x-token"];
#ifndef VYN_REMOTING_REMOTING_REQUEST_H_
#define VYN_REMOTING_REMOTING_REQUEST_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "binding/static_type.h"
#include "host_abi/host_records.h"
#include "host_abi/http_method.h"

namespace Kestrel {

class TypeRegistry;

// Text to text map of request headers and similar pairs.
using TextMap = std::unordered_map<std::string, std::string>;

struct RemotingRequest {
  // Opaque id of the caller, as the host gave it.
  uint32_t caller_id = 0;
  // The registry of the called function; names enumeration values. May be null.
  const TypeRegistry* registry = nullptr;
  // When the call was made: 100-nanosecond ticks since 1970-01-01 UTC.
  uint64_t timestamp = 0;
  HttpMethod method = HttpMethod::kNone;
  // The custom method's name; empty unless `method` is `kCustom`.
  std::string method_name;
  // The path exactly as received, query string included.
  std::string path;
  // Request headers; a later duplicate name replaced the earlier value.
  TextMap headers;
  // Further fields of the record that this transport leaves at their initial
  // values.
  std::string remote_address;
  std::string user_name;
  TextMap cookies;
  uint32_t remote_port = 0;
  uint32_t flags = 0;
};

struct HttpBaseTransport {
  // The same record under the transport's own name.
  struct Request : RemotingRequest {};
};

// Returns the current time in 100-nanosecond ticks since 1970-01-01 UTC.
uint64_t RequestTimestampNow();

// Fills `record` from the host's `request` (which must be valid for the call)
// with the request's `method` and `method_name` as dispatch decoded them
// (route.h `MatchState`), `registry` (may be null) and the current time.
// Never fails.
void FillRequestRecord(RemotingRequest& record, const Client::CoreRequest& request,
                       HttpMethod method, std::string_view method_name,
                       const TypeRegistry* registry);

// True when `identity` is that of `RemotingRequest` or of
// `HttpBaseTransport::Request`.
bool IsRequestRecordIdentity(const StaticTypeInfo& identity);

}  // namespace Kestrel

VYN_STATIC_TYPE(Kestrel::RemotingRequest, "struct Kestrel::RemotingRequest");
VYN_STATIC_TYPE(Kestrel::HttpBaseTransport::Request, "struct Kestrel::HttpBaseTransport::Request");

#endif  // VYN_REMOTING_REMOTING_REQUEST_H_
