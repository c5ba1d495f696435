#include "devhost/server/api_listing.h"

#include "devhost/server/api_document_parts.h"
#include "devhost/server/api_texts.h"
#include "host_abi/api_kinds.h"
#include "host_abi/http_method.h"

namespace Kestrel::DevHost {
namespace {

using Client::ApiDescription;
using Client::CoreArgumentRecord;
using Client::CoreEventRecord;
using Client::CoreFunctionDescriptor;
using Client::CoreTypeId;
using Client::CoreTypeRecord;

std::string Indented(const std::string& text) {
  return text.empty() ? std::string() : " - " + text;
}

void WriteTypeIdJson(Writer* writer, const CoreTypeId& type) {
  writer->StartObject();
  Key(writer, "kind");
  writer->String(NativeKindName(type.kind));
  Key(writer, "elementKind");
  writer->String(NativeKindName(type.element_kind));
  Key(writer, "typeName");
  String(writer, Text(type.type_name));
  Key(writer, "text");
  String(writer, TypeIdText(type));
  writer->EndObject();
}

}  // namespace

std::string DescribeApiText(const ApiDescription& api, const std::string& plugin_name) {
  std::string text =
      "Plugin " + plugin_name + "\n\nFunctions (" + std::to_string(api.function_count) + ")\n";
  for (uint32_t i = 0; api.functions != nullptr && i < api.function_count; ++i) {
    const CoreFunctionDescriptor& function = api.functions[i];
    const Client::CoreFunctionRecord& record = function.function;
    std::string method =
        function.method == kMethodNone
            ? std::string("ANY")
            : std::string(HttpMethodRecordText(function.method, Text(function.method_name)));
    text += "  " + method + " " + Text(function.path) + "  (" + Text(record.name) + ")" +
            Indented(Text(record.description)) + "\n";
    std::vector<uint32_t> locations = ArgumentLocations(function);
    for (uint32_t a = 0; record.arguments != nullptr && a < record.argument_count; ++a) {
      const CoreArgumentRecord& argument = record.arguments[a];
      text += "    argument " + Text(argument.name) + ": " + TypeIdText(argument.type) + " in " +
              LocationText(a < locations.size() ? locations[a] : 0) +
              (argument.optional != 0 ? ", optional" : "") + Indented(Text(argument.description)) +
              "\n";
    }
    text += "    result: " + TypeIdText(record.result_type) + "\n";
    text += "    tags:";
    for (uint32_t t = 0; record.tags != nullptr && t < record.tag_count; ++t) {
      text += (t == 0 ? " " : ", ") + Text(record.tags[t]);
    }
    text += "\n";
  }
  text += "\nTypes (" + std::to_string(api.type_count) + ")\n";
  for (uint32_t i = 0; api.types != nullptr && i < api.type_count; ++i) {
    const CoreTypeRecord& type = api.types[i];
    bool is_struct = type.fields != nullptr;
    text += "  " + Text(type.name) + (is_struct ? " (struct, " : " (enum, ") +
            std::to_string(type.native_size) + " bytes)" + Indented(Text(type.description)) + "\n";
    for (uint32_t m = 0; m < type.member_count; ++m) {
      if (is_struct) {
        const Client::CoreFieldRecord& field = type.fields[m];
        text += "    " + Text(field.name) + ": " + TypeIdText(field.type) +
                Indented(Text(field.description)) + "\n";
      } else if (type.enumerators != nullptr) {
        const Client::CoreEnumValueRecord& value = type.enumerators[m];
        text += "    " + Text(value.name) + " = " + std::to_string(value.value) +
                Indented(Text(value.description)) + "\n";
      }
    }
  }
  text += "\nEvents (" + std::to_string(api.event_count) + ")\n";
  for (uint32_t i = 0; api.events != nullptr && i < api.event_count; ++i) {
    const CoreEventRecord& event = api.events[i];
    text += "  " + Text(event.name) + ": " + Text(event.payload_type_name) +
            Indented(Text(event.description)) + "\n";
  }
  return text;
}

std::string DescribeApiJson(const ApiDescription& api, const std::string& plugin_name) {
  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.StartObject();
  Key(&writer, "plugin");
  String(&writer, plugin_name);
  Key(&writer, "functions");
  writer.StartArray();
  for (uint32_t i = 0; api.functions != nullptr && i < api.function_count; ++i) {
    const CoreFunctionDescriptor& function = api.functions[i];
    const Client::CoreFunctionRecord& record = function.function;
    writer.StartObject();
    Key(&writer, "name");
    String(&writer, Text(record.name));
    Key(&writer, "method");
    String(&writer, std::string(HttpMethodRecordText(function.method, Text(function.method_name))));
    Key(&writer, "path");
    String(&writer, Text(function.path));
    Key(&writer, "description");
    String(&writer, Text(record.description));
    Key(&writer, "arguments");
    writer.StartArray();
    std::vector<uint32_t> locations = ArgumentLocations(function);
    for (uint32_t a = 0; record.arguments != nullptr && a < record.argument_count; ++a) {
      const CoreArgumentRecord& argument = record.arguments[a];
      writer.StartObject();
      Key(&writer, "name");
      String(&writer, Text(argument.name));
      Key(&writer, "description");
      String(&writer, Text(argument.description));
      Key(&writer, "type");
      WriteTypeIdJson(&writer, argument.type);
      Key(&writer, "optional");
      writer.Bool(argument.optional != 0);
      Key(&writer, "location");
      String(&writer, LocationText(a < locations.size() ? locations[a] : 0));
      writer.EndObject();
    }
    writer.EndArray();
    Key(&writer, "result");
    WriteTypeIdJson(&writer, record.result_type);
    Key(&writer, "tags");
    WriteTags(&writer, record.tags, record.tag_count);
    writer.EndObject();
  }
  writer.EndArray();
  Key(&writer, "types");
  writer.StartArray();
  for (uint32_t i = 0; api.types != nullptr && i < api.type_count; ++i) {
    const CoreTypeRecord& type = api.types[i];
    writer.StartObject();
    Key(&writer, "name");
    String(&writer, Text(type.name));
    Key(&writer, "nameSpace");
    String(&writer, Text(type.name_space));
    Key(&writer, "size");
    writer.Uint(type.native_size);
    Key(&writer, "description");
    String(&writer, Text(type.description));
    Key(&writer, "tags");
    WriteTags(&writer, type.tags, type.tag_count);
    if (type.fields != nullptr) {
      Key(&writer, "fields");
      writer.StartArray();
      for (uint32_t m = 0; m < type.member_count; ++m) {
        const Client::CoreFieldRecord& field = type.fields[m];
        writer.StartObject();
        Key(&writer, "name");
        String(&writer, Text(field.name));
        Key(&writer, "type");
        WriteTypeIdJson(&writer, field.type);
        Key(&writer, "offset");
        writer.Uint(field.offset);
        Key(&writer, "flags");
        writer.Uint(field.flags);
        writer.EndObject();
      }
      writer.EndArray();
    } else {
      Key(&writer, "enumerators");
      writer.StartArray();
      for (uint32_t m = 0; type.enumerators != nullptr && m < type.member_count; ++m) {
        writer.StartObject();
        Key(&writer, "name");
        String(&writer, Text(type.enumerators[m].name));
        Key(&writer, "value");
        writer.Int(type.enumerators[m].value);
        writer.EndObject();
      }
      writer.EndArray();
    }
    writer.EndObject();
  }
  writer.EndArray();
  Key(&writer, "events");
  WriteEvents(&writer, api);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace Kestrel::DevHost
