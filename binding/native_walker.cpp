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

// Converts the field into a tree and hands it to `sink` as member `name`.
bool WalkThroughTree(NativeSink& sink, const void* native, const FieldRecord& field,
                     TypeRegistry& registry) {
  PropertyResult converted;
  ConvertField(converted, native, field, registry);
  if (!converted.IsValid()) return false;
  sink.Key(field.name);
  sink.Property(converted);
  return true;
}

// What a walk does with one field of a struct.
enum class Member {
  kWritten,
  kOmitted,  // flagged omit-if-zero and zero
  kFails,    // the walk cannot produce the converted value
};

Member MemberOf(const void* storage, const FieldRecord& field, TypeRegistry& registry);

// Counts the members the walk of the struct at `native` writes, stopping at
// `enough`. False when the struct cannot be walked (see `WalkStruct`).
bool CountMembers(const void* native, const TypeRecord* type, TypeRegistry& registry,
                  std::size_t enough, std::size_t& count) {
  count = 0;
  if (type == nullptr || !type->has_distinct_field_names()) return false;
  const auto* base = static_cast<const unsigned char*>(native);
  for (const FieldRecord& field : type->fields()) {
    if (count == enough) return true;
    switch (MemberOf(base + field.offset, field, registry)) {
      case Member::kWritten:
        ++count;
        break;
      case Member::kOmitted:
        break;
      case Member::kFails:
        return false;
    }
  }
  return true;
}

// Decides by the zero test of the tree conversion (convert_native.cpp), read
// off the native value wherever that is possible.
Member MemberOf(const void* storage, const FieldRecord& field, TypeRegistry& registry) {
  if ((field.flags & kFieldOmitIfZero) == 0) return Member::kWritten;
  bool zero = true;  // a field with no native value to read converts to empty
  if (IsLeafField(field)) {
    zero = LeafFieldIsZero(storage, field);
  } else if (ConvertsByAdapter(field)) {
    zero = field.adapter == nullptr ||
           field.adapter->IsZero(storage, field.type.element_type, registry);
  } else if (field.type.kind == NativeKind::kObject) {
    zero = static_cast<const BindingProperty*>(storage)->IsZero();
  } else if (field.type.kind == NativeKind::kStruct) {
    // A structure is zero when it has no member.
    std::size_t members = 0;
    if (!CountMembers(storage, field.type.element_type, registry, 1, members)) {
      return Member::kFails;
    }
    zero = members == 0;
  }
  return zero ? Member::kOmitted : Member::kWritten;
}

}  // namespace

bool WalkStruct(NativeSink& sink, const void* native, const TypeRecord* type,
                TypeRegistry& registry) {
  // The members are counted first, so that a sink allocates for exactly those.
  std::size_t count = 0;
  if (!CountMembers(native, type, registry, type != nullptr ? type->fields().size() : 0, count)) {
    return false;
  }
  const std::vector<FieldRecord>& fields = type->fields();
  const auto* base = static_cast<const unsigned char*>(native);
  sink.BeginStructure(count);
  for (const uint32_t index : type->fields_in_name_order()) {
    const FieldRecord& field = fields[index];
    const void* storage = base + field.offset;
    if ((field.flags & kFieldOmitIfZero) != 0) {
      const Member member = MemberOf(storage, field, registry);
      if (member == Member::kFails) return false;
      if (member == Member::kOmitted) continue;
    }
    if (IsLeafField(field)) {
      sink.Key(field.name);
      WalkLeaf(sink, storage, field);
      continue;
    }
    const NativeKind kind = field.type.kind;
    if (ConvertsByAdapter(field)) {
      if (field.adapter == nullptr) {
        // No conversion at all: the member is empty.
        sink.Key(field.name);
        sink.Property(BindingProperty::EmptyValue());
        continue;
      }
      if (!field.adapter->Walk(sink, field.name, storage, field.type.element_type, registry)) {
        return false;
      }
      continue;
    }
    if (kind == NativeKind::kObject) {
      sink.Key(field.name);
      sink.Property(*static_cast<const BindingProperty*>(storage));
      continue;
    }
    if (kind == NativeKind::kStruct) {
      sink.Key(field.name);
      if (!WalkStruct(sink, storage, field.type.element_type, registry)) return false;
      continue;
    }
    if (!WalkThroughTree(sink, storage, field, registry)) return false;
  }
  sink.EndStructure();
  return true;
}

bool FieldAdapter::Walk(NativeSink& sink, std::string_view name, const void* native,
                        const TypeRecord* element_type, TypeRegistry& registry) const {
  PropertyResult converted;
  Convert(converted, native, element_type, registry);
  if (!converted.IsValid()) return false;
  sink.Key(name);
  sink.Property(converted);
  return true;
}

bool FieldAdapter::IsZero(const void* native, const TypeRecord* element_type,
                          TypeRegistry& registry) const {
  PropertyResult converted;
  Convert(converted, native, element_type, registry);
  return converted.IsValid() && converted.IsZero();
}

}  // namespace Kestrel
