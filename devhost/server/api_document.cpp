#include "devhost/server/api_document.h"

#include <iterator>
#include <map>
#include <set>

#include "devhost/host/core_host.h"
#include "devhost/server/api_document_parts.h"
#include "devhost/server/api_texts.h"
#include "devhost/server/inspector.h"
#include "devhost/server/roster_endpoint.h"
#include "devhost/server/session_har.h"
#include "host_abi/api_kinds.h"
#include "host_abi/http_method.h"
#include "rapidjson/document.h"
#include "rapidjson/prettywriter.h"
#include "rapidjson/stringbuffer.h"

namespace Kestrel::DevHost {
namespace {

using Client::ApiDescription;
using Client::CoreArgumentRecord;
using Client::CoreFunctionDescriptor;
using Client::CoreTypeId;
using Client::CoreTypeRecord;

// The kinds a type record names by number, as this file compares them.
constexpr uint32_t kKindVector = static_cast<uint32_t>(NativeKind::kVector);
constexpr uint32_t kKindEnum = static_cast<uint32_t>(NativeKind::kEnum);
constexpr uint32_t kKindStruct = static_cast<uint32_t>(NativeKind::kStruct);
constexpr uint32_t kKindMap = static_cast<uint32_t>(NativeKind::kMap);

// Body content types the plugin reads, in the order a client would try them.
constexpr const char* kBodyTypes[] = {"application/json", "application/x-yaml",
                                      "application/x-msgpack"};

// The tag of the host's own endpoints, apart from the plugin's.
constexpr const char kHostTags[] =
    R"([{"name": "vyn-devhost", "description": "The stand-in host's own endpoints, not the plugin's"}])";

// The error answers every plugin operation can get, as response components.
constexpr const char kErrorResponses[] = R"json({
  "Refused": {
    "description": "The host refused the request before the plugin saw it: an unreadable request (400), a body or path too long (413, 414), headers too large (431)",
    "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}
  },
  "CallFailed": {
    "description": "The plugin failed the call (500 unless it set a status); the message says why, for example a body that does not parse or does not fit the argument's type, or a peer's error",
    "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}
  }
})json";

// Writes the JSON text `json` (a constant of this file, so it parses) as one value.
void WriteJsonText(Writer* writer, const char* json) {
  rapidjson::Document document;
  document.Parse(json);
  document.Accept(*writer);
}

// Writes each member of the JSON object text `json` as a key and value of the
// object being written.
void WriteJsonMembers(Writer* writer, const char* json) {
  rapidjson::Document document;
  document.Parse(json);
  for (const auto& member : document.GetObject()) {
    writer->Key(member.name.GetString(), member.name.GetStringLength());
    member.value.Accept(*writer);
  }
}

// The registered type a type id refers to by name ("" for none).
std::string ReferencedTypeName(const CoreTypeId& type) {
  bool container = type.kind == kKindVector || type.kind == kKindMap;
  uint32_t kind = container ? type.element_kind : type.kind;
  return kind == kKindEnum || kind == kKindStruct ? Text(type.type_name) : std::string();
}

// The first sentence of `description`, or `fallback` when it is empty.
std::string Summary(const std::string& description, const std::string& fallback) {
  if (description.empty()) return fallback;
  size_t end = description.find(". ");
  return end == std::string::npos ? description : description.substr(0, end + 1);
}

// The JSON schema of one native kind; `type_name` names the enum or struct.
void WriteKindSchema(Writer* writer, uint32_t kind, const std::string& type_name) {
  writer->StartObject();
  switch (kind) {
    case 1:
      Key(writer, "type");
      writer->String("boolean");
      break;
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 9:
      Key(writer, "type");
      writer->String("integer");
      Key(writer, "format");
      writer->String(kind <= 7 ? "int32" : "int64");
      if (kind % 2 == 1) {
        Key(writer, "minimum");
        writer->Int(0);
      }
      break;
    case 10:
    case 11:
      Key(writer, "type");
      writer->String("number");
      Key(writer, "format");
      writer->String(kind == 10 ? "float" : "double");
      break;
    case 12:
      Key(writer, "type");
      writer->String("string");
      break;
    case 14:
      Key(writer, "type");
      writer->String("string");
      Key(writer, "format");
      writer->String("byte");
      break;
    case kKindEnum:
    case kKindStruct:
      if (!type_name.empty()) {
        Key(writer, "$ref");
        String(writer, "#/components/schemas/" + type_name);
      }
      break;
    default:  // object, callback, unknown: any value
      break;
  }
  writer->EndObject();
}

void WriteTypeSchema(Writer* writer, const CoreTypeId& type) {
  std::string type_name = Text(type.type_name);
  if (type.kind == kKindVector || type.kind == kKindMap) {
    writer->StartObject();
    Key(writer, "type");
    writer->String(type.kind == kKindVector ? "array" : "object");
    Key(writer, type.kind == kKindVector ? "items" : "additionalProperties");
    WriteKindSchema(writer, type.element_kind, type_name);
    writer->EndObject();
    return;
  }
  WriteKindSchema(writer, type.kind, type_name);
}

