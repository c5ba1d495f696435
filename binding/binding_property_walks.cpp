// The walks of `BindingProperty` over a whole tree: the release, the deep copy
// and the visiting walk. Each goes through the tree with an explicit stack (or
// queue), so a tree of any depth needs no deeper stack.
#include "binding/binding_property.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "binding/field_table.h"
#include "binding/work_stack.h"

namespace Kestrel {

using Blob = std::vector<uint8_t>;

// Releases the content of values without recursion: containers met on the way
// are detached from their values and queued.
class PropertyReleaser {
 public:
  using ElementVector = BindingProperty::ElementVector;

  static void Release(BindingProperty& value) {
    switch (value.kind_) {
      case PropertyKind::kString:
        value.store_->Release(value.payload_.string);
        break;
      case PropertyKind::kBlob:
        std::destroy_at(value.payload_.blob);
        value.store_->Free(value.payload_.blob, sizeof(Blob));
        value.store_->RemoveBlob();
        break;
      case PropertyKind::kEnum:
        value.store_->Free(value.payload_.enum_value, sizeof(EnumValue));
        break;
      case PropertyKind::kCollection:
      case PropertyKind::kStructure:
        ReleaseContainers(value);
        break;
      default:
        break;
    }
    value.kind_ = PropertyKind::kEmpty;
    value.payload_.bits = 0;
  }

  // Takes apart the whole tree of `root`, a top-level value whose store is
  // destroyed right after: only blob buffers, which live outside the store,
  // are freed one by one, and only a tree that has blobs is walked. Strings,
  // member values, slot arrays and blocks (heap blocks included) go with the
  // store, so structures are not taken apart and names not released. The
  // values of the tree are left as they are; nothing may touch them again.
  static void DropTree(BindingProperty& root) {
    if (root.store_->BlobCount() == 0) {
      root.kind_ = PropertyKind::kEmpty;
      root.payload_.bits = 0;
      return;
    }
    WorkStack<Pending, 32> work;
    const auto visit = [&work](BindingProperty& value) {
      if (value.kind_ == PropertyKind::kBlob) {
        std::destroy_at(value.payload_.blob);
      } else if (IsContainerKind(value.kind_)) {
        work.Push({value.kind_, value.payload_});
      }
    };
    visit(root);
    while (!work.Empty()) {
      const Pending pending = work.Top();
      work.Pop();
      if (pending.kind == PropertyKind::kCollection) {
        ElementVector* elements = pending.payload.collection;
        for (uint32_t i = 0; i < elements->size; ++i) visit(elements->data[i]);
      } else {
        FieldTable& fields = *pending.payload.structure;
        fields.Settle();
        for (uint32_t i = 0; i < fields.size; ++i) visit(*fields.slots[i].value);
      }
    }
    root.kind_ = PropertyKind::kEmpty;
    root.payload_.bits = 0;
  }

 private:
  struct Pending {
    PropertyKind kind;
    BindingProperty::Payload payload;
  };

  static void Detach(BindingProperty& value, WorkStack<Pending, 32>& work) {
    if (IsContainerKind(value.kind_)) {
      work.Push({value.kind_, value.payload_});
      value.kind_ = PropertyKind::kEmpty;
      value.payload_.bits = 0;
    } else {
      Release(value);
    }
  }

