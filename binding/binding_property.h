// `BindingProperty`: the one dynamic value of the plugin, and `PropertyResult`,
// the value-or-error that every conversion writes into.
//
// A property is 16 bytes: an 8-byte payload, the tree's `PropertyStore`, the
// kind and an owns-store flag. Strings, blobs, enum payloads, collections and
// structures live in the store of their tree, which the top-level property owns
// (made lazily on first need); elements and fields refer to that store without
// owning it. Copies are deep, into the destination's tree. Moving between two
// top-level properties is O(1); any other move deep-copies and empties the
// source. Structures list their fields in byte-wise ascending name order.
// References returned by `At`, `Append` and `Elements` are invalidated when the
// collection grows; field references stay valid until the field's structure is
// released. A tree is used by one thread at a time, reads included: reading a
// large structure in order may first rearrange its members' slots. The readers'
// tree builder reaches further in through `StructureBuilding`
// (structure_building.h).
//
//   BindingProperty doc;
//   doc.Field("name").SetString("Ann");
//   doc.Field("ids").At(1).SetSigned(7);   // ids = [empty, 7]
//   doc.GetField("name").GetString();      // "Ann"
#ifndef VYN_BINDING_BINDING_PROPERTY_H_
#define VYN_BINDING_BINDING_PROPERTY_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/field_table.h"
#include "binding/property_store.h"

namespace Kestrel {

struct StaticTypeInfo;

// Kind of a value; the numbers are fixed.
enum class PropertyKind : uint8_t {
  kEmpty = 0,
  kBool = 1,
  kSigned = 2,
  kUnsigned = 3,
  kFloat = 4,
  kString = 5,
  kBlob = 6,
  kEnum = 7,
  kCollection = 8,
  kStructure = 9,
};
inline constexpr int kPropertyKindCount = 10;

// Name of `kind` as used in messages ("empty" ... "structure"); "" for numbers
// outside 0-9. Never nullptr.
const char* PropertyKindName(PropertyKind kind);

// Whether `kind` holds other values (a collection or a structure).
constexpr bool IsContainerKind(PropertyKind kind) {
  return kind == PropertyKind::kCollection || kind == PropertyKind::kStructure;
}

// Payload of an enum value: the numeric value and the enum's static identity
// (nullptr when unknown; not owned).
struct EnumValue {
  int32_t value = 0;
  const StaticTypeInfo* type = nullptr;
  bool operator==(const EnumValue&) const = default;
};
static_assert(sizeof(void*) != 4 || sizeof(EnumValue) == 8);

class PropertyVisitor;

class BindingProperty {
 public:
  // Largest element count of a collection; more is a std::length_error.
  static constexpr std::size_t kMaxCollectionSize = FieldTable::kMaxMembers;
  // Elements a collection makes room for on its first append.
  static constexpr std::size_t kFirstCollectionCapacity = 2;
  // Members a structure makes room for with its first one; a structure holds
  // at most `kMaxCollectionSize` members.
  static constexpr std::size_t kFirstStructureCapacity = FieldTable::kFirstCapacity;

  // Empty, owning a store that is made on first need.
  BindingProperty() noexcept = default;
  // Deep copy of `other` into a fresh tree. Throws std::bad_alloc, leaving
  // nothing behind.
  BindingProperty(const BindingProperty& other);
  // O(1) and never failing when `other` owns its store; else (`other` is an
  // element or field) a deep copy into a fresh tree, which may throw
  // std::bad_alloc and then leaves `other` as it was. So the move is not
  // noexcept: a std::vector of properties copies them when it grows. On
  // success `other` is left empty.
  BindingProperty(BindingProperty&& other);
  // Deep copy of `other` into this value's tree; self-assignment does nothing.
  // Throws std::bad_alloc, leaving this value valid but partly copied.
  BindingProperty& operator=(const BindingProperty& other);
  // O(1) exchange when both own their stores, else a deep copy; `other` is left
  // empty. Self-assignment does nothing. The deep copy may throw std::bad_alloc,
  // leaving both values valid (this one partly copied).
  BindingProperty& operator=(BindingProperty&& other);
  // Releases the value and, for a top-level value, destroys its store.
  ~BindingProperty();

  // The shared, always empty value returned by failed lookups.
  static const BindingProperty& EmptyValue();

  PropertyKind kind() const { return kind_; }
  bool IsEmpty() const { return kind_ == PropertyKind::kEmpty; }
  // True for a top-level value (it owns its tree's store).
  bool owns_store() const { return owns_store_ != 0; }
  // The tree's store; nullptr until something needed it.
  const PropertyStore* store() const { return store_; }

