#include "remoting/api_description.h"

#include <cstring>
#include <unordered_map>

#include "remoting/dispatch.h"

namespace Kestrel {
namespace {

using Client::CoreArgumentLocationEntry;
using Client::CoreArgumentRecord;
using Client::CoreEnumValueRecord;
using Client::CoreEventRecord;
using Client::CoreFieldRecord;
using Client::CoreFunctionDescriptor;
using Client::CoreFunctionRecord;
using Client::CoreTypeRecord;

constexpr char kEmptyText[] = "";

bool HasTypeName(NativeKind kind) {
  return kind == NativeKind::kVector || kind == NativeKind::kEnum || kind == NativeKind::kStruct ||
         kind == NativeKind::kMap;
}

uint32_t Count(std::size_t size) {
  return static_cast<uint32_t>(size);
}

// Links the records of `records` through their first word.
template <class Record>
void Link(std::vector<Record>& records) {
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i].next = i + 1 < records.size() ? &records[i + 1] : nullptr;
  }
}

template <class Record>
Record* FirstOrNull(std::vector<Record>& records) {
  return records.empty() ? nullptr : records.data();
}

template <class Record>
Record Zeroed() {
  Record record;
  std::memset(static_cast<void*>(&record), 0, sizeof(Record));
  return record;
}

// Appends the pointers of `tags` as one list of `block` and returns it (null
// when empty).
const char* const* TagList(std::vector<std::vector<const char*>>& lists,
                           const std::vector<std::string>& tags) {
  if (tags.empty()) return nullptr;
  std::vector<const char*> list;
  list.reserve(tags.size());
  for (const std::string& tag : tags) list.push_back(tag.c_str());
  lists.push_back(std::move(list));
  return lists.back().data();
}

}  // namespace

Client::CoreTypeId MakeCoreTypeId(const FieldType& type) {
  Client::CoreTypeId id{};
  id.kind = NativeKindRecordValue(type.kind);
  id.element_kind = NativeKindRecordValue(type.element_kind);
  id.type_name = HasTypeName(type.kind) && type.element_type != nullptr
                     ? type.element_type->name().c_str()
                     : kEmptyText;
  return id;
}

