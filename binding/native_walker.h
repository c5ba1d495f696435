// The native walker: a native value handed to a `NativeSink` event by event,
// exactly as its converted property tree (convert_native.h) would be read,
// without building the tree. Host values and JSON text are written from the
// events directly.
//
// A walk emits what `ConvertNative` would make: structs as structures whose
// members come in ascending name order (omit-if-zero fields left out), enums
// with their static identity, texts up to their first NUL, vectors as
// collections. What the walker does not take apart (maps, callbacks, fields of
// adapters without a direct walk, ...) is converted into a property tree and
// handed over whole with `Property`, so the events always describe the same
// value. A walk that cannot produce that value (an unregistered struct at any
// depth, field names that do not map one-to-one onto members) returns false
// part-way; the sink's state is then abandoned and the caller takes the tree
// path, which gives the failure and its message.
//
// The walker owns nothing and keeps nothing; records and the registry are only
// read. One walk runs on one thread.
//
//   CoreValue value{};
//   if (!ToCoreValue(MakeNativeWalk(point, registry), value, &registry)) { ... tree path ... }
#ifndef VYN_BINDING_NATIVE_WALKER_H_
#define VYN_BINDING_NATIVE_WALKER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/assign_native.h"
#include "binding/binding_property.h"
#include "binding/convert_native.h"
#include "binding/static_type.h"

namespace Kestrel {

class TypeRecord;
class TypeRegistry;

// Receives the events of a walk. Every value is one call, or a Begin call, the
// contained values and the matching End call; inside a structure each member
// value is preceded by `Key`. Sinks are not destroyed through this interface.
class NativeSink {
 public:
  virtual void Bool(bool value) = 0;
  virtual void Signed(int64_t value) = 0;
  virtual void Unsigned(uint64_t value) = 0;
  virtual void Double(double value) = 0;
  // A text that holds no NUL byte.
  virtual void String(std::string_view text) = 0;
  virtual void Blob(const uint8_t* bytes, std::size_t count) = 0;
  virtual void Enum(EnumValue value) = 0;
  // `count` elements follow.
  virtual void BeginCollection(std::size_t count) = 0;
  virtual void EndCollection() = 0;
  // `count` members follow, in ascending name order.
  virtual void BeginStructure(std::size_t count) = 0;
  // The name of the next member; it holds no NUL byte.
  virtual void Key(std::string_view name) = 0;
  virtual void EndStructure() = 0;
  // A whole value already in tree form (never invalid).
  virtual void Property(const BindingProperty& value) = 0;

 protected:
  NativeSink() = default;
  ~NativeSink() = default;
};

// Walks the struct at `native` (a live object of `type`'s native type) into
// `sink`. Returns false when the walk cannot produce the converted value:
// `type` null or with names that are not distinct, or any field that fails.
[[nodiscard]] bool WalkStruct(NativeSink& sink, const void* native, const TypeRecord* type,
                              TypeRegistry& registry);

// Walks the native value of C++ type T into `sink`, as `ConvertValue<T>` would
// convert it; `element_type` is the record of the struct T holds (innermost for
// containers), may be null. Returns false as `WalkStruct` does.
template <class T>
[[nodiscard]] bool WalkValue(NativeSink& sink, const T& native, const TypeRecord* element_type,
                             TypeRegistry& registry) {
  using ConversionDetail::IsStringMap;
  using ConversionDetail::IsVector;
  if constexpr (std::is_same_v<T, bool>) {
    sink.Bool(native);
  } else if constexpr (std::is_enum_v<T>) {
    sink.Enum(EnumValue{ConversionDetail::EnumToNumber(native), &StaticType::HashCode<T>()});
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    sink.Signed(static_cast<int64_t>(native));
  } else if constexpr (std::is_integral_v<T>) {
    sink.Unsigned(static_cast<uint64_t>(native));
  } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
    sink.Double(static_cast<double>(native));
  } else if constexpr (std::is_same_v<T, std::string>) {
    sink.String(std::string_view(native).substr(0, native.find('\0')));
  } else if constexpr (std::is_same_v<T, BindingProperty>) {
    sink.Property(native);
  } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
    sink.Blob(native.data(), native.size());
  } else if constexpr (IsVector<T>::value) {
    using Element = typename IsVector<T>::Element;
    sink.BeginCollection(native.size());
    for (std::size_t i = 0; i < native.size(); ++i) {
      if constexpr (std::is_same_v<Element, bool>) {
        sink.Bool(native[i]);  // packed bit vector
      } else if (!WalkValue<Element>(sink, native[i], element_type, registry)) {
        return false;
      }
    }
    sink.EndCollection();
  } else if constexpr (IsStringMap<T>::value) {
    // Unordered: the tree puts the members in name order.
    PropertyResult converted;
    ConvertValue<T>(converted, native, element_type, registry);
    if (!converted.IsValid()) return false;
    sink.Property(converted);
  } else {
    static_assert(std::is_class_v<T> && HasStaticTypeSpelling<T>,
                  "Unsupported native type: declare a struct's spelling with VYN_STATIC_TYPE");
    return WalkStruct(sink, &native, element_type, registry);
  }
  return true;
}

// Walks `native` of C++ type T into `sink`; the struct T holds (innermost for
// containers) is found in `registry` by its identity. Returns false as
// `WalkStruct` does.
template <class T>
[[nodiscard]] bool WalkNative(NativeSink& sink, const T& native, TypeRegistry& registry) {
  const TypeRecord* element_type =
      FindRegisteredType(registry, ConversionDetail::InnermostIdentity<T>());
  return WalkValue<T>(sink, native, element_type, registry);
}

// One native value and its registry, ready to be walked into any sink. Holds
// pointers only: the value and the registry must outlive it.
struct NativeWalk {
  bool (*walk)(NativeSink& sink, const void* native, TypeRegistry& registry) = nullptr;
  const void* native = nullptr;
  TypeRegistry* registry = nullptr;

  // Runs the walk; see WalkNative.
  bool operator()(NativeSink& sink) const { return walk(sink, native, *registry); }
};

// The walk of `native` with `registry`; both must outlive the result.
template <class T>
NativeWalk MakeNativeWalk(const T& native, TypeRegistry& registry) {
  return NativeWalk{[](NativeSink& sink, const void* value, TypeRegistry& types) {
                      return WalkNative(sink, *static_cast<const T*>(value), types);
                    },
                    &native, &registry};
}

}  // namespace Kestrel

#endif  // VYN_BINDING_NATIVE_WALKER_H_