  // Releases the content; the value becomes empty with payload 0.
  void Clear() {
    // Scalars hold nothing in the store.
    if (kind_ > PropertyKind::kFloat) ReleaseParts();
    kind_ = PropertyKind::kEmpty;
    payload_.bits = 0;
  }

  // Setters: each releases the old content first.
  void SetBool(bool value) {
    Clear();
    kind_ = PropertyKind::kBool;
    payload_.boolean = value;
  }
  void SetSigned(int64_t value) {
    Clear();
    kind_ = PropertyKind::kSigned;
    payload_.signed_value = value;
  }
  void SetUnsigned(uint64_t value) {
    Clear();
    kind_ = PropertyKind::kUnsigned;
    payload_.unsigned_value = value;
  }
  void SetDouble(double value) {
    Clear();
    kind_ = PropertyKind::kFloat;
    payload_.float_value = value;
  }
  // Interns `text` up to its first NUL; nullptr sets the empty string.
  void SetString(const char* text);
  // Interns `text` up to its first NUL.
  void SetString(const std::string& text);
  void SetString(std::string_view text);
  // Interns all bytes of `text`, embedded NULs included (binary-safe readers).
  void SetStringFullLength(std::string_view text);
  // Takes over the buffer of `bytes`, which is left empty.
  void SetBlob(std::vector<uint8_t>&& bytes);
  // Copies `size` bytes from `data` (nullptr only with size 0).
  void SetBlob(const uint8_t* data, std::size_t size);
  void SetEnum(EnumValue value);

  // Makes the value an empty collection unless it already is a collection.
  void MakeCollection();
  // As `MakeCollection`, then makes room for `room` elements as `Reserve`
  // does, in one step for a new collection. Throws std::length_error above
  // `kMaxCollectionSize` and std::bad_alloc, leaving the value as it was.
  void MakeCollection(std::size_t room);
  // Makes the value an empty structure unless it already is a structure.
  void MakeStructure();
  // On a collection, makes room for `count` elements; no effect on other kinds.
  // Throws std::length_error above `kMaxCollectionSize`.
  void Reserve(std::size_t count);
  // On a structure that has no room for members yet, makes room for `count`;
  // no effect otherwise. Throws std::length_error above `kMaxCollectionSize`
  // and std::bad_alloc.
  void ReserveFields(std::size_t count);
  // Makes the value a collection, appends empty elements until `index` exists
  // and returns element `index`. Throws std::length_error when `index` reaches
  // `kMaxCollectionSize`.
  BindingProperty& At(std::size_t index);
  // Makes the value a collection and returns a new empty last element. Throws
  // std::length_error when the collection is full.
  BindingProperty& Append() {
    if (kind_ == PropertyKind::kCollection) {
      ElementVector* elements = payload_.collection;
      if (elements->size < elements->capacity) {
        BindingProperty* element = new (&elements->data[elements->size++]) BindingProperty();
        element->MakeChildOf(store_);
        return *element;
      }
    }
    return AppendSlow();
  }
  // Makes the value a structure and returns the field `name` (cut at its first
  // NUL; a null `name` is the empty name), inserting an empty one when absent.
  BindingProperty& Field(const char* name);
  BindingProperty& Field(const std::string& name);
  BindingProperty& Field(std::string_view name);
  // As `Field`, for a name the caller knows to hold no NUL byte (a reader
  // that checked its whole input): the name is taken without searching it.
  BindingProperty& FieldWithoutNul(std::string_view name) { return InsertField(name); }
  // Element `index`, or `EmptyValue()` when this is no collection or too short.
  const BindingProperty& GetAt(std::size_t index) const;
  // Field `name` (cut at its first NUL; a null `name` is the empty name), or
  // `EmptyValue()` when absent or when this is no structure.
  const BindingProperty& GetField(const char* name) const;
  const BindingProperty& GetField(const std::string& name) const;
  const BindingProperty& GetField(std::string_view name) const;
  // Field `name` (cut at its first NUL), or nullptr when absent.
  const BindingProperty* FindField(std::string_view name) const;
  BindingProperty* FindField(std::string_view name);

  // Readers: the payload when the kind matches exactly, else `fallback`.
  bool GetBool(bool fallback = false) const;
  int64_t GetSigned(int64_t fallback = 0) const;
  uint64_t GetUnsigned(uint64_t fallback = 0) const;
  double GetDouble(double fallback = 0.0) const;
  // The pooled text (NUL-terminated at data()[size()]) or `fallback`. The view
  // does not retain ownership: it lives while the value holds the string.
  std::string_view GetString(std::string_view fallback = {}) const;
  // The byte vector or `fallback`; lives while the value holds the blob.
  const std::vector<uint8_t>& GetBlob(const std::vector<uint8_t>& fallback) const;
  EnumValue GetEnum(EnumValue fallback = {}) const;