namespace {

// The arrays of a description while it is built; moved into the block at the
// end, so a failed build leaves the block as it was. Moving a vector keeps its
// buffer, so the links between records stay valid.
struct DescriptionParts {
  std::vector<CoreFunctionRecord> functions;
  std::vector<std::vector<CoreArgumentRecord>> arguments;
  std::vector<std::vector<const char*>> tag_lists;
  std::vector<CoreTypeRecord> types;
  std::vector<std::vector<CoreFieldRecord>> fields;
  std::vector<std::vector<CoreEnumValueRecord>> enumerators;
  std::vector<CoreEventRecord> events;
  std::vector<CoreFunctionDescriptor> descriptors;
  std::vector<std::vector<CoreArgumentLocationEntry>> locations;
};

// Function name to its record's index in `DescriptionParts::functions`.
using FunctionIndex = std::unordered_map<std::string_view, std::size_t>;

CoreFunctionRecord DescribeFunction(DescriptionParts& parts, const FunctionRecord& function) {
  auto record = Zeroed<CoreFunctionRecord>();
  record.name = function.name.c_str();
  record.name_space = function.name_space.c_str();
  std::vector<CoreArgumentRecord> arguments;
  arguments.reserve(function.arguments.size());
  for (const ArgumentRecord& argument : function.arguments) {
    auto entry = Zeroed<CoreArgumentRecord>();
    entry.name = argument.name.c_str();
    entry.description = argument.description.c_str();
    entry.type = MakeCoreTypeId(argument.type.effective());
    entry.optional = argument.optional ? 1 : 0;
    arguments.push_back(entry);
  }
  Link(arguments);
  record.arguments = FirstOrNull(arguments);
  record.argument_count = Count(arguments.size());
  parts.arguments.push_back(std::move(arguments));
  const FieldType& result = function.result_type.effective();
  record.result_type = MakeCoreTypeId(result);
  record.description = function.description.c_str();
  record.help = function.help.c_str();
  record.thread_safe = function.thread_safe ? 1 : 0;
  record.async_result_type_name = function.async && result.element_type != nullptr
                                      ? result.element_type->name().c_str()
                                      : kEmptyText;
  record.tags = TagList(parts.tag_lists, function.tags);
  record.tag_count = Count(function.tags.size());
  return record;
}

// One record per registered function, in registration order; returns where
// each name's first record is.
FunctionIndex DescribeFunctions(DescriptionParts& parts, const TypeRegistry& registry) {
  const std::vector<const FunctionRecord*> functions = registry.SnapshotFunctions();
  FunctionIndex function_index;
  parts.functions.reserve(functions.size());
  for (const FunctionRecord* function : functions) {
    function_index.emplace(function->name, parts.functions.size());  // first of a name wins
    parts.functions.push_back(DescribeFunction(parts, *function));
  }
  Link(parts.functions);
  return function_index;
}

// Fields for a type that has any, else enumerators (possibly none).
void DescribeMembers(DescriptionParts& parts, const TypeRecord& type, CoreTypeRecord& record) {
  if (!type.fields().empty()) {
    std::vector<CoreFieldRecord> fields;
    fields.reserve(type.fields().size());
    for (const FieldRecord& field : type.fields()) {
      auto entry = Zeroed<CoreFieldRecord>();
      entry.name = field.name.c_str();
      entry.description = field.description.c_str();
      entry.offset = field.offset;
      entry.type = MakeCoreTypeId(field.second_type.kind != NativeKind::kNone ? field.second_type
                                                                              : field.type);
      entry.flags = static_cast<uint8_t>(field.flags);
      fields.push_back(entry);
    }
    Link(fields);
    record.fields = fields.data();
    record.member_count = Count(fields.size());
    parts.fields.push_back(std::move(fields));
    return;
  }
  std::vector<CoreEnumValueRecord> enumerators;
  enumerators.reserve(type.values().size());
  for (const auto& [name, value] : type.values()) {  // name order
    auto entry = Zeroed<CoreEnumValueRecord>();
    entry.name = value.name.c_str();
    entry.description = value.description.c_str();
    entry.value = value.value;
    enumerators.push_back(entry);
  }
  Link(enumerators);
  record.enumerators = FirstOrNull(enumerators);
  record.member_count = Count(enumerators.size());
  parts.enumerators.push_back(std::move(enumerators));
}

// One record per registered type, in registration order.
void DescribeTypes(DescriptionParts& parts, const TypeRegistry& registry) {
  const std::vector<const TypeRecord*> types = registry.SnapshotTypes();
  parts.types.reserve(types.size());
  for (const TypeRecord* type : types) {
    auto record = Zeroed<CoreTypeRecord>();
    record.name = type->name().c_str();
    record.name_space = type->name_space().c_str();
    record.native_size = type->native_size();
    record.description = type->description().c_str();
    record.tags = TagList(parts.tag_lists, type->tags());
    record.tag_count = Count(type->tags().size());
    DescribeMembers(parts, *type, record);
    parts.types.push_back(record);
  }
  Link(parts.types);
}

// One record per registered event, in registration order.
void DescribeEvents(DescriptionParts& parts, const TypeRegistry& registry) {
  const std::vector<const EventRecord*> events = registry.SnapshotEvents();
  parts.events.reserve(events.size());
  for (const EventRecord* event : events) {
    auto record = Zeroed<CoreEventRecord>();
    record.name = event->name.c_str();
    record.name_space = event->name_space.c_str();
    const TypeRecord* payload = registry.FindType(event->payload_type);
    record.payload_type_name = payload != nullptr ? payload->name().c_str() : kEmptyText;
    record.description = event->description.c_str();
    record.tags = TagList(parts.tag_lists, event->tags);
    record.tag_count = Count(event->tags.size());
    parts.events.push_back(record);
  }
  Link(parts.events);
}

// The route fields of one descriptor: argument locations, path and method.
void DescribeRoute(DescriptionParts& parts, const FunctionRoute& route,
                   CoreFunctionDescriptor& descriptor) {
  if (!route.argument_locations().empty()) {
    std::vector<CoreArgumentLocationEntry> locations;
    locations.reserve(route.argument_locations().size());
    for (ArgumentLocation location : route.argument_locations()) {
      locations.push_back({nullptr, ArgumentLocationRecordValue(location)});
    }
    Link(locations);
    descriptor.argument_locations = locations.data();
    parts.locations.push_back(std::move(locations));
  }
  descriptor.path = route.path().c_str();
  descriptor.method = HttpMethodRecordValue(route.method());
  descriptor.route_flag = 0;
  descriptor.route_text_lists = nullptr;
  descriptor.route_text_list_count = 0;
  descriptor.method_name =
      route.method() == HttpMethod::kCustom ? route.method_name().c_str() : kEmptyText;
}

// One descriptor per route, in the table's order, each with its function's
// record and its context pair.
void DescribeRoutes(DescriptionParts& parts, const RouteTable& routes,
                    const FunctionIndex& function_index, FunctionContexts& contexts,
                    CallGate* gate) {
  parts.descriptors.reserve(routes.size());
  for (const auto& [name, route] : routes.routes()) {
    auto descriptor = Zeroed<CoreFunctionDescriptor>();
    auto found = function_index.find(name);
    if (found != function_index.end()) descriptor.function = parts.functions[found->second];

    FunctionContext& context = contexts[name];
    context.gate = gate;
    context.route = &route;
    descriptor.function.function_context = &context;
    descriptor.callback = &CallFunctionDescriptor;
    DescribeRoute(parts, route, descriptor);
    parts.descriptors.push_back(descriptor);
  }
  // The descriptor array is the one the host walks: link it in itself.
  for (std::size_t i = 0; i < parts.descriptors.size(); ++i) {
    parts.descriptors[i].function.next =
        i + 1 < parts.descriptors.size()
            ? reinterpret_cast<CoreFunctionRecord*>(&parts.descriptors[i + 1])
            : nullptr;
  }
}

}  // namespace

void BuildApiDescription(ApiDescriptionBlock& block, const TypeRegistry& registry,
                         const RouteTable& routes, FunctionContexts& contexts, CallGate* gate) {
  DescriptionParts parts;
  const FunctionIndex function_index = DescribeFunctions(parts, registry);
  DescribeTypes(parts, registry);
  DescribeEvents(parts, registry);
  DescribeRoutes(parts, routes, function_index, contexts, gate);

  block.description_.functions = FirstOrNull(parts.descriptors);
  block.description_.function_count = Count(parts.descriptors.size());
  block.description_.types = FirstOrNull(parts.types);
  block.description_.type_count = Count(parts.types.size());
  block.description_.events = FirstOrNull(parts.events);
  block.description_.event_count = Count(parts.events.size());
  block.functions_ = std::move(parts.functions);
  block.arguments_ = std::move(parts.arguments);
  block.tag_lists_ = std::move(parts.tag_lists);
  block.types_ = std::move(parts.types);
  block.fields_ = std::move(parts.fields);
  block.enumerators_ = std::move(parts.enumerators);
  block.events_ = std::move(parts.events);
  block.descriptors_ = std::move(parts.descriptors);
  block.locations_ = std::move(parts.locations);
}

}  // namespace Kestrel
