#include "binding/convert_native.h"

#include <cstring>

#include "binding/field_codec.h"
#include "binding/native_leaf.h"
#include "binding/type_registry.h"

namespace Kestrel {
namespace {

using ConversionDetail::IsLeafField;
using ConversionDetail::LeafFieldIsZero;
using ConversionDetail::LoadNative;

// Writes the plain field (see IsLeafField) stored at `native` into `to`.
void WriteLeaf(BindingProperty& to, const void* native, const FieldRecord& field) {
  struct Setter {
    BindingProperty& to;
    void operator()(bool value) const { to.SetBool(value); }
    void operator()(int64_t value) const { to.SetSigned(value); }
    void operator()(uint64_t value) const { to.SetUnsigned(value); }
    void operator()(double value) const { to.SetDouble(value); }
    void operator()(const std::string& text) const { to.SetString(text); }
    void operator()(const std::vector<uint8_t>& bytes) const {
      to.SetBlob(bytes.data(), bytes.size());
    }
    void operator()(EnumValue value) const { to.SetEnum(value); }
  };
  ConversionDetail::ReadLeaf(native, field, Setter{to});
}

}  // namespace

namespace ConversionDetail {

bool IsLeafField(const FieldRecord& field) {
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

bool ConvertsByAdapter(const FieldRecord& field) {
  const NativeKind kind = field.type.kind;
  return field.use_adapter || kind == NativeKind::kVector || kind == NativeKind::kCallback ||
         kind == NativeKind::kMap ||
         (kind == NativeKind::kEnum && field.type.element_type == nullptr);
}

// Texts, bytes and enums are judged on the native value, so that an omitted
// text or enum never touches a store.
bool LeafFieldIsZero(const void* native, const FieldRecord& field) {
  switch (field.type.kind) {
    case NativeKind::kString: {
      // The setters keep a text up to its first NUL: one that starts with it
      // converts to the empty text.
      const auto& text = *static_cast<const std::string*>(native);
      return text.empty() || text.front() == '\0';
    }
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

}  // namespace ConversionDetail

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
    if (IsLeafField(field)) {
      if (omit_if_zero && LeafFieldIsZero(storage, field)) continue;
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
  if (ConversionDetail::ConvertsByAdapter(field)) {
    if (field.adapter != nullptr) {
      field.adapter->Convert(output, native, field.type.element_type, registry);
    }
    return;
  }
  if (IsLeafField(field)) {
    WriteLeaf(output, native, field);
    return;
  }
  switch (field.type.kind) {
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
      return LoadNative<int8_t>(native);
    case 2:
      return LoadNative<int16_t>(native);
    case 4:
      return LoadNative<int32_t>(native);
    case 8:
      return static_cast<int32_t>(static_cast<uint32_t>(LoadNative<uint64_t>(native)));
    default:
      return 0;
  }
}

}  // namespace Kestrel
