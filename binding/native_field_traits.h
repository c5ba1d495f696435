// `NativeFieldTraits<T>`: how a C++ field type maps to its `NativeKind`, its
// element kind and the identity of the struct or enum it holds
// (`ElementIdentity()`: nullptr when it holds neither).
//
// `TypeBuilder::AddField<T>` and `TypeRegistry::DeduceFieldType<T>` read the
// traits; the conversions read the kinds. The traits are compile-time only and
// own nothing. `NativeKind` and its names live with the host's API numbers
// (host_abi/api_kinds.h).
//
//   NativeFieldTraits<std::vector<std::string>>::kKind;         // kVector
//   NativeFieldTraits<std::vector<std::string>>::kElementKind;  // kString
#ifndef VYN_BINDING_NATIVE_FIELD_TRAITS_H_
#define VYN_BINDING_NATIVE_FIELD_TRAITS_H_

#include <cstdint>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/static_type.h"
#include "host_abi/api_kinds.h"

namespace Kestrel {

struct BindingCallback;  // binding_callback.h

// How a C++ field type maps to a field's kinds: `kKind`, `kElementKind`, and
// `ElementIdentity()`, the identity of the struct or enum held (innermost for
// containers) or nullptr. Integers map by size and signedness; enums to "enum";
// other class types with a spelling to "struct"; std::vector<uint8_t> is a blob.
template <class T>
struct NativeFieldTraits {
  static constexpr NativeKind Deduce() {
    if constexpr (std::is_same_v<T, bool>) {
      return NativeKind::kBool;
    } else if constexpr (std::is_enum_v<T>) {
      return NativeKind::kEnum;
    } else if constexpr (std::is_integral_v<T>) {
      constexpr bool kSigned = std::is_signed_v<T>;
      if constexpr (sizeof(T) == 1) return kSigned ? NativeKind::kInt8 : NativeKind::kUInt8;
      if constexpr (sizeof(T) == 2) return kSigned ? NativeKind::kInt16 : NativeKind::kUInt16;
      if constexpr (sizeof(T) == 4) return kSigned ? NativeKind::kInt32 : NativeKind::kUInt32;
      if constexpr (sizeof(T) == 8) return kSigned ? NativeKind::kInt64 : NativeKind::kUInt64;
      return NativeKind::kNone;
    } else if constexpr (std::is_same_v<T, float>) {
      return NativeKind::kFloat;
    } else if constexpr (std::is_same_v<T, double>) {
      return NativeKind::kDouble;
    } else if constexpr (std::is_class_v<T> && HasStaticTypeSpelling<T>) {
      return NativeKind::kStruct;
    } else {
      return NativeKind::kNone;
    }
  }
  static constexpr NativeKind kKind = Deduce();
  static constexpr NativeKind kElementKind = NativeKind::kNone;
  static_assert(kKind != NativeKind::kNone,
                "Unsupported native field type: declare a struct's spelling with VYN_STATIC_TYPE");
  static const StaticTypeInfo* ElementIdentity() {
    if constexpr (kKind == NativeKind::kEnum || kKind == NativeKind::kStruct) {
      return &StaticType::HashCode<T>();
    } else {
      return nullptr;
    }
  }
};

template <>
struct NativeFieldTraits<std::string> {
  static constexpr NativeKind kKind = NativeKind::kString;
  static constexpr NativeKind kElementKind = NativeKind::kNone;
  static const StaticTypeInfo* ElementIdentity() { return nullptr; }
};

template <>
struct NativeFieldTraits<BindingProperty> {
  static constexpr NativeKind kKind = NativeKind::kObject;
  static constexpr NativeKind kElementKind = NativeKind::kNone;
  static const StaticTypeInfo* ElementIdentity() { return nullptr; }
};

template <>
struct NativeFieldTraits<std::vector<uint8_t>> {
  static constexpr NativeKind kKind = NativeKind::kBlob;
  static constexpr NativeKind kElementKind = NativeKind::kNone;
  static const StaticTypeInfo* ElementIdentity() { return nullptr; }
};

// A callback field: converted by its adapter only (see `BindingCallback`).
template <>
struct NativeFieldTraits<BindingCallback> {
  static constexpr NativeKind kKind = NativeKind::kCallback;
  static constexpr NativeKind kElementKind = NativeKind::kNone;
  static const StaticTypeInfo* ElementIdentity() { return nullptr; }
};

template <class T>
struct NativeFieldTraits<std::vector<T>> {
  static constexpr NativeKind kKind = NativeKind::kVector;
  static constexpr NativeKind kElementKind = NativeFieldTraits<T>::kKind;
  static const StaticTypeInfo* ElementIdentity() { return NativeFieldTraits<T>::ElementIdentity(); }
};

template <class T>
struct NativeFieldTraits<std::unordered_map<std::string, T>> {
  static constexpr NativeKind kKind = NativeKind::kMap;
  static constexpr NativeKind kElementKind = NativeFieldTraits<T>::kKind;
  static const StaticTypeInfo* ElementIdentity() { return NativeFieldTraits<T>::ElementIdentity(); }
};

}  // namespace Kestrel

#endif  // VYN_BINDING_NATIVE_FIELD_TRAITS_H_
