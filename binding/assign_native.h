// Assigning a dynamic value (`BindingProperty`) to native memory: the strict
// checks and conversions that turn a request's arguments, a response payload or
// an event payload into the plugin's native records, with the exact message of
// every rejection.
//
// Every assignment shares one `PropertyResult` status. It starts valid; the
// first rejection calls `SetError` with the message and every later step sees
// the invalid status and does nothing more, so the first failure is the one
// reported. Containers stop at the failing element (later elements keep their
// defaults), structs at the failing field (later fields keep their previous
// native values). The path named in messages is the caller's name for the
// top-level value, a field's own name inside a struct, and the container's own
// path for the elements of vectors and maps.
//
// Two ways in: by record (`AssignStruct`, `AssignField`, for callers that hold a
// `TypeRecord` or `FieldRecord` and a native address) and by C++ type
// (`AssignNative<T>`, which finds registered structs and enums itself). Nothing
// here throws for bad input and nothing is retained; records and the registry
// are only read.
//
//   PropertyResult status;
//   Point point;
//   AssignNative(status, point, input, "<value>", registry);
//   if (!status.IsValid()) return Failure(std::string(status.GetError()).c_str());
//
// Choices for values that the range test lets through but that have no exact
// integer form: a NaN double assigns 0 to every integer kind; a double of 2^63
// (the nearest double to the int64 maximum) assigns the int64 maximum, and one
// of 2^64 assigns the uint64 maximum. Nothing relies on undefined conversions.
#ifndef VYN_BINDING_ASSIGN_NATIVE_H_
#define VYN_BINDING_ASSIGN_NATIVE_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/binding_property.h"
#include "binding/number_text.h"
#include "binding/static_type.h"

