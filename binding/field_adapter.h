// `FieldAdapter`: the per-field object that converts one native field type in
// both directions when the registry's own dispatch does not (vectors and maps of
// structs or enums, nested vectors, callbacks, a single blob, and every field
// registered with the use-adapter flag).
//
// Each `FieldRecord` owns exactly one adapter, made by `TypeBuilder::AddField`
// for the field's C++ type (see `NativeFieldAdapter<T>` in field_codec.h) and
// destroyed with the record. Adapters hold no state and may be used by several
// threads at once.
#ifndef VYN_BINDING_FIELD_ADAPTER_H_
#define VYN_BINDING_FIELD_ADAPTER_H_

#include <cstdint>
#include <string_view>

namespace Kestrel {

class BindingProperty;
class NativeSink;
class PropertyResult;
class TypeRecord;
class TypeRegistry;

class FieldAdapter {
 public:
  FieldAdapter() = default;
  FieldAdapter(const FieldAdapter&) = delete;
  FieldAdapter& operator=(const FieldAdapter&) = delete;
  // The destroy operation: releases whatever the adapter holds (nothing for the
  // standard adapters).
  virtual ~FieldAdapter() = default;

  // Assigns `input` to the native field at `native` (dynamic -> native). Does
  // nothing when `status` is already invalid; on rejection calls `SetError` on
  // `status` with a message naming `path`. `element_type` is the field's element
  // `TypeRecord` and may be null (unregistered or not applicable).
  virtual void Assign(PropertyResult& status, void* native, const BindingProperty& input,
                      std::string_view path, const TypeRecord* element_type, TypeRegistry& registry,
                      uint32_t flags) const = 0;

  // Walks the native field at `native` (never null) into `sink` as one value (native ->
  // dynamic; native_walker.h). Returns false when the value cannot be
  // converted (an unregistered struct). `element_type` may be null.
  [[nodiscard]] virtual bool Walk(NativeSink& sink, const void* native,
                                  const TypeRecord* element_type, TypeRegistry& registry) const = 0;

  // Converts the native field at `native` into `output`: its walk into a tree
  // (convert_native.h). `output` starts empty and valid; a failure calls
  // `SetError` on it. `element_type` may be null.
  void Convert(PropertyResult& output, const void* native, const TypeRecord* element_type,
               TypeRegistry& registry) const;

  // Whether the native field at `native` (never null) converts to a zero
  // value (`BindingProperty::IsZero`); one that cannot be converted is not
  // zero. `element_type` may be null.
  // This default walks the value; adapters that can tell from the native
  // value override it.
  [[nodiscard]] virtual bool IsZero(const void* native, const TypeRecord* element_type,
                                    TypeRegistry& registry) const;
};

}  // namespace Kestrel

#endif  // VYN_BINDING_FIELD_ADAPTER_H_
