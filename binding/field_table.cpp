#include "binding/field_table.h"

#include <algorithm>
#include <stdexcept>

namespace Kestrel {

namespace {

using Slot = FieldTable::Slot;

// Below this many members, a member that arrives out of order is placed in
// the front run directly (moving at most a few KiB of slots).
constexpr uint32_t kDirectInsertLimit = 512;

// Whether the interned `entry` holds exactly `text`.
bool SameName(const PooledString* entry, std::string_view text) {
  return entry->length == text.size() && std::memcmp(entry->text(), text.data(), text.size()) == 0;
}

// The first of the `count` slots at `slots`, sorted by name, whose name is
// not below `name` (`count` when there is none).
uint32_t LowerBound(const Slot* slots, uint32_t count, std::string_view name) {
  uint32_t low = 0;
  while (count != 0) {
    const uint32_t half = count / 2;
    if (NameOrder::Less(slots[low + half].name->view(), name)) {
      low += half + 1;
      count -= half + 1;
    } else {
      count = half;
    }
  }
  return low;
}

}  // namespace

void FieldTable::Settle() {
  if (pending == 0) return;
  std::memmove(slots + size, slots + capacity - pending, pending * sizeof(Slot));
  // Stable and without failure: without a buffer it merges in place.
  std::inplace_merge(slots, slots + size, slots + size + pending, [](const Slot& a, const Slot& b) {
    return NameOrder::Less(a.name->view(), b.name->view());
  });
  size += pending;
  pending = 0;
}

BindingProperty* FieldTable::Find(std::string_view name) const {
  const uint32_t index = LowerBound(slots, size, name);
  if (index != size && SameName(slots[index].name, name)) return slots[index].value;
  const Slot* tail = slots + capacity - pending;
  const uint32_t in_tail = LowerBound(tail, pending, name);
  if (in_tail != pending && SameName(tail[in_tail].name, name)) return tail[in_tail].value;
  return nullptr;
}

FieldTable::Position FieldTable::LocateInside(std::string_view name) {
  uint32_t index = LowerBound(slots, size, name);
  if (SameName(slots[index].name, name)) return {slots[index].value, index, false};
  if (pending == 0 && size < kDirectInsertLimit) return {nullptr, index, false};
  const Slot* tail = slots + capacity - pending;
  index = LowerBound(tail, pending, name);
  if (index != pending && SameName(tail[index].name, name)) return {tail[index].value, index, true};
  if (pending * pending >= 4 * size) {
    Settle();
    index = 0;
  }
  return {nullptr, index, true};
}

void FieldTable::Grow(PropertyStore& store) {
  if (Count() >= kMaxMembers) {
    throw std::length_error("BindingProperty structure too large");
  }
  // Growing by half keeps the slots of five or six members in a 48-byte block
  // (a pool whose inline page holds two) rather than a 64-byte one (one).
  const std::size_t new_capacity =
      capacity == 0 ? kFirstCapacity : std::size_t{capacity} + capacity / 2;
  auto* grown = static_cast<Slot*>(store.Allocate(new_capacity * sizeof(Slot)));
  if (size != 0) std::memcpy(grown, slots, size * sizeof(Slot));
  if (pending != 0) {
    std::memcpy(grown + new_capacity - pending, slots + capacity - pending, pending * sizeof(Slot));
  }
  if (capacity != 0) store.Free(slots, capacity * sizeof(Slot));
  slots = grown;
  capacity = static_cast<uint32_t>(new_capacity);
}

}  // namespace Kestrel