namespace Kestrel {

class TypeRecord;
class TypeRegistry;
struct FieldRecord;

// ---------------------------------------------------------------------------
// Scalar rules. Each returns the value to store and records a rejection in
// `status`; when `status` is already invalid, or the input is rejected, the
// value returned is zero (false, 0, an empty text or an empty blob). An empty
// input is rejected with "A value for '%1' is required.".

// bool: a bool input, or exactly one of the texts "1", "true", "0", "false".
bool AssignBool(PropertyResult& status, const BindingProperty& input, std::string_view path);

// Signed integers within `range` (type name from `range`): numbers and enums by
// range test, doubles by range test then truncation toward zero, texts by strtoll
// in base 0.
int64_t AssignSigned(PropertyResult& status, const BindingProperty& input, std::string_view path,
                     const SignedRange& range);

// Unsigned integers within `range`: as `AssignSigned`, negatives are out of
// range, texts go through strtoull in base 0.
uint64_t AssignUnsigned(PropertyResult& status, const BindingProperty& input, std::string_view path,
                        const UnsignedRange& range);

// float and double within `range`: numbers and enums converted, doubles by
// range test, texts by strtod. The caller narrows to a single for "float".
double AssignDouble(PropertyResult& status, const BindingProperty& input, std::string_view path,
                    const DoubleRange& range);

// Enum of record `enum_type`: numbers, enums and number texts must be one of its
// enumerators' numbers (low 32 bits); texts may also be an enumerator's name.
// `enum_type` nullptr (not registered) is rejected with the unregistered message.
int32_t AssignEnum(PropertyResult& status, const BindingProperty& input, std::string_view path,
                   const TypeRecord* enum_type);

// String: a string input, or an enum input named through `registry`.
std::string AssignString(PropertyResult& status, const BindingProperty& input,
                         std::string_view path, const TypeRegistry& registry);

// Blob: a blob input copied, or a Base64 text (characters checked first) decoded.
std::vector<uint8_t> AssignBlob(PropertyResult& status, const BindingProperty& input,
                                std::string_view path);

// Object: releases `native`, then, when `status` is valid, deep-copies `input`
// (any kind, empty included) into it. Never fails.
void AssignObject(PropertyResult& status, BindingProperty& native, const BindingProperty& input);

// ---------------------------------------------------------------------------
// Record-driven rules.

// The entry for a top-level struct (an argument, a result, an event payload):
// an empty input is "A value for '%1' is required."; otherwise the struct rule.
// `native` must point to a live object of `type`'s native type; `type` nullptr
// fails with the unregistered message. Does nothing when `status` is invalid.
void AssignStruct(PropertyResult& status, void* native, const BindingProperty& input,
                  std::string_view path, const TypeRecord* type, TypeRegistry& registry);

// The struct rule without the empty-input check: `input` must be a structure;
// each field of `type` in registration order that is present and not empty in
// `input` is assigned; a missing required field fails; extra input fields are
// ignored. `type` nullptr fails with the unregistered message.
void AssignStructFields(PropertyResult& status, void* native, const BindingProperty& input,
                        std::string_view path, const TypeRecord* type, TypeRegistry& registry);

// Assigns `input` to the field `field` whose native storage is at `native` (the
// field's own address, not the struct's; never null), dispatching on the field's native
// kind. Vectors, maps, single blobs, callbacks and fields flagged use-adapter go
// through the field's adapter, which knows the exact C++ type; a field without
// an adapter for those fails with "Unsupported field type".
void AssignField(PropertyResult& status, void* native, const BindingProperty& input,
                 std::string_view path, const FieldRecord& field, TypeRegistry& registry);

// Returns the registered type with `identity`, or nullptr (also for a null identity).
const TypeRecord* FindRegisteredType(const TypeRegistry& registry, const StaticTypeInfo* identity);

// ---------------------------------------------------------------------------
// Typed rules: the same rules chosen by C++ type. Supported types are those a
// struct may register as fields: bool, the integer types, enums, float, double,
// std::string, BindingProperty, std::vector<uint8_t> (a blob), std::vector<T>,
// std::unordered_map<std::string, T>, and registered structs (class types with
// a VYN_STATIC_TYPE spelling).

namespace ConversionDetail {

template <class T>
struct IsVector : std::false_type {};
template <class T>
struct IsVector<std::vector<T>> : std::true_type {
  using Element = T;
};
template <class T>
struct IsStringMap : std::false_type {};
template <class T>
struct IsStringMap<std::unordered_map<std::string, T>> : std::true_type {
  using Element = T;
};

// The identity of the struct or enum that T holds (innermost for containers),
// or nullptr when it holds none.
template <class T>
const StaticTypeInfo* InnermostIdentity() {
  if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
    return nullptr;
  } else if constexpr (IsVector<T>::value) {
    return InnermostIdentity<typename IsVector<T>::Element>();
  } else if constexpr (IsStringMap<T>::value) {
    return InnermostIdentity<typename IsStringMap<T>::Element>();
  } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, BindingProperty>) {
    return nullptr;
  } else if constexpr (std::is_enum_v<T> || std::is_class_v<T>) {
    return &StaticType::HashCode<T>();
  } else {
    return nullptr;
  }
}

template <class T>
constexpr SignedRange SignedRangeOf() {
  if constexpr (sizeof(T) == 1) return kInt8Range;
  if constexpr (sizeof(T) == 2) return kInt16Range;
  if constexpr (sizeof(T) == 4) return kInt32Range;
  return kInt64Range;
}

template <class T>
constexpr UnsignedRange UnsignedRangeOf() {
  if constexpr (sizeof(T) == 1) return kUint8Range;
  if constexpr (sizeof(T) == 2) return kUint16Range;
  if constexpr (sizeof(T) == 4) return kUint32Range;
  return kUint64Range;
}

// Stores an enumerator number into an enum of any width: sign-extended to 8
// bytes, truncated to 1, 2 or 4.
template <class E>
E EnumFromNumber(int32_t number) {
  using Underlying = std::underlying_type_t<E>;
  return static_cast<E>(static_cast<Underlying>(static_cast<int64_t>(number)));
}

// "Couldn't assign value to '%1' of type vector because the input not a
// collection." (or the required message for an empty input when `bool_elements`).
void FailNotCollection(PropertyResult& status, const BindingProperty& input, std::string_view path,
                       bool bool_elements);
// "Couldn't assign value to '%1' of type map because the input not a structure."
void FailNotStructureMap(PropertyResult& status, std::string_view path);

