// `FieldCodec<T>` and `NativeFieldAdapter<T>`: the conversion hook per native
// field type and the `FieldAdapter` that forwards to it.
//
// `TypeBuilder::AddField<T>` gives every field a `NativeFieldAdapter<T>`, whose
// Assign and Convert call `FieldCodec<T>::Assign` and `FieldCodec<T>::Convert`.
// This is the seam where the value conversions plug in: they specialise
// `FieldCodec<T>` (here, or in a header included from here, so that every
// `AddField` sees the specialisation) for the types that need an adapter —
// vectors and maps of structs and enums, nested vectors, blobs, callbacks.
// Specialisations that need `TypeRecord` or `TypeRegistry` in full declare their
// bodies out of line, since this header is included by type_registry.h.
//
// The primary template converts nothing: Assign reports "Unsupported field
// type" and Convert leaves the output empty and valid.
#ifndef VYN_BINDING_FIELD_CODEC_H_
#define VYN_BINDING_FIELD_CODEC_H_

#include <cstdint>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/field_adapter.h"

namespace Kestrel {

inline constexpr const char kUnsupportedFieldType[] = "Unsupported field type";

template <class T>
struct FieldCodec {
  // Writes nothing to `native`; fails `status` unless it already failed.
  static void Assign(PropertyResult& status, T& /*native*/, const BindingProperty& /*input*/,
                     std::string_view /*path*/, const TypeRecord* /*element_type*/,
                     TypeRegistry& /*registry*/, uint32_t /*flags*/) {
    if (status.IsValid()) status.SetError(kUnsupportedFieldType);
  }
  // Leaves `output` as it is (empty and valid for a fresh result).
  static void Convert(PropertyResult& /*output*/, const T& /*native*/,
                      const TypeRecord* /*element_type*/, TypeRegistry& /*registry*/) {}
};

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
};

}  // namespace Kestrel

#endif  // VYN_BINDING_FIELD_CODEC_H_
