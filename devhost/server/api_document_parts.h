// What the sources of the API documents share (api_document.cpp: the type
// and location texts and the OpenAPI document; api_description.cpp: the
// readable text and the JSON of the description): the JSON writer and its
// small helpers. Private to those files.
#ifndef VYN_DEVHOST_SERVER_API_DOCUMENT_PARTS_H_
#define VYN_DEVHOST_SERVER_API_DOCUMENT_PARTS_H_

#include <cstdint>
#include <string>

#include "rapidjson/prettywriter.h"
#include "rapidjson/stringbuffer.h"

namespace Kestrel::DevHost {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

// `text`, or "" for nullptr.
std::string Text(const char* text);
// Writes `text` as a JSON string.
void String(Writer* writer, const std::string& text);
void Key(Writer* writer, const char* key);
// Writes the `count` texts of `tags` as a JSON array.
void WriteTags(Writer* writer, const char* const* tags, uint32_t count);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_API_DOCUMENT_PARTS_H_