  static void ReleaseContainers(BindingProperty& root) {
    PropertyStore* store = root.store_;
    WorkStack<Pending, 32> work;
    Detach(root, work);
    while (!work.Empty()) {
      const Pending pending = work.Top();
      work.Pop();
      if (pending.kind == PropertyKind::kCollection) {
        ElementVector* elements = pending.payload.collection;
        for (uint32_t i = 0; i < elements->size; ++i) Detach(elements->data[i], work);
        store->Free(elements->data, elements->capacity * sizeof(BindingProperty));
        store->Free(elements, sizeof(ElementVector));
      } else {
        FieldTable* fields = pending.payload.structure;
        fields->Settle();
        for (uint32_t i = 0; i < fields->size; ++i) {
          const BindingProperty::FieldSlot& slot = fields->slots[i];
          Detach(*slot.value, work);  // leaves the value empty: nothing to destroy
          store->Free(slot.value, sizeof(BindingProperty));
          store->Release(slot.name);
        }
        store->Free(fields->slots, fields->capacity * sizeof(FieldTable::Slot));
        store->Free(fields, sizeof(FieldTable));
      }
    }
  }
};

BindingProperty::~BindingProperty() {
  if (owns_store_ != 0 && store_ != nullptr && IsContainerKind(kind_)) {
    // The store goes too: no need to give each part back to it first.
    PropertyReleaser::DropTree(*this);
  } else {
    Clear();
  }
  if (owns_store_ != 0) delete store_;
}

void BindingProperty::ReleaseParts() {
  PropertyReleaser::Release(*this);
}

namespace {

// Copies a value that is not a container; containers are handled by CopyInto.
void CopyLeaf(const BindingProperty& from, BindingProperty& to) {
  switch (from.kind()) {
    case PropertyKind::kEmpty:
      to.Clear();
      break;
    case PropertyKind::kBool:
      to.SetBool(from.GetBool());
      break;
    case PropertyKind::kSigned:
      to.SetSigned(from.GetSigned());
      break;
    case PropertyKind::kUnsigned:
      to.SetUnsigned(from.GetUnsigned());
      break;
    case PropertyKind::kFloat:
      to.SetDouble(from.GetDouble());
      break;
    case PropertyKind::kString:
      to.SetStringFullLength(from.GetString());
      break;
    case PropertyKind::kBlob: {
      static const std::vector<uint8_t> kNoBytes;
      const std::vector<uint8_t>& bytes = from.GetBlob(kNoBytes);
      to.SetBlob(bytes.data(), bytes.size());
      break;
    }
    case PropertyKind::kEnum:
      to.SetEnum(from.GetEnum());
      break;
    default:
      to.Clear();
      break;
  }
}

}  // namespace

void BindingProperty::CopyInto(const BindingProperty& source) {
  // Source and destination are in different trees here (see CopyFrom). Pending
  // pairs always point at containers whose element vectors no longer grow.
  struct Pair {
    const BindingProperty* from;
    BindingProperty* to;
  };
  WorkStack<Pair, 32> work;
  work.Push({&source, this});
  while (!work.Empty()) {
    const Pair pair = work.Top();
    work.Pop();
    const BindingProperty& from = *pair.from;
    BindingProperty& to = *pair.to;
    if (!IsContainerKind(from.kind_)) {
      CopyLeaf(from, to);
      continue;
    }
    to.Clear();
    if (from.kind_ == PropertyKind::kCollection) {
      to.MakeCollection();
      const std::span<const BindingProperty> elements = from.Elements();
      to.Reserve(elements.size());
      for (const BindingProperty& element : elements) {
        BindingProperty& copy = to.Append();
        if (IsContainerKind(element.kind_)) {
          work.Push({&element, &copy});
        } else {
          CopyLeaf(element, copy);
        }
      }
    } else {
      to.MakeStructure();
      FieldTable& fields = *from.payload_.structure;
      fields.Settle();
      for (uint32_t i = 0; i < fields.size; ++i) {
        const BindingProperty& value = *fields.slots[i].value;
        // Fields arrive in order, so each goes at the end with one comparison.
        BindingProperty& copy = to.InsertField(fields.slots[i].name->view());
        if (IsContainerKind(value.kind_)) {
          work.Push({&value, &copy});
        } else {
          CopyLeaf(value, copy);
        }
      }
    }
  }
}

void BindingProperty::Accept(PropertyVisitor& visitor) const {
  // One frame per open container: its next item and where its items end.
  struct Frame {
    const BindingProperty* elements;  // collections: the element array
    uint32_t index;
    uint32_t size;
    const FieldSlot* field;  // structures: the next member
    const FieldSlot* end;
    bool collection;
  };
  WorkStack<Frame, 32> frames;
  // Reports a leaf; returns false, reporting nothing, for a container.
  auto visit_leaf = [&visitor](const BindingProperty& value) {
    switch (value.kind_) {
      case PropertyKind::kEmpty:
        visitor.VisitEmpty();
        return true;
      case PropertyKind::kBool:
        visitor.VisitBool(value.payload_.boolean);
        return true;
      case PropertyKind::kSigned:
        visitor.VisitSigned(value.payload_.signed_value);
        return true;
      case PropertyKind::kUnsigned:
        visitor.VisitUnsigned(value.payload_.unsigned_value);
        return true;
      case PropertyKind::kFloat:
        visitor.VisitFloat(value.payload_.float_value);
        return true;
      case PropertyKind::kString:
        visitor.VisitString(value.payload_.string->view());
        return true;
      case PropertyKind::kBlob:
        visitor.VisitBlob(*value.payload_.blob);
        return true;
      case PropertyKind::kEnum:
        visitor.VisitEnum(*value.payload_.enum_value);
        return true;
      case PropertyKind::kCollection:
      case PropertyKind::kStructure:
        return false;
    }
    return true;
  };
  // Opens a container: reports its beginning and pushes its frame.
  auto open = [&visitor, &frames](const BindingProperty& value) {
    if (value.kind_ == PropertyKind::kCollection) {
      const ElementVector& elements = *value.payload_.collection;
      visitor.BeginCollection(elements.size);
      frames.Push({elements.data, 0, elements.size, {}, {}, true});
    } else {
      FieldTable& fields = *value.payload_.structure;
      fields.Settle();
      visitor.BeginStructure(fields.size);
      frames.Push({nullptr, 0, 0, fields.slots, fields.slots + fields.size, false});
    }
  };
  if (visit_leaf(*this)) return;
  open(*this);
  // Each round runs through the leaves of the top frame until it meets a
  // container, which it opens, or the end of the frame, which it closes
  // together with the item of the frame below that held it.
  while (!frames.Empty()) {
    Frame& frame = frames.Top();
    bool opened = false;
    if (frame.collection) {
      for (; frame.index < frame.size; ++frame.index) {
        visitor.BeginElement(frame.index);
        const BindingProperty& element = frame.elements[frame.index];
        if (!visit_leaf(element)) {
          open(element);  // `frame` may move: leave it at once
          opened = true;
          break;
        }
        visitor.EndElement(frame.index);
      }
      if (opened) continue;
      visitor.EndCollection();
    } else {
      for (; frame.field != frame.end; ++frame.field) {
        visitor.BeginField(frame.field->name->view());
        const BindingProperty& value = *frame.field->value;
        if (!visit_leaf(value)) {
          open(value);
          opened = true;
          break;
        }
        visitor.EndField(frame.field->name->view());
      }
      if (opened) continue;
      visitor.EndStructure();
    }
    frames.Pop();
    if (frames.Empty()) break;
    // The container just closed was the current item of the frame below.
    Frame& holder = frames.Top();
    if (holder.collection) {
      visitor.EndElement(holder.index++);
    } else {
      visitor.EndField(holder.field->name->view());
      ++holder.field;
    }
  }
}

}  // namespace Kestrel
