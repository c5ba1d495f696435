// `PlainTreeBuilder`: the tree builder of the differential fuzz targets. It
// offers the interface of `TreeBuilder` (formats/tree_builder.h) to the
// readers built over it (plain_readers.h), and builds the tree the plain way:
// every key is a `Field(name)` lookup-or-insert into a structure kept in name
// order at all times. It keeps no name memo, gathers nothing and reuses no
// arrival orders, so that the trees of the ordinary readers can be checked
// against it.
//
// Owns its stack of open containers; the root is the caller's and must
// outlive the builder. One thread at a time.
#ifndef VYN_FUZZ_PLAIN_TREE_BUILDER_H_
#define VYN_FUZZ_PLAIN_TREE_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/binding_property.h"

namespace Kestrel::Fuzz {

class PlainTreeBuilder {
 public:
  // As `TreeBuilder::Existing`.
  enum class Existing : uint8_t { kKeep, kReplace };

  // Builds into `root`, not owned.
  explicit PlainTreeBuilder(BindingProperty& root) : root_(root) {}
  PlainTreeBuilder(const PlainTreeBuilder&) = delete;
  PlainTreeBuilder& operator=(const PlainTreeBuilder&) = delete;

  // Scalars fill the current target, as the `TreeBuilder` calls of the same
  // names do; `Null` leaves it as it is.
  void Null();
  void Clear();
  void Bool(bool value);
  void Signed(int64_t value);
  void Unsigned(uint64_t value);
  void Double(double value);
  void String(std::string_view text);
  void StringFullLength(std::string_view text);
  void Blob(const uint8_t* data, std::size_t size);

  // Open a container in the current target; false, changing nothing, when
  // `kMaxNestingDepth` containers are open. Throw as `BindingProperty`'s
  // reservations do for a `room` above their limit.
  [[nodiscard]] bool StartCollection(Existing existing = Existing::kKeep, std::size_t room = 0);
  [[nodiscard]] bool StartStructure(Existing existing = Existing::kKeep, std::size_t room = 0);
  // Close the innermost open container; ignored when none is open.
  void EndCollection() { End(); }
  void EndStructure() { End(); }
  void End();

  // Select the member `name` (cut at its first NUL) of the innermost open
  // structure; ignored when that is not a structure.
  void Key(std::string_view name);
  void KeyWithoutNul(std::string_view name) { Key(name); }

  // The current target (a new element inside a collection); valid until the
  // next call. `EndValue` finishes it.
  BindingProperty& BeginValue();
  void EndValue() { member_ = nullptr; }

  std::size_t depth() const { return open_.size(); }
  bool ExpectsKey() const;
  // The innermost open container, or nullptr.
  BindingProperty* innermost() const { return open_.empty() ? nullptr : open_.back(); }
  // Nothing to do: a plain structure is in name order at every step.
  void Settle() {}
  BindingProperty& root() const { return root_; }
  bool root_taken() const { return root_taken_; }

 private:
  bool StartContainer(PropertyKind kind, Existing existing, std::size_t room);

  BindingProperty& root_;
  std::vector<BindingProperty*> open_;
  BindingProperty* member_ = nullptr;
  bool root_taken_ = false;
};

}  // namespace Kestrel::Fuzz

#endif  // VYN_FUZZ_PLAIN_TREE_BUILDER_H_
