// Converting native values into dynamic values (`BindingProperty`): handler
// results, event payloads and request bodies become property trees before they
// are serialized or handed to the host.
//
// Structs become structures keyed by their registered field names (listed in
// name order, whatever the registration order), enums become enum values that
// keep their type's static identity (so that writers can print the enumerator's
// name), vectors become collections and maps structures. The only failure is a
// struct whose type is not registered, at any depth; its one message,
// "Couldn't convert native value because it's an unregistered structure.", is
// passed up unchanged by every container around it.
//
// Every conversion writes into an output `PropertyResult` that the caller made
// (empty and valid); on failure the output is invalid and carries the message.
// Nothing is retained; records and the registry are only read.
//
//   PropertyResult output;
//   ConvertNative(output, point, registry);
//   if (output.IsValid()) WriteJson(output, &registry);
#ifndef VYN_BINDING_CONVERT_NATIVE_H_
#define VYN_BINDING_CONVERT_NATIVE_H_

#include <cstdint>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/assign_native.h"
#include "binding/binding_property.h"
#include "binding/static_type.h"

namespace Kestrel {

class TypeRecord;
class TypeRegistry;
struct FieldRecord;

// The one message of this direction.
inline constexpr char kUnregisteredConvertMessage[] =
    "Couldn't convert native value because it's an unregistered structure.";

// Converts the struct at `native` (a live object of `type`'s native type) into a
// structure in `output`. `type` nullptr fails `output` with the unregistered
// message. Fields flagged omit-if-zero whose value is zero are left out. The
// first failing field fails `output` with that field's message.
void ConvertStruct(PropertyResult& output, const void* native, const TypeRecord* type,
                   TypeRegistry& registry);

// Converts the field `field` whose storage is at `native` (the field's own
// address) into `output`, which is first made empty and valid. Vectors, maps,
// callbacks, use-adapter fields and enums whose record is missing go through the
// field's adapter (no adapter: `output` is left empty and valid).
void ConvertField(PropertyResult& output, const void* native, const FieldRecord& field,
                  TypeRegistry& registry);

// Makes `output` an enum value holding `number` and the identity `type` (may be
// nullptr). Never fails, whether or not `number` names an enumerator.
void ConvertEnum(PropertyResult& output, int32_t number, const StaticTypeInfo* type);

// Reads an enum of `size` bytes at `native`: 1, 2 or 4 bytes sign-extended, the
// low 32 bits of 8; any other size gives 0.
int32_t ReadEnumNumber(const void* native, uint32_t size);

namespace ConversionDetail {

// The number of an enum of type E: sign-extended from 1, 2 or 4 bytes, the low
// 32 bits of 8.
template <class E>
int32_t EnumToNumber(E value) {
  using Underlying = std::underlying_type_t<E>;
  const auto raw = static_cast<Underlying>(value);
  if constexpr (sizeof(E) == 8) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(raw)));
  } else {
    return static_cast<int32_t>(static_cast<std::make_signed_t<Underlying>>(raw));
  }
}

// Texts, numbers and bools: what a container element of these types becomes
// is written straight into the element, in the container's own tree.
template <class T>
inline constexpr bool kIsPlain = std::is_same_v<T, std::string> ||
                                 (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);

template <class T>
void SetPlain(BindingProperty& target, const T& native) {
  if constexpr (std::is_same_v<T, std::string>) {
    target.SetString(native);
  } else if constexpr (std::is_floating_point_v<T>) {
    target.SetDouble(static_cast<double>(native));
  } else if constexpr (std::is_signed_v<T>) {
    target.SetSigned(static_cast<int64_t>(native));
  } else {
    target.SetUnsigned(static_cast<uint64_t>(native));
  }
}

}  // namespace ConversionDetail

// Converts `native` of C++ type T into `output` by the rule of T. `element_type`
// is the record of the struct T holds (innermost for containers); nullptr makes
// structs fail with the unregistered message. Enums never need a record: their
// identity is T's own.
template <class T>
void ConvertValue(PropertyResult& output, const T& native, const TypeRecord* element_type,
                  TypeRegistry& registry) {
  using ConversionDetail::IsStringMap;
  using ConversionDetail::IsVector;
  if constexpr (std::is_same_v<T, bool>) {
    output.SetBool(native);
  } else if constexpr (std::is_enum_v<T>) {
    ConvertEnum(output, ConversionDetail::EnumToNumber(native), &StaticType::HashCode<T>());
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    output.SetSigned(static_cast<int64_t>(native));
  } else if constexpr (std::is_integral_v<T>) {
    output.SetUnsigned(static_cast<uint64_t>(native));
  } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
    output.SetDouble(static_cast<double>(native));
  } else if constexpr (std::is_same_v<T, std::string>) {
    output.SetString(native);
  } else if constexpr (std::is_same_v<T, BindingProperty>) {
    static_cast<BindingProperty&>(output) = native;
  } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
    output.SetBlob(native.data(), native.size());
  } else if constexpr (IsVector<T>::value) {
    using Element = typename IsVector<T>::Element;
    output.MakeCollection();
    output.Reserve(native.size());
    for (std::size_t i = 0; i < native.size(); ++i) {
      // Plain elements go straight into the collection: a tree of their own
      // would make a store per element and intern each text twice.
      if constexpr (std::is_same_v<Element, bool>) {
        output.Append().SetBool(native[i]);  // packed bit vector
        continue;
      } else if constexpr (ConversionDetail::kIsPlain<Element>) {
        ConversionDetail::SetPlain(output.Append(), native[i]);
        continue;
      }
      // Other elements are built in the collection's tree and handed over.
      PropertyResult converted = PropertyResult::InTreeOf(output);
      ConvertValue<Element>(converted, native[i], element_type, registry);
      if (!converted.IsValid()) {
        output.SetError(std::string(converted.GetError()));
        return;
      }
      output.At(i).AdoptFromSameTree(converted);
    }
  } else if constexpr (IsStringMap<T>::value) {
    using Element = typename IsStringMap<T>::Element;
    output.MakeStructure();
    for (const auto& [key, value] : native) {
      if constexpr (ConversionDetail::kIsPlain<Element>) {
        ConversionDetail::SetPlain(output.Field(key), value);
        continue;
      }
      PropertyResult converted = PropertyResult::InTreeOf(output);
      ConvertValue<Element>(converted, value, element_type, registry);
      if (!converted.IsValid()) {
        output.SetError(std::string(converted.GetError()));
        return;
      }
      output.Field(key).AdoptFromSameTree(converted);
    }
  } else {
    static_assert(std::is_class_v<T> && HasStaticTypeSpelling<T>,
                  "Unsupported native type: declare a struct's spelling with VYN_STATIC_TYPE");
    ConvertStruct(output, &native, element_type, registry);
  }
}

// Converts `native` of C++ type T into `output`; the struct T holds (innermost
// for containers) is found in `registry` by its identity. Fails only for a struct
// that is not registered, at any depth.
template <class T>
void ConvertNative(PropertyResult& output, const T& native, TypeRegistry& registry) {
  const TypeRecord* element_type =
      FindRegisteredType(registry, ConversionDetail::InnermostIdentity<T>());
  ConvertValue<T>(output, native, element_type, registry);
}

}  // namespace Kestrel

#endif  // VYN_BINDING_CONVERT_NATIVE_H_
