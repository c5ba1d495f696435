#include "formats/tree_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

#include "binding/structure_building.h"

namespace Kestrel {

namespace {

uint32_t LoadWord(const char* bytes) {
  uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

}  // namespace

TreeBuilder::TreeBuilder(BindingProperty& root) : root_(root) {
  open_.reserve(16);
  std::fill(std::begin(shape_chains_), std::end(shape_chains_), kNoShape);
}

TreeBuilder::~TreeBuilder() {
  for (std::size_t i = 0; i < shape_names_used_; ++i)
    StructureBuilding::ReleaseName(root_, shape_names_[i]);
  if (!names_ready_) return;
  for (const RecentName& recent : names_) {
    if (recent.name != nullptr) StructureBuilding::ReleaseName(root_, recent.name);
    if (recent.below != nullptr) StructureBuilding::ReleaseName(root_, recent.below);
  }
}

std::size_t TreeBuilder::NameSlot(std::string_view name) {
  const std::size_t size = name.size();
  uint32_t mix;
  if (size >= 4) {
    mix = LoadWord(name.data()) * 0x9E3779B1u ^ LoadWord(name.data() + size - 4);
  } else {
    mix = 0;
    for (std::size_t i = 0; i < size; ++i) mix = mix << 8 | static_cast<unsigned char>(name[i]);
  }
  mix = (mix ^ static_cast<uint32_t>(size)) * 0x9E3779B1u;
  return mix >> (32 - std::countr_zero(kNameSlots));
}

void TreeBuilder::SelectMember(std::string_view name, bool may_hold_nul) {
  if (open_.empty() || open_.back()->kind() != PropertyKind::kStructure) return;
  BindingProperty& structure = *open_.back();
  if (!names_ready_) {
    std::fill(std::begin(names_), std::end(names_), RecentName{nullptr, nullptr});
    names_ready_ = true;
  }
  // Every container of the tree shares the root's store, where the names live.
  RecentName& recent = names_[NameSlot(name)];
  if (recent.name == nullptr || !recent.name->Holds(name)) {
    // Only a name without a NUL is ever kept here, so a text that matches
    // one holds none.
    if (may_hold_nul) {
      const std::size_t nul = name.find('\0');
      if (nul != std::string_view::npos) {
        if (&structure == gathered_) FinishGathering(/*record=*/false);
        member_ = &structure.Field(name.substr(0, nul));
        return;
      }
    }
    const PooledString* entry = StructureBuilding::RetainName(structure, name);
    if (recent.name != nullptr) StructureBuilding::ReleaseName(structure, recent.name);
    if (recent.below != nullptr) StructureBuilding::ReleaseName(structure, recent.below);
    recent = {entry, nullptr};
  }
  if (&structure == gathered_) [[unlikely]] {
    member_ = &GatherMember(recent.name);
    return;
  }
  const PooledString* const below = recent.below;
  BindingProperty* appended =
      StructureBuilding::AppendFieldOfName(structure, recent.name, &recent.below);
  member_ = appended != nullptr ? appended : &SelectOutOfOrder(recent.name);
  if (recent.below != below) {
    // The new neighbour is counted while the memo keeps it: a freed entry's
    // block could come back as another name.
    StructureBuilding::RetainName(structure, recent.below);
    if (below != nullptr) StructureBuilding::ReleaseName(structure, below);
  }
}

// The root, or a value where a key was expected.
BindingProperty& TreeBuilder::BeginOtherValue() {
  if (open_.empty()) {
    root_taken_ = true;
    return root_;
  }
  // Readers never put a value where a key was expected, but it must land
  // somewhere harmless rather than in the structure itself.
  if (open_.back() == gathered_) FinishGathering(/*record=*/false);
  return open_.back()->Field(std::string_view());
}

void TreeBuilder::Blob(const uint8_t* data, std::size_t size) {
  BeginValue().SetBlob(data, size);
  EndValue();
}

bool TreeBuilder::StartContainer(PropertyKind kind, Existing existing, std::size_t room) {
  if (open_.size() >= kMaxNestingDepth) return false;
  BindingProperty& target = BeginValue();
  member_ = nullptr;
  if (existing == Existing::kReplace) target.Clear();
  if (kind == PropertyKind::kCollection) {
    target.MakeCollection(room);
  } else {
    target.MakeStructure();
    target.ReserveFields(room);
  }
  open_.push_back(&target);
  return true;
}

bool TreeBuilder::ExpectsKey() const {
  return !open_.empty() && open_.back()->kind() == PropertyKind::kStructure && member_ == nullptr;
}

void TreeBuilder::Settle() {
  while (gathering_count_ != 0) FinishGathering(/*record=*/false);
}

BindingProperty& TreeBuilder::SelectOutOfOrder(const PooledString* name) {
  BindingProperty& structure = *open_.back();
  if (gathering_count_ < kMaxGathering && StructureBuilding::CanGatherFields(structure)) {
    // The members so far came in name order: they are the arrival order too.
    const std::size_t count = structure.Size();
    const uint16_t shape = FindShape(structure, count, name);
    if (shape != kNoShape || count < kMaxScannedFields) {
      gathered_ = &structure;
      gathering_[gathering_count_++] = {static_cast<uint32_t>(open_.size()),
                                        static_cast<uint32_t>(count), shape};
      return GatherMember(name);
    }
  }
  const PooledString* below = nullptr;
  return StructureBuilding::FieldOfName(structure, name, &below);
}

BindingProperty& TreeBuilder::GatherMember(const PooledString* name) {
  BindingProperty& structure = *open_.back();
  Gathering& gathering = gathering_[gathering_count_ - 1];
  const std::size_t count = gathering.count;
  // Counted once the member is made.
  const auto gather = [&]() -> BindingProperty& {
    BindingProperty& member = StructureBuilding::GatherField(structure, name);
    ++gathering.count;
    return member;
  };
  if (gathering.shape != kNoShape) {
    const Shape& followed = shapes_[gathering.shape];
    if (count < followed.size && shape_names_[followed.first + count] == name) return gather();
    // Another shape may share the arrival order so far.
    gathering.shape = FindShape(structure, count, name);
    if (gathering.shape != kNoShape) return gather();
  }
  if (BindingProperty* found = StructureBuilding::FindGatheredField(structure, name)) return *found;
  if (count >= kMaxScannedFields) {
    FinishGathering(/*record=*/false);
    const PooledString* below = nullptr;
    return StructureBuilding::FieldOfName(structure, name, &below);
  }
  return gather();
}

std::size_t TreeBuilder::ShapeChain(const PooledString* first) {
  const auto bits = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(first));
  return (bits >> 3) * 0x9E3779B1u >> (32 - std::countr_zero(kShapeChains));
}

uint16_t TreeBuilder::FindShape(const BindingProperty& structure, std::size_t count,
                                const PooledString* name) const {
  for (uint16_t index = shape_chains_[ShapeChain(StructureBuilding::GatheredName(structure, 0))];
       index != kNoShape; index = shapes_[index].next) {
    const Shape& shape = shapes_[index];
    if (shape.size > count && shape_names_[shape.first + count] == name &&
        StructureBuilding::GatheredNamesAre(structure, &shape_names_[shape.first], count)) {
      return index;
    }
  }
  return kNoShape;
}

void TreeBuilder::CloseGathered() {
  FinishGathering(/*record=*/true);
  open_.pop_back();
  member_ = nullptr;
}

void TreeBuilder::FinishGathering(bool record) {
  const Gathering gathering = gathering_[--gathering_count_];
  gathered_ = gathering_count_ == 0 ? nullptr : open_[gathering_[gathering_count_ - 1].depth - 1];
  BindingProperty& structure = *open_[gathering.depth - 1];
  if (gathering.shape != kNoShape) {
    const Shape& shape = shapes_[gathering.shape];
    StructureBuilding::ArrangeFields(structure, &shape_order_[shape.first], shape.size);
    return;
  }
  const std::size_t count = structure.Size();
  if (record && shape_count_ < kShapes && shape_names_used_ + count <= kShapeNames) {
    const std::size_t first = shape_names_used_;
    for (std::size_t i = 0; i < count; ++i) {
      shape_names_[first + i] = StructureBuilding::GatheredName(structure, i);
      StructureBuilding::RetainName(structure, shape_names_[first + i]);
    }
    shape_names_used_ += count;
    StructureBuilding::SortFields(structure, &shape_order_[first]);
    const std::size_t chain = ShapeChain(shape_names_[first]);
    shapes_[shape_count_] = {static_cast<uint16_t>(first), static_cast<uint16_t>(count),
                             shape_chains_[chain]};
    shape_chains_[chain] = static_cast<uint16_t>(shape_count_++);
    return;
  }
  uint16_t order[StructureBuilding::kMaxGatheredFields];
  StructureBuilding::SortFields(structure, order);
}

}  // namespace Kestrel
