#include "devhost/server/api_document_parts.h"

#include "devhost/server/api_texts.h"

namespace Kestrel::DevHost {

void String(Writer* writer, const std::string& text) {
  writer->String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
}

void Key(Writer* writer, const char* key) {
  writer->Key(key);
}

void WriteTags(Writer* writer, const char* const* tags, uint32_t count) {
  writer->StartArray();
  for (uint32_t i = 0; tags != nullptr && i < count; ++i) String(writer, Text(tags[i]));
  writer->EndArray();
}

void WriteEvents(Writer* writer, const Client::ApiDescription& api) {
  writer->StartArray();
  for (uint32_t i = 0; api.events != nullptr && i < api.event_count; ++i) {
    const Client::CoreEventRecord& event = api.events[i];
    writer->StartObject();
    Key(writer, "name");
    String(writer, Text(event.name));
    Key(writer, "payloadType");
    String(writer, Text(event.payload_type_name));
    Key(writer, "description");
    String(writer, Text(event.description));
    Key(writer, "tags");
    WriteTags(writer, event.tags, event.tag_count);
    writer->EndObject();
  }
  writer->EndArray();
}

}  // namespace Kestrel::DevHost
