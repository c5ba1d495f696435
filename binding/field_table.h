// `FieldTable`: the members of one structure value, kept in name order.
// Private to binding/: only `BindingProperty` (binding_property.cpp) and its
// tests use it; other code reads members through `BindingProperty`.
//
// The table is the structure's control record in its tree's `PropertyStore`
// (16 bytes on i386). Its slot array, also in the store, holds the members in
// ascending byte-wise name order, in two sorted runs: the front run holds
// `size` members; a large structure takes members that arrive out of order
// into a second run at the tail of the array (`pending` members, at most about
// twice the square root of `size`), which `Settle` merges into the front run.
// So adding n members in any order costs O(n^1.5) slot moves at worst, where
// keeping one run sorted would cost O(n^2). Members are read in order only
// after `Settle`; lookups search both runs. The one exception is a structure
// a reader is gathering (`StructureBuilding::GatherField`): until it is
// arranged, its front run holds the members in arrival order. The table owns
// neither the names nor the values its slots refer to: the owning
// `BindingProperty` makes and releases them; the table knows the value by
// name only. Used by one thread at a time, like its tree.
#ifndef VYN_BINDING_FIELD_TABLE_H_
#define VYN_BINDING_FIELD_TABLE_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "binding/property_store.h"

namespace Kestrel {

class BindingProperty;

// Byte-wise (unsigned) order of member names.
struct NameOrder {
  static bool Less(std::string_view a, std::string_view b) {
    // Member names are short: a plain loop beats a library call. Their first
    // four bytes, compared as one big-endian word, settle most comparisons
    // with a single branch.
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    std::size_t i = 0;
    if (common >= 4) {
      const uint32_t x = LeadingWord(a.data());
      const uint32_t y = LeadingWord(b.data());
      if (x != y) return x < y;
      i = 4;
    }
    for (; i < common; ++i) {
      const auto x = static_cast<unsigned char>(a[i]);
      const auto y = static_cast<unsigned char>(b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
  // The four bytes at `bytes` (never null) as a number that orders like the
  // bytes.
  static uint32_t LeadingWord(const char* bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap32(word);
    return word;
  }
};

struct FieldTable {
  // One member: its interned name and its value, a block of the store of its
  // own, so that adding members never moves a value.
  struct Slot {
    const PooledString* name;
    BindingProperty* value;
  };
  // Members a structure makes room for with its first one.
  static constexpr std::size_t kFirstCapacity = 4;
  // Most members of a structure; more is a std::length_error.
  static constexpr std::size_t kMaxMembers = 0x0FFFFFFF;

  // Where a member name is, or where a new member of that name goes.
  struct Position {
    BindingProperty* found;  // the member's value when the name is present, else nullptr
    uint32_t index;          // in the front run, or in the tail run when `in_tail`
    bool in_tail;
  };

  Slot* slots;
  uint32_t size;
  uint32_t capacity;
  uint32_t pending;

  uint32_t Count() const { return size + pending; }

  // Merges the tail run into the front run, leaving all members in
  // `slots[0, size)` in name order. Never fails.
  void Settle();

  // Returns the value of the member named exactly `name`, or nullptr.
  BindingProperty* Find(std::string_view name) const;

  // Returns the member named `name`, or where a member of that name is to be
  // inserted. May settle the table. Never fails.
  Position Locate(std::string_view name) {
    // Documents often list members in name order: a name above the last one
    // of the front run goes to its end with a single comparison (the tail run
    // only holds names below that one).
    if (size == 0 || NameOrder::Less(slots[size - 1].name->view(), name)) {
      return {nullptr, size, false};
    }
    return LocateInside(name);
  }

  // Makes room in the slot array for one more member, taking the array from
  // `store`. Throws std::length_error beyond `kMaxMembers`
  // members and std::bad_alloc, leaving the members as they were.
  void MakeRoom(PropertyStore& store) {
    if (Count() == capacity) Grow(store);
  }

  // Puts the member {`name`, `value`} (neither null) at `position` (from
  // `Locate`, with no member added since). Requires room (`MakeRoom`). Never fails.
  void Insert(const Position& position, const PooledString* name, BindingProperty* value) {
    Slot* slot;
    if (position.in_tail) {
      // The tail run grows downwards: the slots before the index move down one.
      Slot* tail = slots + capacity - pending;
      std::memmove(tail - 1, tail, position.index * sizeof(Slot));
      slot = tail - 1 + position.index;
      ++pending;
    } else {
      slot = slots + position.index;
      if (position.index != size) {
        std::memmove(slot + 1, slot, (size - position.index) * sizeof(Slot));
      }
      ++size;
    }
    *slot = {name, value};
  }

 private:
  Position LocateInside(std::string_view name);
  void Grow(PropertyStore& store);
};
static_assert(sizeof(void*) != 4 || sizeof(FieldTable) == 16);

}  // namespace Kestrel

#endif  // VYN_BINDING_FIELD_TABLE_H_