  // A collection's elements in order; empty for other kinds.
  std::span<const BindingProperty> Elements() const;
  std::span<BindingProperty> Elements();
  // Calls `fn(name, value)` for every field in ascending name order; nothing
  // for other kinds. `fn` must not add or remove fields of this structure.
  template <class Fn>
  void ForEachField(Fn&& fn) const;
  template <class Fn>
  void ForEachField(Fn&& fn);

  // 0 for empty; bytes of a string or blob; elements or fields of a container;
  // 1 otherwise.
  std::size_t Size() const;
  // True for empty, false, 0, 0.0 (not NaN), enum 0, a string, blob, collection
  // or structure of size 0, and an unknown kind number.
  bool IsZero() const;

  // Takes the content of `source`, a value outside this value's contents that
  // builds in the same tree (`PropertyResult::InTreeOf`), without copying;
  // `source` is left empty. Any other `source` is moved as by `operator=`.
  void AdoptFromSameTree(BindingProperty& source);
  // Reports the value to `visitor`, containers in order (see PropertyVisitor).
  void Accept(PropertyVisitor& visitor) const;

 private:
  // One member of a structure; a structure's members are a `FieldTable`.
  using FieldSlot = FieldTable::Slot;
  // Control record of a collection, in the store.
  struct ElementVector {
    BindingProperty* data;
    uint32_t size;
    uint32_t capacity;
  };
  static_assert(sizeof(void*) != 4 || sizeof(ElementVector) == 12);

  // Payload: the scalar itself or the address of the part in the store.
  union Payload {
    uint64_t bits;
    bool boolean;
    int64_t signed_value;
    uint64_t unsigned_value;
    double float_value;
    const PooledString* string;
    std::vector<uint8_t>* blob;
    EnumValue* enum_value;
    ElementVector* collection;
    FieldTable* structure;
  };

  // The tree builder's calls (StructureBuilding, structure_building.h, says
  // what each does).
  const PooledString* RetainName(std::string_view name) { return EnsureStore()->Intern(name); }
  void RetainName(const PooledString* name) { store_->Retain(name); }
  void ReleaseName(const PooledString* name) { store_->Release(name); }
  BindingProperty& FieldOfName(const PooledString* name, const PooledString** below);
  BindingProperty* AppendFieldOfName(const PooledString* name, const PooledString** below);
  static constexpr std::size_t kMaxGatheredFields = 256;
  bool CanGatherFields() const;
  BindingProperty& GatherField(const PooledString* name);
  BindingProperty* FindGatheredField(const PooledString* name);
  const PooledString* GatheredName(std::size_t index) const;
  bool GatheredNamesAre(const PooledString* const* names, std::size_t count) const;
  void ArrangeFields(const uint16_t* order, std::size_t order_size);
  void SortFields(uint16_t* order);

  // The members of a structure in name order (settling its table first);
  // empty for other kinds.
  std::span<const FieldSlot> OrderedFields() const;
  PropertyStore* EnsureStore() { return store_ != nullptr ? store_ : CreateStore(); }
  PropertyStore* CreateStore();
  void ReleaseParts();
  BindingProperty& AppendSlow();
  void SetInternedString(std::string_view text);
  BindingProperty& InsertField(std::string_view name);
  // Counts `name` once more and makes it a new member with an empty value
  // after the last slot of the front run, which must hold every member.
  // Throws as `PlaceField`, leaving the members and the count as they were.
  BindingProperty& AppendField(const PooledString* name);
  // As `PlaceField`, and gives the count of `entry` back when that throws.
  BindingProperty& AddField(uint32_t index, bool in_tail, const PooledString* entry);
  const BindingProperty* LookupField(std::string_view name) const;
  // Makes a new member `entry` (whose count the caller passes on) with an
  // empty value, at `index` of the front run of this structure's members, or
  // of the tail run when `in_tail`. Throws std::bad_alloc and
  // std::length_error, leaving the members as they were.
  BindingProperty& PlaceField(uint32_t index, bool in_tail, const PooledString* entry);
  // Makes room in `fields` (this structure's table) for one more member and
  // returns a new empty value for it in this tree. Throws std::bad_alloc and
  // std::length_error, leaving the members as they were.
  BindingProperty* NewMemberValue(FieldTable& fields);
  void GrowCollection(std::size_t capacity);
  void CopyFrom(const BindingProperty& source);
  void CopyInto(const BindingProperty& source);
  void MoveFrom(BindingProperty& source);
  void MakeChildOf(PropertyStore* store) {
    store_ = store;
    owns_store_ = 0;
  }

