#include "binding/native_walker.h"

#include "binding/field_adapter.h"
#include "binding/native_leaf.h"
#include "binding/type_registry.h"

namespace Kestrel {
namespace {

using ConversionDetail::ConvertsByAdapter;
using ConversionDetail::IsLeafField;
using ConversionDetail::LeafFieldIsZero;

// Hands the plain field (see IsLeafField) stored at `native` to `sink`.
void WalkLeaf(NativeSink& sink, const void* native, const FieldRecord& field) {
  struct Emitter {
    NativeSink& sink;
    void operator()(bool value) const { sink.Bool(value); }
    void operator()(int64_t value) const { sink.Signed(value); }
    void operator()(uint64_t value) const { sink.Unsigned(value); }
    void operator()(double value) const { sink.Double(value); }
    // A text converts up to its first NUL.
    void operator()(const std::string& text) const {
      sink.String(std::string_view(text).substr(0, text.find('\0')));
    }
    void operator()(const std::vector<uint8_t>& bytes) const {
      sink.Blob(bytes.data(), bytes.size());
    }
    void operator()(EnumValue value) const { sink.Enum(value); }
  };
  ConversionDetail::ReadLeaf(native, field, Emitter{sink});
}

// Converts the field into a tree and hands it to `sink` as member `name`,
// unless it is omitted.
bool WalkThroughTree(NativeSink& sink, const void* native, const FieldRecord& field,
                     bool omit_if_zero, TypeRegistry& registry) {
  PropertyResult converted;
  ConvertField(converted, native, field, registry);
  if (!converted.IsValid()) return false;
  if (omit_if_zero && converted.IsZero()) return true;
  sink.Key(field.name);
  sink.Property(converted);
  return true;
}

}  // namespace

bool WalkStruct(NativeSink& sink, const void* native, const TypeRecord* type,
                TypeRegistry& registry) {
  if (type == nullptr || !type->has_distinct_field_names()) return false;
  const std::vector<FieldRecord>& fields = type->fields();
  const auto* base = static_cast<const unsigned char*>(native);
  sink.BeginStructure(fields.size());
  for (const uint32_t index : type->fields_in_name_order()) {
    const FieldRecord& field = fields[index];
    const void* storage = base + field.offset;
    const bool omit_if_zero = (field.flags & kFieldOmitIfZero) != 0;
    if (IsLeafField(field)) {
      if (omit_if_zero && LeafFieldIsZero(storage, field)) continue;
      sink.Key(field.name);
      WalkLeaf(sink, storage, field);
      continue;
    }
    const NativeKind kind = field.type.kind;
    if (ConvertsByAdapter(field)) {
      if (field.adapter == nullptr) {
        // No conversion at all: the member is empty.
        if (omit_if_zero) continue;
        sink.Key(field.name);
        sink.Property(BindingProperty::EmptyValue());
        continue;
      }
      if (!field.adapter->Walk(sink, field.name, omit_if_zero, storage, field.type.element_type,
                               registry)) {
        return false;
      }
      continue;
    }
    if (kind == NativeKind::kObject) {
      const auto& object = *static_cast<const BindingProperty*>(storage);
      if (omit_if_zero && object.IsZero()) continue;
      sink.Key(field.name);
      sink.Property(object);
      continue;
    }
    // A nested struct that may be omitted is only known to be zero once
    // converted.
    if (kind == NativeKind::kStruct && !omit_if_zero) {
      sink.Key(field.name);
      if (!WalkStruct(sink, storage, field.type.element_type, registry)) return false;
      continue;
    }
    if (!WalkThroughTree(sink, storage, field, omit_if_zero, registry)) return false;
  }
  sink.EndStructure();
  return true;
}

bool FieldAdapter::Walk(NativeSink& sink, std::string_view name, bool omit_if_zero,
                        const void* native, const TypeRecord* element_type,
                        TypeRegistry& registry) const {
  PropertyResult converted;
  Convert(converted, native, element_type, registry);
  if (!converted.IsValid()) return false;
  if (omit_if_zero && converted.IsZero()) return true;
  sink.Key(name);
  sink.Property(converted);
  return true;
}

}  // namespace Kestrel
