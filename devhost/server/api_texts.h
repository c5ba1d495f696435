// The texts of a plugin's API description (`ApiDescription`) that the
// OpenAPI document (api_document.h) and the listing (api_listing.h) both
// show: a record's text, a type, an argument location and the locations of
// a function's arguments. The records are only read; they belong to the
// plugin and must stay valid during the call. Pure functions, never fail,
// safe from any thread.
//
//   std::string type = TypeIdText(function.result_type);   // "vector<string>"
#ifndef VYN_DEVHOST_SERVER_API_TEXTS_H_
#define VYN_DEVHOST_SERVER_API_TEXTS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "host_abi/host_records.h"

namespace Kestrel::DevHost {

// `text` as a string; `text` may be null (then "").
std::string Text(const char* text);

// A type as text: "string", "vector<string>", "SpectateGameInfo", "map<int32>"
// (vector and map elements, enums and structs by their type name when known).
std::string TypeIdText(const Client::CoreTypeId& type);

// The name of an argument location: "any", "query", "path", "header",
// "body", or "location N" for other values.
std::string LocationText(uint32_t location);

// The locations of a function's arguments by position (missing ones are 0).
std::vector<uint32_t> ArgumentLocations(const Client::CoreFunctionDescriptor& function);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_API_TEXTS_H_
