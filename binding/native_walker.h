// The native walker: the one place that takes native values apart by kind.
// A value is handed to a `NativeSink` event by event; the sink decides what
// the events become: a property tree (convert_native.h), a host value
// (core_value_conversion.h) or JSON text (json_writer.h).
//
// A walk emits the value by the conversion rules of native values: structs as
// structures whose members come in ascending name order (omit-if-zero fields
// left out; of fields that share a name, the last one written in registration
// order), enums with their static identity, texts and names up to their first
// NUL, vectors as collections, maps as structures in name order. Dynamic
// fields (`BindingProperty`) are handed over whole with `Property`. A walk
// that meets an unregistered struct, at any depth, returns false part-way; the
// sink's state is then abandoned (the tree sink turns it into the failure
// message).
//
// The walker owns nothing and keeps nothing; records and the registry are only
// read. One walk runs on one thread.
//
//   CoreValue value{};
//   if (!ToCoreValue(MakeNativeWalk(point, registry), value, &registry)) { ... failed ... }
#ifndef VYN_BINDING_NATIVE_WALKER_H_
#define VYN_BINDING_NATIVE_WALKER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "binding/assign_native.h"
#include "binding/binding_property.h"
#include "binding/static_type.h"

namespace Kestrel {

class TypeRecord;
class TypeRegistry;
struct FieldRecord;

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
  // The `count` elements of a collection of texts, each cut at its first NUL
  // as `String` takes it; one `String` each unless a sink writes the run in
  // one loop. `texts` may be nullptr only when `count` is 0.
  virtual void Strings(const std::string* texts, std::size_t count);
  // The `count` bytes of a blob at `bytes` (nullptr only when `count` is 0).
  virtual void Blob(const uint8_t* bytes, std::size_t count) = 0;
  virtual void Enum(EnumValue value) = 0;
  // `count` elements follow.
  virtual void BeginCollection(std::size_t count) = 0;
  virtual void EndCollection() = 0;
  // `count` members follow, in ascending name order, each name once.
  virtual void BeginStructure(std::size_t count) = 0;
  // The name of the next member; it holds no NUL byte.
  virtual void Key(std::string_view name) = 0;
  virtual void EndStructure() = 0;
  // A dynamic value, whole (never invalid).
  virtual void Property(const BindingProperty& value) = 0;

 protected:
  NativeSink() = default;
  ~NativeSink() = default;
};

// Reads an enum of `size` bytes at `native` (never null): 1, 2 or 4 bytes sign-extended, the
// low 32 bits of 8; any other size gives 0. Never fails.
int32_t ReadEnumNumber(const void* native, uint32_t size);

// Walks the struct at `native` (a live object of `type`'s native type, never
// null) into `sink`. `type` may be null: returns false then, or when any field
// fails.
[[nodiscard]] bool WalkStruct(NativeSink& sink, const void* native, const TypeRecord* type,
                              TypeRegistry& registry);

// Walks the value of the field `field` whose storage is at `native` (the
// field's own address, never null) into `sink`, without its name. Vectors, maps,
// callbacks, use-adapter fields and enums whose record is missing go through
// the field's adapter (no adapter, or a kind with no native value: the value
// is empty). Returns false as `WalkStruct` does.
[[nodiscard]] bool WalkField(NativeSink& sink, const void* native, const FieldRecord& field,
                             TypeRegistry& registry);

namespace ConversionDetail {

// The number of an enum of type E: sign-extended from 1, 2 or 4 bytes, the low
// 32 bits of 8.
template <class E>
int32_t EnumToNumber(E value) {
  using Underlying = std::underlying_type_t<E>;
  const auto raw = static_cast<Underlying>(value);
  if constexpr (sizeof(E) == 8) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(raw)));
  } else {
    return static_cast<int32_t>(static_cast<std::make_signed_t<Underlying>>(raw));
  }
}

