// `BindingCallback`: the native type of a callback field, a plain value owned
// by whoever holds it.
#ifndef VYN_BINDING_BINDING_CALLBACK_H_
#define VYN_BINDING_BINDING_CALLBACK_H_

#include <cstdint>

#include "binding/static_type.h"

namespace Kestrel {

// A callback that a client provides: the id under which the plugin invokes it,
// firing "OnCallback" with a `BindingCallbackEvent` of this id. The native
// type of the field kind "callback" (18): such a field converts only through
// its adapter (field_codec.h), from a number that fits uint32 and to an
// unsigned number.
struct BindingCallback {
  uint32_t id = 0;

  bool operator==(const BindingCallback&) const = default;
};
static_assert(sizeof(BindingCallback) == 4);

}  // namespace Kestrel

VYN_STATIC_TYPE(Kestrel::BindingCallback, "struct Kestrel::BindingCallback");

#endif  // VYN_BINDING_BINDING_CALLBACK_H_
