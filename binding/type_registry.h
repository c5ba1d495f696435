// `TypeRegistry`: the descriptions of the native structs and enums that a plugin
// exchanges as `BindingProperty` values, plus its registered functions and events.
//
// A plugin registers each type once at start-up through a `TypeBuilder` (its
// field templates are in type_building.h); the conversions and the host API
// description then read the records. The registry
// owns every `TypeRecord`, `FieldRecord`, `EnumValueRecord`, `FunctionRecord`
// and `EventRecord`; they are handed out as const pointers that stay valid until
// the entry is removed (`RemoveType`, the `Clear...` calls, `Initialize`) or the
// registry is destroyed, so removal must not race with conversions. All maps are
// read and changed under one mutex. Every registry carries the built-in
// vocabulary (builtin_vocabulary.h) from construction on.
//
//   TypeRegistry registry;
//   registry.RegisterStruct<Point>("Point")
//       .AddField("x", &Point::x).AddField("y", &Point::y).SetDescription("A point.");
//   const TypeRecord* point = registry.FindType(&StaticType::HashCode<Point>());
#ifndef VYN_BINDING_TYPE_REGISTRY_H_
#define VYN_BINDING_TYPE_REGISTRY_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/field_adapter.h"
#include "binding/native_field_traits.h"
#include "binding/static_type.h"

namespace Kestrel {

// The type of a field, an argument or a result. `element_type` is the record of
// the struct or enum that the value (or, for vectors and maps, its innermost
// elements) holds; null otherwise or when that type was not registered.
struct FieldType {
  NativeKind kind = NativeKind::kNone;
  NativeKind element_kind = NativeKind::kNone;
  const TypeRecord* element_type = nullptr;

  friend bool operator==(const FieldType&, const FieldType&) = default;
};

// Field flag bits (also the flags byte handed to the host).
inline constexpr uint32_t kFieldOmitIfZero = 1;  // leave out of a converted structure when zero
inline constexpr uint32_t kFieldRequired = 2;    // required when assigning from a structure

// One field of a registered struct; owned by its `TypeRecord`.
struct FieldRecord {
  std::string name;
  uint32_t name_hash = 0;  // FNV-1a of `name`
  std::string description;
  const StaticTypeInfo* identity = nullptr;  // of the field's C++ type; never null once added
  uint32_t offset = 0;                       // bytes from the start of the native struct
  FieldType type;
  FieldType second_type;  // as passed at registration when its kind is non-zero; else all 0
  uint32_t flags = 0;     // kFieldOmitIfZero | kFieldRequired
  std::unique_ptr<FieldAdapter> adapter;  // never null once added
  const TypeRecord* owner = nullptr;
  bool use_adapter = false;  // every conversion of this field goes through `adapter`
};

// One enumerator of a registered enum; owned by its `TypeRecord`.
struct EnumValueRecord {
  int32_t value = 0;
  std::string name;
  std::string description;
  const TypeRecord* owner = nullptr;
};

// One registered struct or enum. Built through `TypeBuilder`, read-only otherwise.
class TypeRecord {
 public:
  using ValueMap = std::map<std::string, EnumValueRecord, std::less<>>;

  TypeRecord(const TypeRecord&) = delete;
  TypeRecord& operator=(const TypeRecord&) = delete;

  uint32_t native_size() const { return native_size_; }
  bool is_enum() const { return is_enum_; }
  const std::string& name() const { return name_; }
  uint32_t identity_hash() const { return identity_hash_; }
  // The identity the type was registered with; never null.
  const StaticTypeInfo* identity() const { return identity_; }
  const std::string& name_space() const { return name_space_; }
  const std::string& description() const { return description_; }
  // Tags in order of addition.
  const std::vector<std::string>& tags() const { return tags_; }
  // Fields in registration order (structs).
  const std::vector<FieldRecord>& fields() const { return fields_; }
  // Indexes into `fields()` in ascending byte-wise name order, the order of the
  // members of a converted structure.
  const std::vector<uint32_t>& fields_in_name_order() const { return name_order_; }
  // Whether the field names are distinct and free of NUL bytes, so that a
  // converted structure has exactly one member per field, under its full name.
  bool has_distinct_field_names() const { return distinct_field_names_; }
  // Enumerators ordered by name, byte by byte (enums).
  const ValueMap& values() const { return values_; }
  // The registry that owns the record; nullptr until it is registered.
  TypeRegistry* registry() const { return registry_; }

