// `TreeBuilder`: the one place where the JSON, MessagePack and YAML readers turn
// their parse events into a `BindingProperty` tree.
//
// A reader owns a builder over the root property it fills and reports what it
// reads, in document order: scalars, container starts and ends, and member
// keys. The builder keeps the stack of open containers and the current target
// (the property the next value fills): inside a collection each value appends
// a new element; inside a structure a `Key` selects (or creates) the member the
// next value fills. Keys that arrive in name order append; a structure whose
// keys arrive out of order gathers its members in arrival order and is put in
// name order once, when it closes (the tree comes out as if each member had
// been inserted in order). The builder does not own the root; it must outlive the
// builder, and the tree must not be touched by anyone else while it is built.
//
// Nesting is bounded: a value inside `kMaxNestingDepth` open containers is
// accepted, opening one more container is refused (the start call returns
// false and nothing changes); the reader then reports the failure with its own
// position. Release, copies and visiting walk a tree of any depth without
// recursion; the bound keeps the walks that recurse once per level (the
// conversion to host values and their release) on a short stack.
//
//   BindingProperty root;
//   TreeBuilder builder(root);
//   builder.StartStructure();     // {
//   builder.Key("ids");           //   "ids":
//   builder.StartCollection();    //     [
//   builder.Unsigned(1);          //       1
//   builder.EndCollection();      //     ]
//   builder.EndStructure();       // }
#ifndef VYN_FORMATS_TREE_BUILDER_H_
#define VYN_FORMATS_TREE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"

namespace Kestrel {

// Largest number of containers that may be open around a value.
inline constexpr std::size_t kMaxNestingDepth = 512;

class TreeBuilder {
 public:
  // What a container start does with a target that already is a container of
  // the same kind (a repeated key, or the root given pre-filled).
  enum class Existing : uint8_t {
    kKeep,     // keep its elements or members and add to them
    kReplace,  // release it first and start an empty container
  };

  // Builds into `root`, which is not owned and must outlive the builder.
  explicit TreeBuilder(BindingProperty& root);
  // Gives back the names the builder keeps counted (see `names_` and
  // `shapes_`).
  ~TreeBuilder();
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  // Scalars: each fills the current target and finishes it.
  // Leaves the target as it is (a new element or member stays empty).
  void Null() {
    BeginValue();
    EndValue();
  }
  // Makes the target empty, releasing what it held.
  void Clear() {
    BeginValue().Clear();
    EndValue();
  }
  void Bool(bool value) {
    BeginValue().SetBool(value);
    EndValue();
  }
  void Signed(int64_t value) {
    BeginValue().SetSigned(value);
    EndValue();
  }
  void Unsigned(uint64_t value) {
    BeginValue().SetUnsigned(value);
    EndValue();
  }
  void Double(double value) {
    BeginValue().SetDouble(value);
    EndValue();
  }
  // Stores `text` up to its first NUL.
  void String(std::string_view text) {
    BeginValue().SetString(text);
    EndValue();
  }
  // Stores every byte of `text`, embedded NULs included.
  void StringFullLength(std::string_view text) {
    BeginValue().SetStringFullLength(text);
    EndValue();
  }
  // Sets the next value to a blob of the `size` bytes at `data` (nullptr only
  // with size 0).
  void Blob(const uint8_t* data, std::size_t size);

  // Opens a collection (structure) in the current target, with room for
  // `room` elements (members), and pushes it. Returns false, changing
  // nothing, when `kMaxNestingDepth` containers are already open. Throws as
  // `BindingProperty::Reserve` for a `room` above its limit.
  [[nodiscard]] bool StartCollection(Existing existing = Existing::kKeep, std::size_t room = 0) {
    return StartContainer(PropertyKind::kCollection, existing, room);
  }
  [[nodiscard]] bool StartStructure(Existing existing = Existing::kKeep, std::size_t room = 0) {
    return StartContainer(PropertyKind::kStructure, existing, room);
  }
  // Closes the innermost open container, which must be a collection;
  // ignored when none is open.
  void EndCollection() {
    if (open_.empty()) return;
    open_.pop_back();
    member_ = nullptr;
  }
  // Closes the innermost open container, which must be a structure, putting
  // its members in name order when they were gathered; ignored when none is
  // open.
  void EndStructure() { End(); }
  // Closes the innermost open container of either kind, as `EndCollection`
  // or `EndStructure` would; ignored when none is open.
  void End() {
    if (open_.empty()) return;
    if (open_.back() == gathered_) [[unlikely]] {
      CloseGathered();
      return;
    }
    open_.pop_back();
    member_ = nullptr;
  }

  // Selects the member `name` (cut at its first NUL) of the innermost open
  // structure as the target of the next value, creating it when absent.
  // Ignored when the innermost open container is not a structure.
  void Key(std::string_view name) { SelectMember(name, /*may_hold_nul=*/true); }
  // As `Key`, for a name the caller knows to hold no NUL byte.
  void KeyWithoutNul(std::string_view name) { SelectMember(name, /*may_hold_nul=*/false); }

  // For values a reader builds itself (a copied alias, say): returns the
  // current target, appending a new element when the innermost open container
  // is a collection. Call `EndValue` once the target is filled. The reference
  // is valid until the next builder call.
  BindingProperty& BeginValue() {
    if (!open_.empty()) {
      BindingProperty* container = open_.back();
      if (container->kind() == PropertyKind::kCollection) return container->Append();
      if (member_ != nullptr) return *member_;
    }
    return BeginOtherValue();
  }
  // Finishes the value started by `BeginValue`.
  void EndValue() { member_ = nullptr; }

