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
    PropertyResult converted;
    ConvertField(converted, base + field.offset, field, registry);
    if (!converted.IsValid()) {
      output.SetError(converted.GetError());
      return;
    }
    if ((field.flags & kFieldOmitIfZero) != 0 && converted.IsZero()) continue;
    output.Field(field.name) = std::move(converted);
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
  switch (kind) {
    case NativeKind::kBool:
      output.SetBool(Load<uint8_t>(native) != 0);
      return;
    case NativeKind::kInt8:
      output.SetSigned(Load<int8_t>(native));
      return;
    case NativeKind::kInt16:
      output.SetSigned(Load<int16_t>(native));
      return;
    case NativeKind::kInt32:
      output.SetSigned(Load<int32_t>(native));
      return;
    case NativeKind::kInt64:
      output.SetSigned(Load<int64_t>(native));
      return;
    case NativeKind::kUInt8:
      output.SetUnsigned(Load<uint8_t>(native));
      return;
    case NativeKind::kUInt16:
      output.SetUnsigned(Load<uint16_t>(native));
      return;
    case NativeKind::kUInt32:
      output.SetUnsigned(Load<uint32_t>(native));
      return;
    case NativeKind::kUInt64:
      output.SetUnsigned(Load<uint64_t>(native));
      return;
    case NativeKind::kFloat:
      output.SetDouble(Load<float>(native));
      return;
    case NativeKind::kDouble:
      output.SetDouble(Load<double>(native));
      return;
    case NativeKind::kString:
      output.SetString(*static_cast<const std::string*>(native));
      return;
    case NativeKind::kObject:
      static_cast<BindingProperty&>(output) = *static_cast<const BindingProperty*>(native);
      return;
    case NativeKind::kBlob: {
      const auto& bytes = *static_cast<const std::vector<uint8_t>*>(native);
      output.SetBlob(bytes.data(), bytes.size());
      return;
    }
    case NativeKind::kEnum: {
      const TypeRecord* enum_type = field.type.element_type;
      ConvertEnum(output, ReadEnumNumber(native, enum_type->native_size()), enum_type->identity());
      return;
    }
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