// The vector rule for texts, `native` empty on entry: each text element is
// constructed in place from its interned text (no text made and then moved),
// others go through `AssignString`. Ends with one text per element, those
// after a failure empty.
void AssignStringElements(PropertyResult& status, std::vector<std::string>& native,
                          std::span<const BindingProperty> elements, std::string_view path,
                          const TypeRegistry& registry);

}  // namespace ConversionDetail

// Assigns `input` to `native` of C++ type T by the rule of T. `element_type` is
// the record of the struct or enum that T holds (innermost for containers), as
// a field record carries it; nullptr makes structs and enums fail with the
// unregistered messages.
template <class T>
void AssignValue(PropertyResult& status, T& native, const BindingProperty& input,
                 std::string_view path, const TypeRecord* element_type, TypeRegistry& registry) {
  using ConversionDetail::IsStringMap;
  using ConversionDetail::IsVector;
  if constexpr (std::is_same_v<T, bool>) {
    native = AssignBool(status, input, path);
  } else if constexpr (std::is_enum_v<T>) {
    native = ConversionDetail::EnumFromNumber<T>(AssignEnum(status, input, path, element_type));
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    native =
        static_cast<T>(AssignSigned(status, input, path, ConversionDetail::SignedRangeOf<T>()));
  } else if constexpr (std::is_integral_v<T>) {
    native =
        static_cast<T>(AssignUnsigned(status, input, path, ConversionDetail::UnsignedRangeOf<T>()));
  } else if constexpr (std::is_same_v<T, float>) {
    native = static_cast<float>(AssignDouble(status, input, path, kFloatRange));
  } else if constexpr (std::is_same_v<T, double>) {
    native = AssignDouble(status, input, path, kDoubleRange);
  } else if constexpr (std::is_same_v<T, std::string>) {
    native = AssignString(status, input, path, registry);
  } else if constexpr (std::is_same_v<T, BindingProperty>) {
    AssignObject(status, native, input);
  } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
    native = AssignBlob(status, input, path);
  } else if constexpr (IsVector<T>::value) {
    using Element = typename IsVector<T>::Element;
    native.clear();
    if (!status.IsValid()) return;
    if (input.kind() != PropertyKind::kCollection) {
      ConversionDetail::FailNotCollection(status, input, path, std::is_same_v<Element, bool>);
      return;
    }
    const auto elements = input.Elements();
    if constexpr (std::is_same_v<Element, std::string>) {
      ConversionDetail::AssignStringElements(status, native, elements, path, registry);
      return;
    }
    native.resize(elements.size());
    for (std::size_t i = 0; i < elements.size() && status.IsValid(); ++i) {
      if (elements[i].IsEmpty()) continue;
      if constexpr (std::is_same_v<Element, bool>) {
        native[i] = AssignBool(status, elements[i], path);  // packed bit vector
      } else {
        AssignValue<Element>(status, native[i], elements[i], path, element_type, registry);
      }
    }
  } else if constexpr (IsStringMap<T>::value) {
    using Element = typename IsStringMap<T>::Element;
    native.clear();
    if (!status.IsValid()) return;
    if (input.kind() != PropertyKind::kStructure) {
      ConversionDetail::FailNotStructureMap(status, path);
      return;
    }
    input.ForEachField([&](std::string_view name, const BindingProperty& value) {
      if (!status.IsValid() || value.IsEmpty()) return;
      AssignValue<Element>(status, native[std::string(name)], value, path, element_type, registry);
    });
  } else {
    static_assert(std::is_class_v<T> && HasStaticTypeSpelling<T>,
                  "Unsupported native type: declare a struct's spelling with VYN_STATIC_TYPE");
    AssignStruct(status, &native, input, path, element_type, registry);
  }
}

// Assigns `input` to `native` of C++ type T; the struct or enum T holds is found
// in `registry` by its identity (not registered: the unregistered messages).
// `path` names the value in messages. The first failure is left in `status`.
template <class T>
void AssignNative(PropertyResult& status, T& native, const BindingProperty& input,
                  std::string_view path, TypeRegistry& registry) {
  const TypeRecord* element_type =
      FindRegisteredType(registry, ConversionDetail::InnermostIdentity<T>());
  AssignValue<T>(status, native, input, path, element_type, registry);
}

}  // namespace Kestrel

#endif  // VYN_BINDING_ASSIGN_NATIVE_H_
