// `FieldCodec<T>` and `NativeFieldAdapter<T>`: the conversion of one native
// field type in both directions, and the `FieldAdapter` that forwards to it.
//
// `TypeBuilder::AddField<T>` gives every field a `NativeFieldAdapter<T>`, whose
// Assign and Convert call `FieldCodec<T>::Assign` and `FieldCodec<T>::Convert`.
// The primary `FieldCodec<T>` applies the typed rules of assign_native.h and
// convert_native.h, so the adapters of vectors and maps of structs and enums,
// of nested vectors and of single blobs apply the same rules per element, with
// the container's path. A type that needs other behaviour specialises
// `FieldCodec<T>` before its fields are added, as `BindingCallback` does here.
// The adapter's Walk (native_walker.h) walks vectors and enums of the primary
// codec element by element, by the same typed rules; every other field, and
// every specialised codec, is walked through its Convert.
#ifndef VYN_BINDING_FIELD_CODEC_H_
#define VYN_BINDING_FIELD_CODEC_H_

#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/assign_native.h"
#include "binding/binding_property.h"
#include "binding/builtin_vocabulary.h"
#include "binding/convert_native.h"
#include "binding/field_adapter.h"
#include "binding/native_walker.h"

namespace Kestrel {

// Message of a field that has no conversion at all (no adapter, or a kind with
// no native form); registered fields never produce it.
inline constexpr const char kUnsupportedFieldType[] = "Unsupported field type";

template <class T>
struct FieldCodec {
  // Marks the typed rules: a field of this codec may be walked directly.
  static constexpr bool kTypedRules = true;
  // Assigns `input` to `native` by the rule of T; `element_type` is the record
  // of the struct or enum T holds (may be null: the unregistered messages).
  static void Assign(PropertyResult& status, T& native, const BindingProperty& input,
                     std::string_view path, const TypeRecord* element_type, TypeRegistry& registry,
                     uint32_t /*flags*/) {
    AssignValue<T>(status, native, input, path, element_type, registry);
  }
  // Converts `native` into `output` by the rule of T; fails only for an
  // unregistered struct.
  static void Convert(PropertyResult& output, const T& native, const TypeRecord* element_type,
                      TypeRegistry& registry) {
    ConvertValue<T>(output, native, element_type, registry);
  }
};

// A callback field holds the callback's id: assigned by the uint32 rule (the
// messages name "uint32"), converted to an unsigned number.
template <>
struct FieldCodec<BindingCallback> {
  static void Assign(PropertyResult& status, BindingCallback& native, const BindingProperty& input,
                     std::string_view path, const TypeRecord* /*element_type*/,
                     TypeRegistry& /*registry*/, uint32_t /*flags*/) {
    native.id = static_cast<uint32_t>(
        AssignUnsigned(status, input, path, ConversionDetail::UnsignedRangeOf<uint32_t>()));
  }
  static void Convert(PropertyResult& output, const BindingCallback& native,
                      const TypeRecord* /*element_type*/, TypeRegistry& /*registry*/) {
    output.SetUnsigned(native.id);
  }
};

namespace ConversionDetail {

// Fields the adapter walks itself rather than through a tree: vectors and
// enums converted by the typed rules.
template <class T>
concept WalksDirectly = requires {
  FieldCodec<T>::kTypedRules;
}
&&(std::is_enum_v<T> || (IsVector<T>::value && !std::is_same_v<T, std::vector<uint8_t>>));

}  // namespace ConversionDetail

// The adapter of a field whose C++ type is T; stateless.
template <class T>
class NativeFieldAdapter final : public FieldAdapter {
 public:
  void Assign(PropertyResult& status, void* native, const BindingProperty& input,
              std::string_view path, const TypeRecord* element_type, TypeRegistry& registry,
              uint32_t flags) const override {
    FieldCodec<T>::Assign(status, *static_cast<T*>(native), input, path, element_type, registry,
                          flags);
  }
  void Convert(PropertyResult& output, const void* native, const TypeRecord* element_type,
               TypeRegistry& registry) const override {
    FieldCodec<T>::Convert(output, *static_cast<const T*>(native), element_type, registry);
  }
  [[nodiscard]] bool Walk(NativeSink& sink, std::string_view name, const void* native,
                          const TypeRecord* element_type, TypeRegistry& registry) const override {
    if constexpr (ConversionDetail::WalksDirectly<T>) {
      sink.Key(name);
      return WalkValue<T>(sink, *static_cast<const T*>(native), element_type, registry);
    } else {
      return FieldAdapter::Walk(sink, name, native, element_type, registry);
    }
  }
  bool IsZero(const void* native, const TypeRecord* element_type,
              TypeRegistry& registry) const override {
    if constexpr (ConversionDetail::WalksDirectly<T>) {
      // What the converted value's zero test would say, read off the native value.
      const T& value = *static_cast<const T*>(native);
      if constexpr (std::is_enum_v<T>) {
        return ConversionDetail::EnumToNumber(value) == 0;
      } else {
        return value.empty();
      }
    } else {
      return FieldAdapter::IsZero(native, element_type, registry);
    }
  }
};

}  // namespace Kestrel

#endif  // VYN_BINDING_FIELD_CODEC_H_
