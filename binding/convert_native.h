// Converting native values into dynamic values (`BindingProperty`): handler
// results, event payloads and request bodies become property trees before they
// are serialized or handed to the host.
//
// A conversion is the native walk (native_walker.h) into `PropertyTreeSink`,
// which builds the tree: structs become structures keyed by their registered
// field names (listed in name order, whatever the registration order), enums
// become enum values that keep their type's static identity (so that writers
// can print the enumerator's name), vectors become collections and maps
// structures. The only failure is a struct whose type is not registered, at
// any depth; its one message, "Couldn't convert native value because it's an
// unregistered structure.", is passed up unchanged by every container around
// it.
//
// Every conversion writes into an output `PropertyResult` that the caller made
// (empty and valid); on failure the output is invalid and carries the message.
// Nothing is retained; records and the registry are only read.
//
//   PropertyResult output;
//   ConvertNative(output, point, registry);
//   if (output.IsValid()) WriteJson(output, &registry);
#ifndef VYN_BINDING_CONVERT_NATIVE_H_
#define VYN_BINDING_CONVERT_NATIVE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/assign_native.h"
#include "binding/binding_property.h"
#include "binding/native_walker.h"
#include "binding/static_type.h"

namespace Kestrel {

class TypeRecord;
class TypeRegistry;
struct FieldRecord;

// The one message of this direction.
inline constexpr char kUnregisteredConvertMessage[] =
    "Couldn't convert native value because it's an unregistered structure.";

// Builds the walked value in `root`, in `root`'s tree: every container and
// member below it shares that store. The value replaces `root`'s content,
// except that a structure keeps the members `root` already holds as a
// structure (as `MakeStructure` does). Owns nothing; `root` must outlive the
// sink. One walk per sink.
class PropertyTreeSink final : public NativeSink {
 public:
  explicit PropertyTreeSink(BindingProperty& root) : root_(root) {}

  void Bool(bool value) override { Next().SetBool(value); }
  void Signed(int64_t value) override { Next().SetSigned(value); }
  void Unsigned(uint64_t value) override { Next().SetUnsigned(value); }
  void Double(double value) override { Next().SetDouble(value); }
  // The walk has already cut the text at its first NUL.
  void String(std::string_view text) override { Next().SetStringFullLength(text); }
  void Blob(const uint8_t* bytes, std::size_t count) override { Next().SetBlob(bytes, count); }
  void Enum(EnumValue value) override { Next().SetEnum(value); }
  void BeginCollection(std::size_t count) override;
  void EndCollection() override { Pop(); }
  void BeginStructure(std::size_t count) override;
  void Key(std::string_view name) override { key_ = name; }
  void EndStructure() override { Pop(); }
  void Property(const BindingProperty& value) override { Next() = value; }

 private:
  // Where the next value goes: the root, a new element of the innermost
  // collection, or the member `key_` of the innermost structure.
  BindingProperty& Next();
  // A container: open until its End call.
  BindingProperty& Open(BindingProperty& container);
  void Pop() { --depth_; }

  static constexpr std::size_t kInlineDepth = 8;
  BindingProperty& root_;
  std::string_view key_;
  std::size_t depth_ = 0;
  BindingProperty* inline_[kInlineDepth];
  std::vector<BindingProperty*> spill_;
};

// Converts the struct at `native` (a live object of `type`'s native type) into a
// structure in `output`. `type` nullptr fails `output` with the unregistered
// message. Fields flagged omit-if-zero whose value is zero are left out. A
// failing field fails `output` with its message; an `output` already invalid
// is left as it is.
void ConvertStruct(PropertyResult& output, const void* native, const TypeRecord* type,
                   TypeRegistry& registry);

// Converts the field `field` whose storage is at `native` (the field's own
// address, never null) into `output`, which is first made empty and valid. Vectors, maps,
// callbacks, use-adapter fields and enums whose record is missing go through the
// field's adapter (no adapter: `output` is left empty and valid).
void ConvertField(PropertyResult& output, const void* native, const FieldRecord& field,
                  TypeRegistry& registry);

// Makes `output` an enum value holding `number` and the identity `type` (may be
// nullptr). Never fails, whether or not `number` names an enumerator.
void ConvertEnum(PropertyResult& output, int32_t number, const StaticTypeInfo* type);

// Fails `output` with the unregistered message, the failure of every walk.
void FailConversion(PropertyResult& output);

// Converts `native` of C++ type T into `output` by the rule of T. `element_type`
// is the record of the struct T holds (innermost for containers); nullptr makes
// structs fail with the unregistered message. Enums never need a record: their
// identity is T's own.
template <class T>
void ConvertValue(PropertyResult& output, const T& native, const TypeRecord* element_type,
                  TypeRegistry& registry) {
  PropertyTreeSink sink(output);
  if (!WalkValue<T>(sink, native, element_type, registry)) FailConversion(output);
}

// Converts `native` of C++ type T into `output`; the struct T holds (innermost
// for containers) is found in `registry` by its identity. Fails only for a struct
// that is not registered, at any depth.
template <class T>
void ConvertNative(PropertyResult& output, const T& native, TypeRegistry& registry) {
  PropertyTreeSink sink(output);
  if (!WalkNative(sink, native, registry)) FailConversion(output);
}

}  // namespace Kestrel

#endif  // VYN_BINDING_CONVERT_NATIVE_H_
