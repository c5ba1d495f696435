#include "fuzz/plain_tree_builder.h"

#include "formats/tree_builder.h"

namespace Kestrel::Fuzz {

void PlainTreeBuilder::Null() {
  BeginValue();
  EndValue();
}

void PlainTreeBuilder::Clear() {
  BeginValue().Clear();
  EndValue();
}

void PlainTreeBuilder::Bool(bool value) {
  BeginValue().SetBool(value);
  EndValue();
}

void PlainTreeBuilder::Signed(int64_t value) {
  BeginValue().SetSigned(value);
  EndValue();
}

void PlainTreeBuilder::Unsigned(uint64_t value) {
  BeginValue().SetUnsigned(value);
  EndValue();
}

void PlainTreeBuilder::Double(double value) {
  BeginValue().SetDouble(value);
  EndValue();
}

void PlainTreeBuilder::String(std::string_view text) {
  BeginValue().SetString(text);
  EndValue();
}

void PlainTreeBuilder::StringFullLength(std::string_view text) {
  BeginValue().SetStringFullLength(text);
  EndValue();
}

void PlainTreeBuilder::Blob(const uint8_t* data, std::size_t size) {
  BeginValue().SetBlob(data, size);
  EndValue();
}

bool PlainTreeBuilder::StartCollection(Existing existing, std::size_t room) {
  return StartContainer(PropertyKind::kCollection, existing, room);
}

bool PlainTreeBuilder::StartStructure(Existing existing, std::size_t room) {
  return StartContainer(PropertyKind::kStructure, existing, room);
}

bool PlainTreeBuilder::StartContainer(PropertyKind kind, Existing existing, std::size_t room) {
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

void PlainTreeBuilder::End() {
  if (open_.empty()) return;
  open_.pop_back();
  member_ = nullptr;
}

void PlainTreeBuilder::Key(std::string_view name) {
  if (open_.empty() || open_.back()->kind() != PropertyKind::kStructure) return;
  member_ = &open_.back()->Field(name);
}

BindingProperty& PlainTreeBuilder::BeginValue() {
  if (open_.empty()) {
    root_taken_ = true;
    return root_;
  }
  BindingProperty& container = *open_.back();
  if (container.kind() == PropertyKind::kCollection) return container.Append();
  if (member_ != nullptr) return *member_;
  // A value where a key was expected goes to the member with the empty name.
  return container.Field(std::string_view());
}

bool PlainTreeBuilder::ExpectsKey() const {
  return !open_.empty() && open_.back()->kind() == PropertyKind::kStructure && member_ == nullptr;
}

}  // namespace Kestrel::Fuzz
