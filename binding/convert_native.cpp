#include "binding/convert_native.h"

#include <cstring>

#include "binding/field_codec.h"
#include "binding/type_registry.h"

namespace Kestrel {
namespace {

template <class T>
T Load(const void* native) {
  T value;
  std::memcpy(&value, native, sizeof(T));
  return value;
}

// Whether `field` holds a plain value (bool, number, string, bytes, or an enum
// with its record) that converts without its adapter and cannot fail.
bool IsLeaf(const FieldRecord& field) {
  if (field.use_adapter) return false;
  switch (field.type.kind) {
    case NativeKind::kBool:
    case NativeKind::kInt8:
    case NativeKind::kInt16:
    case NativeKind::kInt32:
    case NativeKind::kInt64:
    case NativeKind::kUInt8:
    case NativeKind::kUInt16:
    case NativeKind::kUInt32:
    case NativeKind::kUInt64:
    case NativeKind::kFloat:
    case NativeKind::kDouble:
    case NativeKind::kString:
    case NativeKind::kBlob:
      return true;
    case NativeKind::kEnum:
      return field.type.element_type != nullptr;
    default:
      return false;
  }
}

// Writes the leaf field (see IsLeaf) stored at `native` into `to`.
void WriteLeaf(BindingProperty& to, const void* native, const FieldRecord& field) {
  switch (field.type.kind) {
    case NativeKind::kBool:
      to.SetBool(Load<uint8_t>(native) != 0);
      return;
    case NativeKind::kInt8:
      to.SetSigned(Load<int8_t>(native));
      return;
    case NativeKind::kInt16:
      to.SetSigned(Load<int16_t>(native));
      return;
    case NativeKind::kInt32:
      to.SetSigned(Load<int32_t>(native));
      return;
    case NativeKind::kInt64:
      to.SetSigned(Load<int64_t>(native));
      return;
    case NativeKind::kUInt8:
      to.SetUnsigned(Load<uint8_t>(native));
      return;
    case NativeKind::kUInt16:
      to.SetUnsigned(Load<uint16_t>(native));
      return;
    case NativeKind::kUInt32:
      to.SetUnsigned(Load<uint32_t>(native));
      return;
    case NativeKind::kUInt64:
      to.SetUnsigned(Load<uint64_t>(native));
      return;
    case NativeKind::kFloat:
      to.SetDouble(Load<float>(native));
      return;
    case NativeKind::kDouble:
      to.SetDouble(Load<double>(native));
      return;
    case NativeKind::kString:
      to.SetString(*static_cast<const std::string*>(native));
      return;
    case NativeKind::kBlob: {
      const auto& bytes = *static_cast<const std::vector<uint8_t>*>(native);
      to.SetBlob(bytes.data(), bytes.size());
      return;
    }
    case NativeKind::kEnum: {
      const TypeRecord* enum_type = field.type.element_type;
      to.SetEnum(
          EnumValue{ReadEnumNumber(native, enum_type->native_size()), enum_type->identity()});
      return;
    }
    default:
      return;
  }
}

// Whether a leaf field (see WriteLeaf) converts to a zero value, decided from
// the native value so that an omitted text or enum never touches a store.
bool LeafIsZero(const void* native, const FieldRecord& field) {
  switch (field.type.kind) {
    case NativeKind::kString:
      return static_cast<const std::string*>(native)->empty();
    case NativeKind::kBlob:
      return static_cast<const std::vector<uint8_t>*>(native)->empty();
    case NativeKind::kEnum:
      return ReadEnumNumber(native, field.type.element_type->native_size()) == 0;
    default: {
      BindingProperty number;  // scalars need no store
      WriteLeaf(number, native, field);
      return number.IsZero();
    }
  }
}

}  // namespace

void ConvertStruct(PropertyResult& output, const void* native, const TypeRecord* type,
                   TypeRegistry& registry) {
  if (type == nullptr) {
    output.SetError(kUnregisteredConvertMessage);
    return;
  }
  output.MakeStructure();
  const auto* base = static_cast<const unsigned char*>(native);
  for (const FieldRecord& field : type->fields()) {
    if (!output.IsValid()) return;
    const void* storage = base + field.offset;
    const bool omit_if_zero = (field.flags & kFieldOmitIfZero) != 0;
    // Plain values go straight into their member: converting them into a tree
    // of their own would build a second store and copy the text across.
    if (IsLeaf(field)) {
      if (omit_if_zero && LeafIsZero(storage, field)) continue;
      WriteLeaf(output.Field(field.name), storage, field);
      continue;
    }
    // A dynamic value is copied once, straight into its member.
    if (field.type.kind == NativeKind::kObject && !field.use_adapter) {
      const auto& object = *static_cast<const BindingProperty*>(storage);
      if (omit_if_zero && object.IsZero()) continue;
      output.Field(field.name) = object;
      continue;
    }
    // Containers are built in the output's tree, then handed to their member
    // without a copy.
    PropertyResult converted = PropertyResult::InTreeOf(output);
    ConvertField(converted, storage, field, registry);
    if (!converted.IsValid()) {
      output.SetError(std::string(converted.GetError()));
      return;
    }
    if (omit_if_zero && converted.IsZero()) continue;
    output.Field(field.name).AdoptFromSameTree(converted);
  }
}

void ConvertField(PropertyResult& output, const void* native, const FieldRecord& field,
                  TypeRegistry& registry) {
  output.Reset();
  const NativeKind kind = field.type.kind;
  const bool by_adapter = field.use_adapter || kind == NativeKind::kVector ||
                          kind == NativeKind::kCallback || kind == NativeKind::kMap ||
                          (kind == NativeKind::kEnum && field.type.element_type == nullptr);
  if (by_adapter) {
    if (field.adapter != nullptr) {
      field.adapter->Convert(output, native, field.type.element_type, registry);
    }
    return;
  }
  if (IsLeaf(field)) {
    WriteLeaf(output, native, field);
    return;
  }
  switch (kind) {
    case NativeKind::kObject:
      static_cast<BindingProperty&>(output) = *static_cast<const BindingProperty*>(native);
      return;
    case NativeKind::kStruct:
      ConvertStruct(output, native, field.type.element_type, registry);
      return;
    default:
      return;  // no native value to read: stays empty
  }
}

void ConvertEnum(PropertyResult& output, int32_t number, const StaticTypeInfo* type) {
  output.Reset();
  output.SetEnum(EnumValue{number, type});
}

int32_t ReadEnumNumber(const void* native, uint32_t size) {
  switch (size) {
    case 1:
      return Load<int8_t>(native);
    case 2:
      return Load<int16_t>(native);
    case 4:
      return Load<int32_t>(native);
    case 8:
      return static_cast<int32_t>(static_cast<uint32_t>(Load<uint64_t>(native)));
    default:
      return 0;
  }
}

}  // namespace Kestrel