bool HasResult(const CoreTypeId& type) {
  return type.kind != 0;
}

const char* OpenApiMethod(uint32_t method) {
  return HttpMethodLowerText(HttpMethodFromValue(method));
}

void WriteTypeRecordSchema(Writer* writer, const CoreTypeRecord& type) {
  writer->StartObject();
  if (type.fields != nullptr) {
    Key(writer, "type");
    writer->String("object");
    Key(writer, "properties");
    writer->StartObject();
    std::vector<std::string> required;
    for (uint32_t i = 0; i < type.member_count; ++i) {
      const Client::CoreFieldRecord& field = type.fields[i];
      Key(writer, Text(field.name).c_str());
      WriteTypeSchema(writer, field.type);
      if ((field.flags & 2) != 0) required.push_back(Text(field.name));
    }
    writer->EndObject();
    if (!required.empty()) {
      Key(writer, "required");
      writer->StartArray();
      for (const std::string& name : required) String(writer, name);
      writer->EndArray();
    }
  } else if (type.enumerators != nullptr && type.member_count != 0) {
    Key(writer, "type");
    writer->String("string");
    Key(writer, "enum");
    writer->StartArray();
    for (uint32_t i = 0; i < type.member_count; ++i) String(writer, Text(type.enumerators[i].name));
    writer->EndArray();
  } else {
    Key(writer, "type");
    writer->String("object");
  }
  std::string description = Text(type.description);
  if (!description.empty()) {
    Key(writer, "description");
    String(writer, description);
  }
  writer->EndObject();
}

void WriteOperation(Writer* writer, const CoreFunctionDescriptor& function) {
  const Client::CoreFunctionRecord& record = function.function;
  writer->StartObject();
  Key(writer, "operationId");
  String(writer, Text(record.name));
  std::string description = Text(record.description);
  Key(writer, "summary");
  String(writer, Summary(description, Text(record.name)));
  if (!description.empty()) {
    Key(writer, "description");
    String(writer, description);
  }
  Key(writer, "tags");
  WriteTags(writer, record.tags, record.tag_count);

  std::vector<uint32_t> locations = ArgumentLocations(function);
  const CoreArgumentRecord* body = nullptr;
  Key(writer, "parameters");
  writer->StartArray();
  for (uint32_t i = 0; record.arguments != nullptr && i < record.argument_count; ++i) {
    const CoreArgumentRecord& argument = record.arguments[i];
    uint32_t location = i < locations.size() ? locations[i] : 0;
    if (location == kLocationBody) {
      if (body == nullptr) body = &argument;
      continue;
    }
    writer->StartObject();
    Key(writer, "name");
    String(writer, Text(argument.name));
    Key(writer, "in");
    writer->String(location == kLocationPath     ? "path"
                   : location == kLocationHeader ? "header"
                                                 : "query");
    Key(writer, "required");
    writer->Bool(location == kLocationPath || argument.optional == 0);
    std::string argument_description = Text(argument.description);
    if (!argument_description.empty()) {
      Key(writer, "description");
      String(writer, argument_description);
    }
    Key(writer, "schema");
    WriteTypeSchema(writer, argument.type);
    writer->EndObject();
  }
  writer->EndArray();

  if (body != nullptr) {
    Key(writer, "requestBody");
    writer->StartObject();
    Key(writer, "required");
    writer->Bool(body->optional == 0);
    Key(writer, "content");
    writer->StartObject();
    for (const char* content_type : kBodyTypes) {
      Key(writer, content_type);
      writer->StartObject();
      Key(writer, "schema");
      WriteTypeSchema(writer, body->type);
      writer->EndObject();
    }
    writer->EndObject();
    writer->EndObject();
  }

  // A function that returns a value always answers one (200); one that
  // returns nothing always answers 204.
  Key(writer, "responses");
  writer->StartObject();
  if (HasResult(record.result_type)) {
    Key(writer, "200");
    writer->StartObject();
    Key(writer, "description");
    String(writer, "The result: " + TypeIdText(record.result_type));
    Key(writer, "content");
    writer->StartObject();
    Key(writer, "application/json");
    writer->StartObject();
    Key(writer, "schema");
    WriteTypeSchema(writer, record.result_type);
    writer->EndObject();
    writer->EndObject();
    writer->EndObject();
  } else {
    Key(writer, "204");
    writer->StartObject();
    Key(writer, "description");
    writer->String("Success without a value");
    writer->EndObject();
  }
  for (const auto& [status, response] : {std::pair{"4XX", "Refused"}, {"5XX", "CallFailed"}}) {
    Key(writer, status);
    writer->StartObject();
    Key(writer, "$ref");
    String(writer, std::string("#/components/responses/") + response);
    writer->EndObject();
  }
  writer->EndObject();
  writer->EndObject();
}

