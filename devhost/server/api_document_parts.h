// The JSON writing that the API documents share (api_document.cpp: the
// OpenAPI document; api_listing.cpp: the JSON of the description): the
// writer, its small helpers and the events list both write. Private to those
// files; the writer is the caller's and must not be null. Safe from any
// thread.
#ifndef VYN_DEVHOST_SERVER_API_DOCUMENT_PARTS_H_
#define VYN_DEVHOST_SERVER_API_DOCUMENT_PARTS_H_

#include <cstdint>
#include <string>

#include "host_abi/host_records.h"
#include "rapidjson/prettywriter.h"
#include "rapidjson/stringbuffer.h"

namespace Kestrel::DevHost {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

// Writes `text` as a JSON string.
void String(Writer* writer, const std::string& text);
// Writes `key` (not null) as an object's key.
void Key(Writer* writer, const char* key);
// Writes the `count` texts of `tags` as a JSON array; `tags` may be null
// (an empty array), a null text is written as "".
void WriteTags(Writer* writer, const char* const* tags, uint32_t count);
// Writes the events of `api` as a JSON array of objects with "name",
// "payloadType" (its type's name), "description" and "tags".
void WriteEvents(Writer* writer, const Client::ApiDescription& api);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_API_DOCUMENT_PARTS_H_
