// How the fields of a registered struct convert: which are plain (bool,
// numbers, text, bytes, enums with their record) and which go through their
// adapter, whether a plain one is zero, and its value read from the native
// struct. Shared by the conversion into property
// trees and the native walker so that both read a field by one rule.
//
// Nothing is owned; records and native values are only read.
#ifndef VYN_BINDING_NATIVE_LEAF_H_
#define VYN_BINDING_NATIVE_LEAF_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "binding/binding_property.h"
#include "binding/convert_native.h"
#include "binding/type_registry.h"

namespace Kestrel::ConversionDetail {

// Whether `field` holds a plain value that converts without its adapter and
// cannot fail. Never fails.
bool IsLeafField(const FieldRecord& field);

// Whether `field` converts through its adapter: vectors, maps, callbacks,
// use-adapter fields and enums without their record. Never fails.
bool ConvertsByAdapter(const FieldRecord& field);

// Whether the plain field (see IsLeafField) stored at `native` converts to a
// zero value, decided from the native value. Never fails.
bool LeafFieldIsZero(const void* native, const FieldRecord& field);

template <class T>
T LoadNative(const void* native) {
  T value;
  std::memcpy(&value, native, sizeof(T));
  return value;
}

// Hands the plain field (see IsLeafField) stored at `native` to `visit` as
// bool, int64_t, uint64_t, double, const std::string&, const
// std::vector<uint8_t>& or EnumValue. Other fields are not visited.
template <class Visit>
void ReadLeaf(const void* native, const FieldRecord& field, Visit&& visit) {
  switch (field.type.kind) {
    case NativeKind::kBool:
      visit(LoadNative<uint8_t>(native) != 0);
      return;
    case NativeKind::kInt8:
      visit(int64_t{LoadNative<int8_t>(native)});
      return;
    case NativeKind::kInt16:
      visit(int64_t{LoadNative<int16_t>(native)});
      return;
    case NativeKind::kInt32:
      visit(int64_t{LoadNative<int32_t>(native)});
      return;
    case NativeKind::kInt64:
      visit(LoadNative<int64_t>(native));
      return;
    case NativeKind::kUInt8:
      visit(uint64_t{LoadNative<uint8_t>(native)});
      return;
    case NativeKind::kUInt16:
      visit(uint64_t{LoadNative<uint16_t>(native)});
      return;
    case NativeKind::kUInt32:
      visit(uint64_t{LoadNative<uint32_t>(native)});
      return;
    case NativeKind::kUInt64:
      visit(LoadNative<uint64_t>(native));
      return;
    case NativeKind::kFloat:
      visit(double{LoadNative<float>(native)});
      return;
    case NativeKind::kDouble:
      visit(LoadNative<double>(native));
      return;
    case NativeKind::kString:
      visit(*static_cast<const std::string*>(native));
      return;
    case NativeKind::kBlob:
      visit(*static_cast<const std::vector<uint8_t>*>(native));
      return;
    case NativeKind::kEnum: {
      const TypeRecord* enum_type = field.type.element_type;
      visit(EnumValue{ReadEnumNumber(native, enum_type->native_size()), enum_type->identity()});
      return;
    }
    default:
      return;
  }
}

}  // namespace Kestrel::ConversionDetail

#endif  // VYN_BINDING_NATIVE_LEAF_H_
