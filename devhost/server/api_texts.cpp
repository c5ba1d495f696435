#include "devhost/server/api_texts.h"

#include "host_abi/api_kinds.h"

namespace Kestrel::DevHost {
namespace {

// An element of a type: enums and structs by their type name when known,
// any other kind by its name.
std::string ElementText(uint32_t kind, const std::string& type_name) {
  NativeKind native = NativeKindFromValue(kind);
  if ((native == NativeKind::kEnum || native == NativeKind::kStruct) && !type_name.empty()) {
    return type_name;
  }
  return NativeKindName(kind);
}

}  // namespace

std::string Text(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

std::string TypeIdText(const Client::CoreTypeId& type) {
  std::string type_name = Text(type.type_name);
  NativeKind native = NativeKindFromValue(type.kind);
  if (native == NativeKind::kVector || native == NativeKind::kMap) {
    return std::string(NativeKindName(type.kind)) + "<" +
           ElementText(type.element_kind, type_name) + ">";
  }
  if (type.kind == 0) return "none";
  return ElementText(type.kind, type_name);
}

std::string LocationText(uint32_t location) {
  const char* name = ArgumentLocationName(location);
  return name[0] != '\0' ? std::string(name) : "location " + std::to_string(location);
}

std::vector<uint32_t> ArgumentLocations(const Client::CoreFunctionDescriptor& function) {
  std::vector<uint32_t> locations;
  // Bounded by the argument count and a sane limit, in case a list loops.
  for (const Client::CoreArgumentLocationEntry* entry = function.argument_locations;
       entry != nullptr && locations.size() < 1024; entry = entry->next) {
    uint32_t location = entry->location;  // copied: the record is packed
    locations.push_back(location);
  }
  return locations;
}

}  // namespace Kestrel::DevHost