  // The payload comes first: on i386 the record stays 16 bytes whether the ABI
  // aligns double and int64 members to 4 bytes (System V) or to 8 bytes.
  Payload payload_{0};
  PropertyStore* store_ = nullptr;
  PropertyKind kind_ = PropertyKind::kEmpty;
  uint8_t owns_store_ = 1;

  friend class PropertyReleaser;
  friend class StructureBuilding;
  friend class PropertyResult;
};
static_assert(sizeof(void*) != 4 || sizeof(BindingProperty) == 16);

// A `BindingProperty` with a valid flag. An invalid result holds a structure
// whose field "error" is the message of the failure.
class [[nodiscard]] PropertyResult : public BindingProperty {
 public:
  // Empty and valid.
  PropertyResult() noexcept = default;
  // Deep copy; copies the valid flag.
  PropertyResult(const PropertyResult& other) = default;
  // Moves the value (see BindingProperty: not noexcept, since moving from an
  // element or field copies) and copies the valid flag.
  PropertyResult(PropertyResult&& other)
      : BindingProperty(std::move(other)), valid_(other.valid_) {}
  // A valid result holding a copy of `value`.
  PropertyResult(const BindingProperty& value) : BindingProperty(value) {}
  // A valid result holding `value`, moved (a copy when `value` is an element
  // or field; may throw std::bad_alloc).
  PropertyResult(BindingProperty&& value) : BindingProperty(std::move(value)) {}
  PropertyResult& operator=(const PropertyResult& other);
  PropertyResult& operator=(PropertyResult&& other);
  // Assigning a bare value keeps the valid flag as it is.
  using BindingProperty::operator=;

  bool IsValid() const { return valid_; }
  // Releases the value, clears the valid flag and stores `message` (cut at its
  // first NUL) as the string field "error".
  void SetError(std::string_view message);
  // "" for a valid result; else the field "error", or "" when it is missing or
  // not a string. Lives while the result holds it.
  std::string_view GetError() const;
  // Releases the value and makes the result valid.
  void Reset();

  // An empty, valid result that builds in the tree of `anchor` instead of a
  // tree of its own, so that a value of that tree can take its content with
  // `AdoptFromSameTree`. `anchor`'s tree must outlive the result.
  static PropertyResult InTreeOf(BindingProperty& anchor);

 private:
  bool valid_ = true;
};
// The valid flag takes the tail padding of the value: still 16 bytes on i386.
static_assert(sizeof(void*) != 4 || sizeof(PropertyResult) == 16);

// Receives the content of a property from `BindingProperty::Accept`. The
// sixteen operations are declared in their fixed slot order.
class PropertyVisitor {
 public:
  virtual void VisitEmpty() = 0;                                  // slot 0
  virtual void VisitBool(bool value) = 0;                         // slot 1
  virtual void VisitSigned(int64_t value) = 0;                    // slot 2
  virtual void VisitUnsigned(uint64_t value) = 0;                 // slot 3
  virtual void VisitFloat(double value) = 0;                      // slot 4
  virtual void VisitString(std::string_view text) = 0;            // slot 5
  virtual void VisitBlob(const std::vector<uint8_t>& bytes) = 0;  // slot 6
  virtual void VisitEnum(const EnumValue& value) = 0;             // slot 7
  virtual void BeginCollection(std::size_t count) = 0;            // slot 8
  virtual void BeginElement(std::size_t index) = 0;               // slot 9
  virtual void EndElement(std::size_t index) = 0;                 // slot 10
  virtual void EndCollection() = 0;                               // slot 11
  virtual void BeginStructure(std::size_t count) = 0;             // slot 12
  virtual void BeginField(std::string_view name) = 0;             // slot 13
  virtual void EndField(std::string_view name) = 0;               // slot 14
  virtual void EndStructure() = 0;                                // slot 15

 protected:
  // Visitors are not destroyed through this interface.
  ~PropertyVisitor() = default;
};

template <class Fn>
void BindingProperty::ForEachField(Fn&& fn) const {
  for (const FieldSlot& slot : OrderedFields()) {
    std::invoke(fn, slot.name->view(), std::as_const(*slot.value));
  }
}

template <class Fn>
void BindingProperty::ForEachField(Fn&& fn) {
  for (const FieldSlot& slot : OrderedFields()) std::invoke(fn, slot.name->view(), *slot.value);
}

}  // namespace Kestrel

#endif  // VYN_BINDING_BINDING_PROPERTY_H_