  // Returns the first field named `name`, or nullptr.
  const FieldRecord* FindField(std::string_view name) const;
  // Returns the enumerator named exactly `name`, or nullptr.
  const EnumValueRecord* FindValue(std::string_view name) const;
  // Returns the first enumerator in name order whose number is `value`, or nullptr.
  const EnumValueRecord* FindValueByNumber(int32_t value) const;
  // Returns whether any enumerator has the number `value`.
  bool HasValue(int32_t value) const { return FindValueByNumber(value) != nullptr; }

 private:
  friend class TypeBuilder;
  friend class TypeRegistry;
  TypeRecord() = default;

  uint32_t native_size_ = 0;
  bool is_enum_ = false;
  std::string name_;
  uint32_t identity_hash_ = 0;
  const StaticTypeInfo* identity_ = nullptr;
  std::string name_space_;
  std::string description_;
  std::vector<std::string> tags_;
  std::vector<FieldRecord> fields_;
  std::vector<uint32_t> name_order_;
  bool distinct_field_names_ = true;
  ValueMap values_;
  TypeRegistry* registry_ = nullptr;
};

// Builds one `TypeRecord`. A builder for a name that was already registered is
// "existing": every call on it does nothing, so a second registration keeps the
// first definition. Each call returns the builder so that calls chain.
class TypeBuilder {
 public:
  TypeBuilder(TypeRegistry* registry, TypeRecord* record, bool existing)
      : registry_(registry), record_(record), existing_(existing) {}

  // The record being built or the existing one; never null for a registry's builder.
  const TypeRecord* record() const { return record_; }
  // True when the name was registered before and this builder changes nothing.
  bool existing() const { return existing_; }

  // Appends a field of C++ type T at `offset`. For a struct or enum (or a
  // container of one) the element record is looked up now by identity and stays
  // null when that type is not registered yet. Defined in type_building.h,
  // which the code that registers types includes.
  template <class T>
  TypeBuilder& AddField(std::string_view name, uint32_t offset, std::string_view description = {},
                        uint32_t flags = 0, FieldType second_type = {});
  // As above, with the C++ type and offset taken from a pointer to member.
  template <class T, class S>
  TypeBuilder& AddField(std::string_view name, T S::*member, std::string_view description = {},
                        uint32_t flags = 0, FieldType second_type = {});

  // Makes every conversion of the most recently added field use its adapter.
  TypeBuilder& UseAdapter();
  // On an enum, inserts or replaces the enumerator named `name`.
  TypeBuilder& AddValue(std::string_view name, int32_t value, std::string_view description = {});
  TypeBuilder& SetDescription(std::string_view description);
  // Appends one tag; an empty text is ignored.
  TypeBuilder& AddTag(std::string_view tag);
  // Appends each non-empty tag of `tags`, in order.
  TypeBuilder& AddTags(const std::vector<std::string>& tags);

 private:
  using AdapterFactory = std::unique_ptr<FieldAdapter> (*)();
  TypeBuilder& AddFieldRecord(std::string_view name, uint32_t offset, std::string_view description,
                              uint32_t flags, FieldType second_type, NativeKind kind,
                              NativeKind element_kind, const StaticTypeInfo* element_identity,
                              const StaticTypeInfo* identity, AdapterFactory make_adapter);

  TypeRegistry* registry_;
  TypeRecord* record_;
  bool existing_;
};

// The type of an argument or result: a primary form set at registration and an
// override that a declaration may give; the override wins when its kind is set.
struct TypeIdentity {
  FieldType primary;
  FieldType override_type;

