// The templates that build the fields of a registered type:
// `TypeBuilder::AddField<T>` gives each field the adapter of its C++ type
// (`NativeFieldAdapter<T>`, field_codec.h), and so instantiates that type's
// conversions in both directions. Included by the code that registers types;
// code that only reads the registry includes type_registry.h alone.
//
//   registry.RegisterStruct<Point>("Point").AddField("x", &Point::x);
#ifndef VYN_BINDING_TYPE_BUILDING_H_
#define VYN_BINDING_TYPE_BUILDING_H_

#include <cstdint>
#include <memory>
#include <string_view>

#include "binding/field_adapter.h"
#include "binding/field_codec.h"
#include "binding/native_field_traits.h"
#include "binding/static_type.h"
#include "binding/type_registry.h"

namespace Kestrel {

// Returns the byte offset of `member` within S. S need not be default-constructible.
template <class S, class T>
uint32_t MemberOffset(T S::*member) {
  alignas(S) unsigned char storage[sizeof(S)] = {};
  const S* object = reinterpret_cast<const S*>(storage);
  const auto* address = reinterpret_cast<const unsigned char*>(&(object->*member));
  return static_cast<uint32_t>(address - storage);
}

template <class T>
TypeBuilder& TypeBuilder::AddField(std::string_view name, uint32_t offset,
                                   std::string_view description, uint32_t flags,
                                   FieldType second_type) {
  using Traits = NativeFieldTraits<T>;
  return AddFieldRecord(name, offset, description, flags, second_type, Traits::kKind,
                        Traits::kElementKind, Traits::ElementIdentity(), &StaticType::HashCode<T>(),
                        [] { return std::unique_ptr<FieldAdapter>(new NativeFieldAdapter<T>()); });
}

template <class T, class S>
TypeBuilder& TypeBuilder::AddField(std::string_view name, T S::*member,
                                   std::string_view description, uint32_t flags,
                                   FieldType second_type) {
  return AddField<T>(name, MemberOffset(member), description, flags, second_type);
}

}  // namespace Kestrel

#endif  // VYN_BINDING_TYPE_BUILDING_H_
