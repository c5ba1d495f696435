// The listing of a plugin's API description (`ApiDescription`) for people
// and scripts: `describe` prints it as readable text or as JSON of the same
// content (functions with method, path, arguments with their locations,
// result and tags; types with fields or enumerators; events). The records
// are only read; they belong to the plugin and must stay valid during the
// call. Pure functions, safe from any thread.
//
//   std::string text = DescribeApiText(*host.api(), host.plugin_name());
#ifndef VYN_DEVHOST_SERVER_API_LISTING_H_
#define VYN_DEVHOST_SERVER_API_LISTING_H_

#include <string>

#include "host_abi/host_records.h"

namespace Kestrel::DevHost {

// Readable multi-line text of the whole description.
std::string DescribeApiText(const Client::ApiDescription& api, const std::string& plugin_name);

// The same content as pretty-printed JSON.
std::string DescribeApiJson(const Client::ApiDescription& api, const std::string& plugin_name);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_API_LISTING_H_