// `text` up to its first NUL: what a text or a name converts to. Texts of 4
// to 32 bytes (most names and words) are first tested a word at a time in
// place, the last word read where the text ends, so that a text without a NUL
// costs no library call.
inline std::string_view CutAtNul(std::string_view text) {
  const std::size_t size = text.size();
  if (size >= 4 && size <= 32) {
    const auto zero_byte = [](const char* bytes) {
      uint32_t word;
      std::memcpy(&word, bytes, sizeof word);
      return (word - 0x01010101u) & ~word & 0x80808080u;
    };
    uint32_t zeros = zero_byte(text.data() + size - 4);
    for (std::size_t i = 0; i + 4 < size; i += 4) zeros |= zero_byte(text.data() + i);
    if (zeros == 0) return text;
  }
  return text.substr(0, text.find('\0'));
}

// A sink that keeps nothing: walks a value only to learn whether it converts.
NativeSink& DiscardingSink();

// Orders the entries of a map as the members of its structure: by key cut at
// its first NUL, byte by byte; of keys equal after the cut, the one the map
// lists last follows. Counts the distinct keys into `members`.
template <class Entry>
void OrderMapEntries(std::vector<const Entry*>& entries, std::size_t& members) {
  std::stable_sort(entries.begin(), entries.end(), [](const Entry* a, const Entry* b) {
    return CutAtNul(a->first) < CutAtNul(b->first);
  });
  members = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i + 1 == entries.size() || CutAtNul(entries[i]->first) != CutAtNul(entries[i + 1]->first)) {
      ++members;
    }
  }
}

}  // namespace ConversionDetail

// Walks the native value of C++ type T into `sink` by the rule of T;
// `element_type` is the record of the struct T holds (innermost for
// containers), may be null (structs then fail). Enums need no record: their
// identity is T's own. Returns false as `WalkStruct` does.
template <class T>
[[nodiscard]] bool WalkValue(NativeSink& sink, const T& native, const TypeRecord* element_type,
                             TypeRegistry& registry) {
  using ConversionDetail::CutAtNul;
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
    sink.String(CutAtNul(native));
  } else if constexpr (std::is_same_v<T, BindingProperty>) {
    sink.Property(native);
  } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
    sink.Blob(native.data(), native.size());
  } else if constexpr (IsVector<T>::value) {
    using Element = typename IsVector<T>::Element;
    sink.BeginCollection(native.size());
    if constexpr (std::is_same_v<Element, std::string>) {
      sink.Strings(native.data(), native.size());
      sink.EndCollection();
      return true;
    }
    for (std::size_t i = 0; i < native.size(); ++i) {
      if constexpr (std::is_same_v<Element, bool>) {
        sink.Bool(native[i]);  // packed bit vector
      } else if (!WalkValue<Element>(sink, native[i], element_type, registry)) {
        return false;
      }
    }
    sink.EndCollection();
  } else if constexpr (IsStringMap<T>::value) {
    using Element = typename IsStringMap<T>::Element;
    using Entry = typename T::value_type;
    std::vector<const Entry*> entries;
    entries.reserve(native.size());
    for (const Entry& entry : native) entries.push_back(&entry);
    std::size_t members = 0;
    ConversionDetail::OrderMapEntries(entries, members);
    sink.BeginStructure(members);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string_view key = CutAtNul(entries[i]->first);
      if (i + 1 < entries.size() && key == CutAtNul(entries[i + 1]->first)) {
        // A later entry takes this name; this one must still convert.
        if (!WalkValue<Element>(ConversionDetail::DiscardingSink(), entries[i]->second,
                                element_type, registry)) {
          return false;
        }
        continue;
      }
      sink.Key(key);
      if (!WalkValue<Element>(sink, entries[i]->second, element_type, registry)) return false;
    }
    sink.EndStructure();
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
  [[nodiscard]] bool operator()(NativeSink& sink) const { return walk(sink, native, *registry); }
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
