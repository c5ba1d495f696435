#include "formats/json_native.h"

#include "formats/json_reader.h"
#include "formats/json_writer.h"

namespace Kestrel {

MaybeType<std::string> WriteConvertedJson(const PropertyResult& converted,
                                          const StaticTypeInfo& type_name,
                                          const TypeRegistry& registry) {
  if (!converted.IsValid()) {
    return Failure("Failed to convert type \"%1\" to BindingProperty for serialization",
                   type_name.display_name);
  }
  return WriteJson(converted, &registry);
}

PropertyResult ParseJsonText(std::string_view text) {
  return ParseJson(text.data(), text.size());
}

}  // namespace Kestrel
