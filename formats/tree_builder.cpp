#include "formats/tree_builder.h"

namespace Kestrel {

TreeBuilder::TreeBuilder(BindingProperty& root) : root_(root) {
  open_.reserve(16);
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
