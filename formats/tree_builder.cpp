#include "formats/tree_builder.h"

namespace Kestrel {

TreeBuilder::TreeBuilder(BindingProperty& root) : root_(root) { open_.reserve(16); }

BindingProperty& TreeBuilder::BeginValue() {
  if (open_.empty()) {
    root_taken_ = true;
    return root_;
  }
  BindingProperty* container = open_.back();
  if (container->kind() == PropertyKind::kCollection) return container->Append();
  if (member_ != nullptr) return *member_;
  // A value where a key was expected: readers never do this, but the value
  // must land somewhere harmless rather than in the structure itself.
  return container->Field(std::string_view());
}

void TreeBuilder::EndValue() { member_ = nullptr; }

void TreeBuilder::Null() {
  BeginValue();
  EndValue();
}

void TreeBuilder::Clear() {
  BeginValue().Clear();
  EndValue();
}

void TreeBuilder::Bool(bool value) {
  BeginValue().SetBool(value);
  EndValue();
}

void TreeBuilder::Signed(int64_t value) {
  BeginValue().SetSigned(value);
  EndValue();
}

void TreeBuilder::Unsigned(uint64_t value) {
  BeginValue().SetUnsigned(value);
  EndValue();
}

void TreeBuilder::Double(double value) {
  BeginValue().SetDouble(value);
  EndValue();
}

void TreeBuilder::String(std::string_view text) {
  BeginValue().SetString(text);
  EndValue();
}

void TreeBuilder::StringFullLength(std::string_view text) {
  BeginValue().SetStringFullLength(text);
  EndValue();
}

void TreeBuilder::Blob(const uint8_t* data, std::size_t size) {
  BeginValue().SetBlob(data, size);
  EndValue();
}

bool TreeBuilder::StartContainer(PropertyKind kind, Existing existing) {
  if (open_.size() >= kMaxNestingDepth) return false;
  BindingProperty& target = BeginValue();
  member_ = nullptr;
  if (existing == Existing::kReplace) target.Clear();
  if (kind == PropertyKind::kCollection) {
    target.MakeCollection();
  } else {
    target.MakeStructure();
  }
  open_.push_back(&target);
  return true;
}

bool TreeBuilder::StartCollection(Existing existing) {
  return StartContainer(PropertyKind::kCollection, existing);
}

bool TreeBuilder::StartStructure(Existing existing) {
  return StartContainer(PropertyKind::kStructure, existing);
}

void TreeBuilder::EndContainer() {
  if (open_.empty()) return;
  open_.pop_back();
  member_ = nullptr;
}

void TreeBuilder::EndCollection() { EndContainer(); }

void TreeBuilder::EndStructure() { EndContainer(); }

void TreeBuilder::Key(std::string_view name) {
  if (open_.empty() || open_.back()->kind() != PropertyKind::kStructure) return;
  member_ = &open_.back()->Field(name);
}

bool TreeBuilder::ExpectsKey() const {
  return !open_.empty() && open_.back()->kind() == PropertyKind::kStructure && member_ == nullptr;
}

}  // namespace Kestrel
