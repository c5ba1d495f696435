// `FieldCodec<T>` and `NativeFieldAdapter<T>`: the conversion of one native
// field type in both directions, and the `FieldAdapter` that forwards to it.
//
// `TypeBuilder::AddField<T>` gives every field a `NativeFieldAdapter<T>`, whose
// Assign and Walk call `FieldCodec<T>::Assign` and `FieldCodec<T>::Walk`. The
// primary `FieldCodec<T>` applies the typed rules of assign_native.h and
// native_walker.h, so the adapters of vectors and maps of structs and enums,
// of nested vectors and of single blobs apply the same rules per element, with
// the container's path. A type that needs other behaviour specialises
// `FieldCodec<T>` before its fields are added, as `BindingCallback` does here.
#ifndef VYN_BINDING_FIELD_CODEC_H_
#define VYN_BINDING_FIELD_CODEC_H_

#include <cstdint>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/assign_native.h"
#include "binding/binding_callback.h"
#include "binding/binding_property.h"
#include "binding/field_adapter.h"
#include "binding/native_walker.h"

namespace Kestrel {

template <class T>
struct FieldCodec {
  // Marks the typed rules (see IsTypedContainer below).
  static constexpr bool kTypedRules = true;
  // Assigns `input` to `native` by the rule of T; `element_type` is the record
  // of the struct or enum T holds (may be null: the unregistered messages).
  static void Assign(PropertyResult& status, T& native, const BindingProperty& input,
                     std::string_view path, const TypeRecord* element_type, TypeRegistry& registry,
                     uint32_t /*flags*/) {
    AssignValue<T>(status, native, input, path, element_type, registry);
  }
  // Walks `native` into `sink` by the rule of T; false only for an
  // unregistered struct. `element_type` may be null, as for `Assign`.
  [[nodiscard]] static bool Walk(NativeSink& sink, const T& native, const TypeRecord* element_type,
                                 TypeRegistry& registry) {
    return WalkValue<T>(sink, native, element_type, registry);
  }
};

// A callback field holds the callback's id: assigned by the uint32 rule (the
// messages name "uint32"), converted to an unsigned number.
template <>
struct FieldCodec<BindingCallback> {
  // As the primary rules; `element_type` is not read and may be null.
  static void Assign(PropertyResult& status, BindingCallback& native, const BindingProperty& input,
                     std::string_view path, const TypeRecord* /*element_type*/,
                     TypeRegistry& /*registry*/, uint32_t /*flags*/) {
    native.id = static_cast<uint32_t>(
        AssignUnsigned(status, input, path, ConversionDetail::UnsignedRangeOf<uint32_t>()));
  }
  [[nodiscard]] static bool Walk(NativeSink& sink, const BindingCallback& native,
                                 const TypeRecord* /*element_type*/, TypeRegistry& /*registry*/) {
    sink.Unsigned(native.id);
    return true;
  }
};

namespace ConversionDetail {

// Containers converted by the typed rules: zero exactly when they hold nothing.
template <class T>
concept IsTypedContainer = requires {
  FieldCodec<T>::kTypedRules;
}
&&(IsVector<T>::value || IsStringMap<T>::value);

}  // namespace ConversionDetail

// The adapter of a field whose C++ type is T; stateless.
template <class T>
class NativeFieldAdapter final : public FieldAdapter {
 public:
  // The contracts of `FieldAdapter`: `native` is never null, `element_type`
  // may be.
  void Assign(PropertyResult& status, void* native, const BindingProperty& input,
              std::string_view path, const TypeRecord* element_type, TypeRegistry& registry,
              uint32_t flags) const override {
    FieldCodec<T>::Assign(status, *static_cast<T*>(native), input, path, element_type, registry,
                          flags);
  }
  [[nodiscard]] bool Walk(NativeSink& sink, const void* native, const TypeRecord* element_type,
                          TypeRegistry& registry) const override {
    return FieldCodec<T>::Walk(sink, *static_cast<const T*>(native), element_type, registry);
  }
  bool IsZero(const void* native, const TypeRecord* element_type,
              TypeRegistry& registry) const override {
    // An empty container converts to an empty one; a full one is never zero.
    if constexpr (ConversionDetail::IsTypedContainer<T>) {
      return static_cast<const T*>(native)->empty();
    } else {
      return FieldAdapter::IsZero(native, element_type, registry);
    }
  }
};

}  // namespace Kestrel

#endif  // VYN_BINDING_FIELD_CODEC_H_
