#include "binding/convert_native.h"

#include "binding/field_adapter.h"
#include "binding/type_registry.h"

namespace Kestrel {

BindingProperty& PropertyTreeSink::Next() {
  if (depth_ == 0) return root_;
  BindingProperty& container =
      *(depth_ <= kInlineDepth ? inline_[depth_ - 1] : spill_[depth_ - 1 - kInlineDepth]);
  // Room for every element was made when the collection opened, so appending
  // never moves the elements that are still open.
  if (container.kind() == PropertyKind::kCollection) return container.Append();
  // Member names come from the walk without NUL bytes.
  return container.FieldWithoutNul(key_);
}

BindingProperty& PropertyTreeSink::Open(BindingProperty& container) {
  if (depth_ < kInlineDepth) {
    inline_[depth_] = &container;
  } else if (depth_ - kInlineDepth < spill_.size()) {
    spill_[depth_ - kInlineDepth] = &container;
  } else {
    spill_.push_back(&container);
  }
  ++depth_;
  return container;
}

void PropertyTreeSink::BeginCollection(std::size_t count) {
  // A collection starts afresh, the root's too: its elements then fit the
  // room made here, so the elements still open never move.
  BindingProperty& target = Next();
  target.Clear();
  Open(target).MakeCollection(count);
}

void PropertyTreeSink::BeginStructure(std::size_t count) {
  // Below the root a structure starts afresh; the root keeps its members.
  BindingProperty& target = Next();
  if (depth_ != 0) target.Clear();
  Open(target).MakeStructure();
  target.ReserveFields(count);
}

void FailConversion(PropertyResult& output) {
  output.SetError(kUnregisteredConvertMessage);
}

void ConvertStruct(PropertyResult& output, const void* native, const TypeRecord* type,
                   TypeRegistry& registry) {
  if (type == nullptr) {
    FailConversion(output);
    return;
  }
  if (!output.IsValid()) return;
  PropertyTreeSink sink(output);
  if (!WalkStruct(sink, native, type, registry)) FailConversion(output);
}

void ConvertField(PropertyResult& output, const void* native, const FieldRecord& field,
                  TypeRegistry& registry) {
  output.Reset();
  PropertyTreeSink sink(output);
  if (!WalkField(sink, native, field, registry)) FailConversion(output);
}

void ConvertEnum(PropertyResult& output, int32_t number, const StaticTypeInfo* type) {
  output.Reset();
  output.SetEnum(EnumValue{number, type});
}

void FieldAdapter::Convert(PropertyResult& output, const void* native,
                           const TypeRecord* element_type, TypeRegistry& registry) const {
  PropertyTreeSink sink(output);
  if (!Walk(sink, native, element_type, registry)) FailConversion(output);
}

}  // namespace Kestrel
