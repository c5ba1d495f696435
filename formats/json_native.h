// The two typed JSON shortcuts: a native value written as JSON text
// (`SerializeJson`, walked straight into the JSON writer; a value that cannot
// be converted takes its failure from the conversion into a property tree) and
// JSON text read into a native value (`ReadJsonInto`, through the JSON reader
// and the property-to-native assignment). T is any type the conversions
// accept: a registered struct or enum, a scalar, std::string, a vector or a
// map of them. Nothing is retained between calls.
//
//   MaybeType<std::string> text = SerializeJson(request, registry);
//   if (text.is_failure()) return text.failure();
//   Response response;
//   if (!ReadJsonInto(body, response, registry)) return Failure("Bad payload");
#ifndef VYN_FORMATS_JSON_NATIVE_H_
#define VYN_FORMATS_JSON_NATIVE_H_

#include <string>
#include <string_view>

#include "binding/assign_native.h"
#include "binding/binding_property.h"
#include "binding/convert_native.h"
#include "binding/native_walker.h"
#include "binding/static_type.h"
#include "formats/json_writer.h"
#include "util/failure.h"

namespace Kestrel {

class TypeRegistry;

// The root name used in assignment messages of `ReadJsonInto`.
inline constexpr char kJsonRootName[] = "<value>";

// Returns the JSON text of the converted value `converted`, or, when it is
// invalid, a Failure (code 0) "Failed to convert type \"%1\" to BindingProperty
// for serialization" with `type_name` as %1.
[[nodiscard]] MaybeType<std::string> WriteConvertedJson(const PropertyResult& converted,
                                                        const StaticTypeInfo& type_name,
                                                        const TypeRegistry& registry);

// Parses the JSON text `text` (up to its length or first NUL); see ParseJson.
[[nodiscard]] PropertyResult ParseJsonText(std::string_view text);

// Returns the compact JSON text of `native`, or a Failure naming T's readable
// type name when it holds an unregistered struct.
template <class T>
[[nodiscard]] MaybeType<std::string> SerializeJson(const T& native, TypeRegistry& registry) {
  std::string text;
  if (WriteJson(MakeNativeWalk(native, registry), &registry, text)) return text;
  // The conversion into a tree gives the failure and its message.
  PropertyResult converted;
  ConvertNative(converted, native, registry);
  return WriteConvertedJson(converted, StaticType::Name<T>(), registry);
}

// Parses `text` and assigns the value to `native`, naming the root "<value>".
// Returns whether both steps succeeded; the first failing step's message goes
// to `*message` when `message` is not nullptr. On an assignment failure
// `native` holds what was assigned up to the failing field.
template <class T>
[[nodiscard]] bool ReadJsonInto(std::string_view text, T& native, TypeRegistry& registry,
                                std::string* message = nullptr) {
  PropertyResult parsed = ParseJsonText(text);
  if (!parsed.IsValid()) {
    if (message != nullptr) *message = std::string(parsed.GetError());
    return false;
  }
  PropertyResult status;
  AssignNative(status, native, parsed, kJsonRootName, registry);
  if (!status.IsValid()) {
    if (message != nullptr) *message = std::string(status.GetError());
    return false;
  }
  return true;
}

}  // namespace Kestrel

#endif  // VYN_FORMATS_JSON_NATIVE_H_