  // Number of open containers.
  std::size_t depth() const { return open_.size(); }
  // True when the innermost open container is a structure and no member has
  // been selected by `Key` since its last value.
  bool ExpectsKey() const;
  // The innermost open container, or nullptr when none is open.
  BindingProperty* innermost() const { return open_.empty() ? nullptr : open_.back(); }
  // Puts the members of every open structure in name order, so that the tree
  // can be read (looked up, copied) before they close; a reader that stops
  // with structures still open calls it before handing the tree over. Never
  // fails.
  void Settle();
  // The root being built.
  BindingProperty& root() const { return root_; }
  // True once the root has received a value or been opened as a container.
  bool root_taken() const { return root_taken_; }

 private:
  // Slots of the name memo: a power of two.
  static constexpr std::size_t kNameSlots = 256;
  // Room for the shapes (see `shapes_`): names in all, shapes, and chains.
  static constexpr std::size_t kShapeNames = 1024;
  static constexpr std::size_t kShapes = 64;
  static constexpr std::size_t kShapeChains = 32;
  // A shape index that means none.
  static constexpr uint16_t kNoShape = 0xFFFF;
  // Most members a structure gathers without a shape: each new key is looked
  // for among them one by one.
  static constexpr std::size_t kMaxScannedFields = 64;

  // Most structures gathered at once; an inner one beyond them is ordered as
  // its members come.
  static constexpr std::size_t kMaxGathering = 16;

  // An open structure whose members are gathered in arrival order.
  struct Gathering {
    // Its place in `open_` plus one.
    uint32_t depth;
    // Its members so far.
    uint32_t count;
    // The shape its members follow so far, or `kNoShape`.
    uint16_t shape;
  };
  // One arrival order of distinct member names met before, with the order
  // that sorts it: `size` names and indices from `first` in `shape_names_`
  // and `shape_order_`; `next` is the next shape of its chain, or `kNoShape`.
  struct Shape {
    uint16_t first;
    uint16_t size;
    uint16_t next;
  };

  BindingProperty& BeginOtherValue();
  void SelectMember(std::string_view name, bool may_hold_nul);
  // The memo's slot for the text `name`: a mix of its length and its first
  // and last bytes, not a hash of every byte.
  static std::size_t NameSlot(std::string_view name);
  bool StartContainer(PropertyKind kind, Existing existing, std::size_t room);
  // Selects `name` (not null) in the innermost open structure, whose last
  // member is above it.
  BindingProperty& SelectOutOfOrder(const PooledString* name);
  // Selects `name` (not null) in the innermost open structure, which is
  // gathered.
  BindingProperty& GatherMember(const PooledString* name);
  // A shape whose first `count` names are the members of `structure` and
  // whose next name is `name` (not null), or `kNoShape`.
  uint16_t FindShape(const BindingProperty& structure, std::size_t count,
                     const PooledString* name) const;
  // The chain of the shapes whose first name is `first`; only its address is
  // mixed, so it may be null.
  static std::size_t ShapeChain(const PooledString* first);
  // Puts the members of the innermost gathered structure in name order and
  // ends its gathering; with `record`, one that followed no shape is kept as
  // a shape.
  void FinishGathering(bool record);
  // `EndStructure` for a gathered structure.
  void CloseGathered();

  BindingProperty& root_;
  // Open containers, outermost first. Pointers stay valid: a collection only
  // grows while it is the innermost open container, and structure members
  // never move.
  std::vector<BindingProperty*> open_;
  // The member selected by the last `Key`, or nullptr.
  BindingProperty* member_ = nullptr;
  // True once the root has received its value (or been opened).
  bool root_taken_ = false;
  // The names of the tree's members met last, by `NameSlot` of their text,
  // each counted once by the builder so that it stays interned. The same few
  // names recur through a document: a name found here is selected without
  // hashing and looking it up in the tree's string table again. Cleared on
  // first use; nullptr: no name.
  struct RecentName {
    const PooledString* name;
    // A name that sorts below `name` (counted too), or nullptr.
    const PooledString* below;
  };
  RecentName names_[kNameSlots];
  bool names_ready_ = false;
  // Shapes: documents repeat a few arrival orders of member names. A
  // structure whose keys arrive out of name order gathers its members in
  // arrival order; one that follows a shape met before is put in order by
  // the shape's sorting order, without comparing names, and a new key that
  // matches the shape's next name needs no search for a duplicate (a shape's
  // names are distinct). Names here are counted by the builder, so they
  // stay the same texts. Chains by first name; `kNoShape` ends a chain.
  const PooledString* shape_names_[kShapeNames];
  uint16_t shape_order_[kShapeNames];
  Shape shapes_[kShapes];
  uint16_t shape_chains_[kShapeChains];
  std::size_t shape_count_ = 0;
  std::size_t shape_names_used_ = 0;
  // The gathered open structures, outermost first, and the innermost of
  // them (nullptr: none).
  Gathering gathering_[kMaxGathering];
  std::size_t gathering_count_ = 0;
  const BindingProperty* gathered_ = nullptr;
};

}  // namespace Kestrel

#endif  // VYN_FORMATS_TREE_BUILDER_H_
