// The OpenAPI 3 document of a plugin's API description (`ApiDescription`),
// as the stand-in host serves it at `/openapi.json` (paths, methods,
// parameters, request bodies, response schemas that refer to the registered
// types, enumerations). The records are only read; they belong to the plugin
// and must stay valid during the call. Safe from any thread.
//
//   std::string openapi = BuildOpenApiDocument(*host.api(), host.plugin_name());
#ifndef VYN_DEVHOST_SERVER_API_DOCUMENT_H_
#define VYN_DEVHOST_SERVER_API_DOCUMENT_H_

#include <string>

#include "host_abi/host_records.h"

namespace Kestrel::DevHost {

// An OpenAPI 3.0 document (pretty-printed JSON) of the plugin's functions and
// the host's own roster endpoint (tag "vyn-devhost"), served relative to the
// address it is served from, with no security. Each operation has a summary
// (the first sentence of its description, else its name), and 4XX/5XX answers
// of the `{"message"}` schema; components hold only the types the operations
// use. Functions without a method or with a custom method are left out;
// events are listed under "x-events" with their payload type's name.
std::string BuildOpenApiDocument(const Client::ApiDescription& api, const std::string& plugin_name);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_API_DOCUMENT_H_