// The names of the registered types the operations of `functions` use,
// directly or through the fields of types they use.
std::set<std::string> UsedTypeNames(const ApiDescription& api,
                                    const std::vector<const CoreFunctionDescriptor*>& functions) {
  std::map<std::string, const CoreTypeRecord*> types;
  for (uint32_t i = 0; api.types != nullptr && i < api.type_count; ++i) {
    types.emplace(Text(api.types[i].name), &api.types[i]);
  }
  std::vector<std::string> pending;
  for (const CoreFunctionDescriptor* function : functions) {
    const Client::CoreFunctionRecord& record = function->function;
    pending.push_back(ReferencedTypeName(record.result_type));
    for (uint32_t a = 0; record.arguments != nullptr && a < record.argument_count; ++a) {
      pending.push_back(ReferencedTypeName(record.arguments[a].type));
    }
  }
  std::set<std::string> used;
  while (!pending.empty()) {
    std::string name = std::move(pending.back());
    pending.pop_back();
    auto type = types.find(name);
    if (name.empty() || type == types.end() || !used.insert(name).second) continue;
    for (uint32_t m = 0; type->second->fields != nullptr && m < type->second->member_count; ++m) {
      pending.push_back(ReferencedTypeName(type->second->fields[m].type));
    }
  }
  return used;
}

}  // namespace

std::string BuildOpenApiDocument(const ApiDescription& api, const std::string& plugin_name) {
  // Paths keep the order of their first function; methods group under them.
  std::vector<std::string> path_order;
  std::map<std::string, std::vector<const CoreFunctionDescriptor*>> by_path;
  std::vector<const CoreFunctionDescriptor*> documented;
  for (uint32_t i = 0; api.functions != nullptr && i < api.function_count; ++i) {
    const CoreFunctionDescriptor& function = api.functions[i];
    if (OpenApiMethod(function.method)[0] == '\0') continue;
    std::string path = Text(function.path);
    if (by_path.find(path) == by_path.end()) path_order.push_back(path);
    by_path[path].push_back(&function);
    documented.push_back(&function);
  }
  std::set<std::string> used_types = UsedTypeNames(api, documented);

  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.StartObject();
  Key(&writer, "openapi");
  writer.String("3.0.3");
  Key(&writer, "info");
  writer.StartObject();
  Key(&writer, "title");
  String(&writer, plugin_name);
  Key(&writer, "version");
  writer.String("1.0.0");
  Key(&writer, "description");
  String(&writer, "The API of the plugin " + plugin_name +
                      " as the stand-in host vyn-devhost serves it, and the host's own "
                      "endpoints (tag vyn-devhost).");
  Key(&writer, "license");
  WriteJsonText(&writer, R"({"name": "Proprietary"})");
  writer.EndObject();
  // Relative: the address the document is served from.
  Key(&writer, "servers");
  WriteJsonText(&writer,
                R"([{"url": "/", "description": "The vyn-devhost serving this document"}])");
  // Neither the plugin nor the host asks for credentials.
  Key(&writer, "security");
  writer.StartArray();
  writer.EndArray();
  Key(&writer, "tags");
  WriteJsonText(&writer, kHostTags);
  Key(&writer, "paths");
  writer.StartObject();
  for (const std::string& path : path_order) {
    Key(&writer, path.c_str());
    writer.StartObject();
    for (const CoreFunctionDescriptor* function : by_path[path]) {
      Key(&writer, OpenApiMethod(function->method));
      WriteOperation(&writer, *function);
    }
    writer.EndObject();
  }
  WriteJsonMembers(&writer, kRosterPathItems);
  WriteJsonMembers(&writer, kInspectorPathItems);
  WriteJsonMembers(&writer, kSessionPathItems);
  writer.EndObject();
  Key(&writer, "components");
  writer.StartObject();
  Key(&writer, "responses");
  WriteJsonText(&writer, kErrorResponses);
  Key(&writer, "schemas");
  writer.StartObject();
  Key(&writer, "Error");
  WriteJsonText(&writer, R"({"type": "object", "required": ["message"],)"
                         R"( "properties": {"message": {"type": "string"}}})");
  for (uint32_t i = 0; api.types != nullptr && i < api.type_count; ++i) {
    if (used_types.count(Text(api.types[i].name)) == 0) continue;
    Key(&writer, Text(api.types[i].name).c_str());
    WriteTypeRecordSchema(&writer, api.types[i]);
  }
  WriteJsonMembers(&writer, kRosterSchemas);
  WriteJsonMembers(&writer, kInspectorSchemas);
  writer.EndObject();
  writer.EndObject();
  // The payload type by name: a type no operation uses has no schema here.
  Key(&writer, "x-events");
  WriteEvents(&writer, api);
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace Kestrel::DevHost
