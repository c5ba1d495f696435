#include "formats/tree_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

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
}

TreeBuilder::~TreeBuilder() {
  if (!names_ready_) return;
  for (const RecentName& recent : names_) {
    if (recent.name != nullptr) root_.ReleaseName(recent.name);
    if (recent.below != nullptr) root_.ReleaseName(recent.below);
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
        member_ = &structure.Field(name.substr(0, nul));
        return;
      }
    }
    const PooledString* entry = structure.RetainName(name);
    if (recent.name != nullptr) structure.ReleaseName(recent.name);
    if (recent.below != nullptr) structure.ReleaseName(recent.below);
    recent = {entry, nullptr};
  }
  const PooledString* const below = recent.below;
  member_ = &structure.FieldOfName(recent.name, &recent.below);
  if (recent.below != below) {
    // The new neighbour is counted while the memo keeps it: a freed entry's
    // block could come back as another name.
    structure.RetainName(recent.below);
    if (below != nullptr) structure.ReleaseName(below);
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

}  // namespace Kestrel