  const FieldType& effective() const {
    return override_type.kind != NativeKind::kNone ? override_type : primary;
  }
};

// One declared argument of a registered function.
struct ArgumentRecord {
  std::string name;
  uint32_t name_hash = 0;  // FNV-1a of `name`
  std::string description;
  bool optional = false;
  TypeIdentity type;
};

// One registered function (an exposed endpoint), owned by the registry.
struct FunctionRecord {
  std::string name;
  std::vector<ArgumentRecord> arguments;  // declaration order
  TypeIdentity result_type;
  std::vector<std::string> tags;
  std::string name_space;
  std::string description;
  std::string help;
  // The function's promise that its handler may run on several host threads
  // at once. The host receives it in the API description
  // (`CoreFunctionRecord::thread_safe`) and may serialise calls of a function
  // without it; the transport itself neither checks nor serialises, so a
  // handler that shares state still guards it.
  bool thread_safe = false;
  bool async = false;
  const TypeRegistry* registry = nullptr;
};

// One registered event, owned by the registry.
struct EventRecord {
  std::string name;
  std::string name_space;
  const StaticTypeInfo* payload_type = nullptr;  // identity of the payload record; never null
  std::string description;
  std::vector<std::string> tags;
  const TypeRegistry* registry = nullptr;
};

// Builds one `FunctionRecord`. A builder for an already registered name is in
// the failed state: declarations only advance its position, other calls do nothing.
class FunctionBuilder {
 public:
  FunctionBuilder(TypeRegistry* registry, FunctionRecord* record, bool failed)
      : registry_(registry), record_(record), failed_(failed) {}

  // The record being built, or the one registered before; never null.
  const FunctionRecord* record() const { return record_; }
  bool failed() const { return failed_; }
  // The argument position the next declaration fills (0 for a new builder).
  size_t position() const { return position_; }

  // Fills the argument at the current position (growing the list when needed)
  // and advances the position. An override with kind 0 keeps the primary type.
  FunctionBuilder& DeclareArgument(std::string_view name, std::string_view description = {},
                                   bool optional = false, FieldType type_override = {});
  FunctionBuilder& SetResultOverride(FieldType type_override);
  FunctionBuilder& SetDescription(std::string_view description);
  FunctionBuilder& SetHelp(std::string_view help);
  FunctionBuilder& SetNameSpace(std::string_view name_space);
  // Sets `FunctionRecord::thread_safe` (what it promises is written there).
  FunctionBuilder& SetThreadSafe(bool thread_safe);
  FunctionBuilder& SetAsync(bool async);
  // Appends one tag; an empty text is ignored.
  FunctionBuilder& AddTag(std::string_view tag);
  FunctionBuilder& AddTags(const std::vector<std::string>& tags);

 private:
  TypeRegistry* registry_;
  FunctionRecord* record_;
  bool failed_;
  size_t position_ = 0;
};

// Builds one `EventRecord`; a builder for an existing name changes nothing.
class EventBuilder {
 public:
  EventBuilder(TypeRegistry* registry, EventRecord* record, bool existing)
      : registry_(registry), record_(record), existing_(existing) {}

  // The event being built, owned by the registry. Never nullptr.
  const EventRecord* record() const { return record_; }
  bool existing() const { return existing_; }

  EventBuilder& SetDescription(std::string_view description);
  EventBuilder& SetNameSpace(std::string_view name_space);
  // Appends one tag; an empty text is ignored.
  EventBuilder& AddTag(std::string_view tag);
  EventBuilder& AddTags(const std::vector<std::string>& tags);

 private:
  TypeRegistry* registry_;
  EventRecord* record_;
  bool existing_;
};

class TypeRegistry {
 public:
  // Creates the registry with its built-in vocabulary registered. Defined,
  // with `Initialize`, beside the vocabulary (builtin_vocabulary.cpp).
  TypeRegistry();
  ~TypeRegistry();
  TypeRegistry(const TypeRegistry&) = delete;
  TypeRegistry& operator=(const TypeRegistry&) = delete;

  // (Re)builds the registry: when it was populated before, removes every function,
  // event and type (invalidating all records handed out), then registers the
  // built-in vocabulary. Not to be called while conversions run.
  void Initialize();

  // Registers a struct or enum named `name`. When the name exists, returns an
  // existing-flagged builder over the first record. A new type is indexed by name
  // and, unless `identity` is that of void, by identity hash (replacing an
  // earlier type with the same hash in that index).
  TypeBuilder RegisterStruct(std::string_view name, uint32_t native_size,
                             const StaticTypeInfo& identity);
  TypeBuilder RegisterEnum(std::string_view name, uint32_t native_size,
                           const StaticTypeInfo& identity);
  template <class T>
  TypeBuilder RegisterStruct(std::string_view name) {
    return RegisterStruct(name, sizeof(T), StaticType::HashCode<T>());
  }
  template <class T>
  TypeBuilder RegisterEnum(std::string_view name) {
    static_assert(std::is_enum_v<T>);
    return RegisterEnum(name, sizeof(T), StaticType::HashCode<T>());
  }

