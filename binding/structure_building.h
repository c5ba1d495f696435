// `StructureBuilding`: the calls through which the readers' tree builder
// (formats/tree_builder.h) fills structures faster than the value's public
// API allows: names interned once and kept counted, members selected by such
// a name, and members gathered in arrival order, then put in name order once.
//
// Nothing here owns anything: the names belong to the tree of the structure
// they are used with, and each call works on the `BindingProperty` it is
// given, which must be used by one thread at a time (the caller's). The value
// befriends this class; every call forwards to the value's own private member,
// so it costs what a member call costs.
//
// Gathering: a reader whose keys arrive out of name order may add members in
// arrival order and put them in name order once, when the structure is
// complete. Between the first `GatherField` and `ArrangeFields` or
// `SortFields`, the structure's members are in arrival order and only the
// calls below may touch it (its release is safe too).
#ifndef VYN_BINDING_STRUCTURE_BUILDING_H_
#define VYN_BINDING_STRUCTURE_BUILDING_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/property_store.h"

namespace Kestrel {

class StructureBuilding {
 public:
  // Most members a gathered structure may have.
  static constexpr std::size_t kMaxGatheredFields = BindingProperty::kMaxGatheredFields;

  StructureBuilding() = delete;

  // The entry of `name` (all its bytes) in the tree of `value`, counted once
  // more, for a reader that meets the same names again: `FieldOfName` then
  // selects members by it without interning the text each time. Makes the
  // store when there is none. Throws std::bad_alloc. Never nullptr.
  static const PooledString* RetainName(BindingProperty& value, std::string_view name) {
    return value.RetainName(name);
  }
  // Counts `name`, an entry of the tree of `value` still counted, once more.
  // `name` must not be nullptr.
  static void RetainName(BindingProperty& value, const PooledString* name) {
    value.RetainName(name);
  }
  // Gives back a count taken by `RetainName` on a value of the same tree.
  // `name` must not be nullptr.
  static void ReleaseName(BindingProperty& value, const PooledString* name) {
    value.ReleaseName(name);
  }

  // As `BindingProperty::FieldWithoutNul` on `structure`, for a name (not
  // nullptr) from `RetainName` of its tree that the caller keeps counted
  // during the call. `*below` may be nullptr (`below` itself may not); when
  // not, it is a name of this tree the caller knows to sort below `name` (and
  // keeps counted): when it is the last member, `name` goes after it without
  // a comparison. When `name` is added after the last member, `*below` is set
  // to that member's name; otherwise it is left as it was. Throws
  // std::bad_alloc and std::length_error.
  static BindingProperty& FieldOfName(BindingProperty& structure, const PooledString* name,
                                      const PooledString** below) {
    return structure.FieldOfName(name, below);
  }
  // The part of `FieldOfName` that appends: when `structure` is a structure
  // and `name` goes after its last member (or it has none), adds the member
  // there and returns it; else returns nullptr and changes nothing.
  static BindingProperty* AppendFieldOfName(BindingProperty& structure, const PooledString* name,
                                            const PooledString** below) {
    return structure.AppendFieldOfName(name, below);
  }

  // True when `structure` is a structure that may be gathered: its members
  // are in one run and fewer than `kMaxGatheredFields`.
  static bool CanGatherFields(const BindingProperty& structure) {
    return structure.CanGatherFields();
  }
  // Adds the member `name` (a name of this tree, not nullptr, kept counted by
  // the caller and absent from the structure) after the last member, in
  // arrival order. Throws as `FieldOfName`, leaving the members as they were.
  static BindingProperty& GatherField(BindingProperty& structure, const PooledString* name) {
    return structure.GatherField(name);
  }
  // The member `name` of a gathered structure, or nullptr (a linear search).
  static BindingProperty* FindGatheredField(BindingProperty& structure, const PooledString* name) {
    return structure.FindGatheredField(name);
  }
  // The name of member `index` of a gathered structure, in arrival order.
  // Never nullptr.
  static const PooledString* GatheredName(const BindingProperty& structure, std::size_t index) {
    return structure.GatheredName(index);
  }
  // True when the first `count` members of a gathered structure (it has at
  // least that many) are named `names[0, count)`, in that order. `names` may
  // be nullptr only when `count` is 0.
  static bool GatheredNamesAre(const BindingProperty& structure, const PooledString* const* names,
                               std::size_t count) {
    return structure.GatheredNamesAre(names, count);
  }
  // Puts the members of a gathered structure in name order: `order[k]` (not
  // nullptr) is the arrival index of the k-th member in name order, and
  // indices at or above the member count are skipped (`order` may describe a
  // longer structure whose arrival order starts the same). Never fails.
  static void ArrangeFields(BindingProperty& structure, const uint16_t* order,
                            std::size_t order_size) {
    structure.ArrangeFields(order, order_size);
  }
  // Sorts the members of a gathered structure by name, writing their arrival
  // indices in name order to `order` (not nullptr, room for every member).
  // Never fails.
  static void SortFields(BindingProperty& structure, uint16_t* order) {
    structure.SortFields(order);
  }
};

}  // namespace Kestrel

#endif  // VYN_BINDING_STRUCTURE_BUILDING_H_