  // Registers a function whose argument types are `argument_types` (primary
  // forms, in order). An existing name gives a failed builder over the first record.
  FunctionBuilder RegisterFunction(std::string_view name, FieldType result_type,
                                   const std::vector<FieldType>& argument_types);
  // Registers an event with the payload identity `payload`; an existing name
  // gives an existing-flagged builder.
  EventBuilder RegisterEvent(std::string_view name, const StaticTypeInfo& payload);
  template <class T>
  EventBuilder RegisterEvent(std::string_view name) {
    return RegisterEvent(name, StaticType::HashCode<T>());
  }

  // Return the type registered with the identity or its hash, or nullptr (also
  // for a null `identity`).
  const TypeRecord* FindType(const StaticTypeInfo* identity) const;
  const TypeRecord* FindTypeByHash(uint32_t identity_hash) const;
  template <class T>
  const TypeRecord* FindType() const {
    return FindType(&StaticType::HashCode<T>());
  }
  // Return the type, function or event registered under `name`, or nullptr.
  const TypeRecord* FindTypeByName(std::string_view name) const;
  const FunctionRecord* FindFunction(std::string_view name) const;
  const EventRecord* FindEvent(std::string_view name) const;

  // Returns the first enumerator, in name order, of the enum with `identity` whose
  // number is `value`; nullptr when the type or such an enumerator is missing.
  const EnumValueRecord* FindEnumValue(const StaticTypeInfo* identity, int32_t value) const;
  // Returns whether the enum with `identity` has an enumerator numbered
  // `value`; false for a null `identity`.
  bool HasEnumValue(const StaticTypeInfo* identity, int32_t value) const;
  // Returns the number of the enumerator named exactly `name`, or nothing
  // (also for a null `identity`).
  std::optional<int32_t> FindEnumNumber(const StaticTypeInfo* identity,
                                        std::string_view name) const;

  // Returns the FieldType of C++ type T, its element record resolved now (null
  // when not registered).
  template <class T>
  FieldType DeduceFieldType() const {
    using Traits = NativeFieldTraits<T>;
    return FieldType{Traits::kKind, Traits::kElementKind, FindType(Traits::ElementIdentity())};
  }

  // Snapshots taken under the lock, in registration order; no entry is null.
  std::vector<const TypeRecord*> SnapshotTypes() const;
  std::vector<const FunctionRecord*> SnapshotFunctions() const;
  std::vector<const EventRecord*> SnapshotEvents() const;

  // Removes and destroys the type named `name` (and its fields' adapters).
  // Returns false when there is none. Records of other types that refer to it
  // keep dangling element references: remove only at start-up or shutdown.
  [[nodiscard]] bool RemoveType(std::string_view name);
  void ClearTypes();
  void ClearFunctions();
  void ClearEvents();

  size_t type_count() const;
  size_t function_count() const;
  size_t event_count() const;

 private:
  friend class TypeBuilder;
  friend class FunctionBuilder;
  friend class EventBuilder;

  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
  };
  template <class Record>
  struct NamedTable {
    std::unordered_map<std::string, std::unique_ptr<Record>, NameHash, std::equal_to<>> by_name;
    std::vector<Record*> order;  // registration order
  };

  TypeBuilder RegisterType(std::string_view name, uint32_t native_size,
                           const StaticTypeInfo& identity, bool is_enum);
  const TypeRecord* FindTypeByHashLocked(uint32_t identity_hash) const;

  mutable std::mutex mutex_;
  NamedTable<TypeRecord> types_;
  std::unordered_map<uint32_t, TypeRecord*> types_by_identity_;
  NamedTable<FunctionRecord> functions_;
  NamedTable<EventRecord> events_;
  bool populated_ = false;
};

}  // namespace Kestrel

#endif  // VYN_BINDING_TYPE_REGISTRY_H_
