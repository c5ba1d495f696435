#include "binding/core_value_conversion.h"

#include <cstring>

#include "binding/type_registry.h"
#include "host_abi/core_value.h"
#include "util/counting_allocator.h"
#include "util/format_text.h"

namespace Kestrel {
namespace {

using Client::CoreStructEntry;
using Client::CoreValue;
using Client::CoreValueKind;

constexpr char kIncompatible[] =
    "Couldn't assign value to '%1' of type object because the input is of an incompatible type "
    "'%2'.";

// Leaf forms; `out` is zeroed. A text goes out up to its first NUL. A part
// whose memory cannot be allocated stays nil (`ToCoreValue`'s promise), so
// the results of the `Client::Set...` calls are dropped where they stand.
void SetCoreText(CoreValue& out, std::string_view text) {
  (void)Client::SetOwnedString(&out, text.substr(0, text.find('\0')));
}

// An enum goes out by its enumerator's name, else as its signed number.
void SetCoreEnum(CoreValue& out, EnumValue value, const TypeRegistry* registry) {
  const EnumValueRecord* named =
      registry != nullptr ? registry->FindEnumValue(value.type, value.value) : nullptr;
  if (named == nullptr || !Client::SetOwnedString(&out, named->name)) {
    out.kind = CoreValueKind::kSigned;
    out.signed_value = value.value;
  }
}

void FillCoreValue(const BindingProperty& property, CoreValue& out, const TypeRegistry* registry) {
  std::memset(static_cast<void*>(&out), 0, sizeof(out));
  switch (property.kind()) {
    case PropertyKind::kBool:
      out.kind = CoreValueKind::kBool;
      out.bool_value = property.GetBool() ? 1 : 0;
      return;
    case PropertyKind::kSigned:
      out.kind = CoreValueKind::kSigned;
      out.signed_value = property.GetSigned();
      return;
    case PropertyKind::kUnsigned:
      out.kind = CoreValueKind::kUnsigned;
      out.unsigned_value = property.GetUnsigned();
      return;
    case PropertyKind::kFloat:
      out.kind = CoreValueKind::kFloat;
      out.float_value = property.GetDouble();
      return;
    case PropertyKind::kString:
      SetCoreText(out, property.GetString());
      return;
    case PropertyKind::kBlob: {
      static const std::vector<uint8_t> kNone;
      const std::vector<uint8_t>& bytes = property.GetBlob(kNone);
      (void)Client::SetOwnedBlob(&out, bytes.data(), static_cast<uint32_t>(bytes.size()));
      return;
    }
    case PropertyKind::kEnum:
      SetCoreEnum(out, property.GetEnum(), registry);
      return;
    case PropertyKind::kCollection: {
      const auto elements = property.Elements();
      if (!Client::SetCollection(&out, static_cast<uint32_t>(elements.size()))) return;
      for (std::size_t i = 0; i < elements.size(); ++i) {
        FillCoreValue(elements[i], out.collection.items[i], registry);
      }
      return;
    }
    case PropertyKind::kStructure: {
      if (!Client::SetStructure(&out, static_cast<uint32_t>(property.Size()))) return;
      CoreStructEntry* entries = out.structure.entries;
      std::size_t index = 0;
      property.ForEachField([&](std::string_view name, const BindingProperty& value) {
        CoreStructEntry& entry = entries[index++];
        (void)Client::SetEntryName(&entry, name);
        FillCoreValue(value, entry.value, registry);
      });
      return;
    }
    default:
      return;  // empty: nil
  }
}

// Builds a host value from the events of a native walk, value by value, into
// the same forms FillCoreValue gives the converted tree: each container's
// array has exactly the count the walk announces. A container whose array
// cannot be allocated stays nil and what would go inside it is dropped, as
// FillCoreValue drops it.
class CoreValueSink final : public NativeSink {
 public:
  CoreValueSink(CoreValue& root, const TypeRegistry* registry) : root_(root), registry_(registry) {
    std::memset(static_cast<void*>(&root_), 0, sizeof(root_));
  }

  void Bool(bool value) override {
    if (CoreValue* out = Next()) {
      out->kind = CoreValueKind::kBool;
      out->bool_value = value ? 1 : 0;
    }
  }
  void Signed(int64_t value) override {
    if (CoreValue* out = Next()) {
      out->kind = CoreValueKind::kSigned;
      out->signed_value = value;
    }
  }
  void Unsigned(uint64_t value) override {
    if (CoreValue* out = Next()) {
      out->kind = CoreValueKind::kUnsigned;
      out->unsigned_value = value;
    }
  }
  void Double(double value) override {
    if (CoreValue* out = Next()) {
      out->kind = CoreValueKind::kFloat;
      out->float_value = value;
    }
  }
  // The walk has already cut the text at its first NUL.
  void String(std::string_view text) override {
    if (CoreValue* out = Next()) (void)Client::SetOwnedString(out, text);
  }
  void Strings(const std::string* texts, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      if (CoreValue* out = Next())
        (void)Client::SetOwnedString(out, ConversionDetail::CutAtNul(texts[i]));
    }
  }
  void Blob(const uint8_t* bytes, std::size_t count) override {
    if (CoreValue* out = Next())
      (void)Client::SetOwnedBlob(out, bytes, static_cast<uint32_t>(count));
  }
  void Enum(EnumValue value) override {
    if (CoreValue* out = Next()) SetCoreEnum(*out, value, registry_);
  }
  void Property(const BindingProperty& value) override {
    if (CoreValue* out = Next()) FillCoreValue(value, *out, registry_);
  }
  void BeginCollection(std::size_t count) override {
    CoreValue* out = Next();
    if (out == nullptr || !Client::SetCollection(out, static_cast<uint32_t>(count))) {
      ++dropped_;
      return;
    }
    Push(Frame{out, 0});
  }
  void EndCollection() override { Pop(); }
  void BeginStructure(std::size_t count) override {
    CoreValue* out = Next();
    if (out == nullptr || !Client::SetStructure(out, static_cast<uint32_t>(count))) {
      ++dropped_;
      return;
    }
    Push(Frame{out, 0});
  }
  void Key(std::string_view name) override {
    if (dropped_ != 0) return;
    Frame& frame = Top();
    if (frame.next < frame.value->structure.count) {
      (void)Client::SetEntryName(&frame.value->structure.entries[frame.next], name);
    }
  }
  void EndStructure() override { Pop(); }

 private:
  // A container being filled and the index of its next element or entry.
  struct Frame {
    CoreValue* value;
    uint32_t next;
  };
  static constexpr std::size_t kInlineFrames = 8;

  Frame& Top() {
    return depth_ <= kInlineFrames ? inline_[depth_ - 1] : spill_[depth_ - 1 - kInlineFrames];
  }
  void Push(Frame frame) {
    if (depth_ < kInlineFrames) {
      inline_[depth_] = frame;
    } else if (depth_ - kInlineFrames < spill_.size()) {
      spill_[depth_ - kInlineFrames] = frame;
    } else {
      spill_.push_back(frame);
    }
    ++depth_;
  }
  void Pop() {
    if (dropped_ != 0) {
      --dropped_;
      return;
    }
    --depth_;
  }
  // Where the next value goes; nullptr while inside a dropped container.
  CoreValue* Next() {
    if (dropped_ != 0) return nullptr;
    if (depth_ == 0) return &root_;
    Frame& frame = Top();
    CoreValue& container = *frame.value;
    const uint32_t index = frame.next++;
    // More values than announced never write past the array.
    if (container.kind == CoreValueKind::kCollection) {
      return index < container.collection.count ? &container.collection.items[index] : nullptr;
    }
    return index < container.structure.count ? &container.structure.entries[index].value : nullptr;
  }

  CoreValue& root_;
  const TypeRegistry* registry_;
  std::size_t depth_ = 0;
  std::size_t dropped_ = 0;  // containers left nil around the current event
  Frame inline_[kInlineFrames];
  std::vector<Frame> spill_;
};

// Reads a host value into `out`; `depth` counts the containers around it.
// Returns false with `*message` set on the first refusal.
bool ReadCoreValue(const CoreValue& value, BindingProperty& out, std::string_view name,
                   std::size_t depth, std::string& message) {
  const uint32_t kind = static_cast<uint32_t>(value.kind);
  auto refuse = [&] {
    message = FormatText(kIncompatible, name, CoreValueKindName(kind));
    return false;
  };
  switch (value.kind) {
    case CoreValueKind::kNil:
      out.Clear();
      return true;
    case CoreValueKind::kBool:
      out.SetBool(value.bool_value != 0);
      return true;
    case CoreValueKind::kSigned:
      out.SetSigned(value.signed_value);
      return true;
    case CoreValueKind::kUnsigned:
      out.SetUnsigned(value.unsigned_value);
      return true;
    case CoreValueKind::kFloat:
      out.SetDouble(value.float_value);
      return true;
    case CoreValueKind::kBorrowedString:
    case CoreValueKind::kOwnedString:
      out.SetString(value.bytes.data);  // NUL-terminated; the length word is not used
      return true;
    case CoreValueKind::kBorrowedBlob:
    case CoreValueKind::kOwnedBlob:
      if (value.bytes.data == nullptr && value.bytes.length != 0) return refuse();
      out.SetBlob(reinterpret_cast<const uint8_t*>(value.bytes.data), value.bytes.length);
      return true;
    case CoreValueKind::kCollection: {
      const uint32_t count = value.collection.count;
      if (depth >= kMaxCoreValueDepth || (value.collection.items == nullptr && count != 0) ||
          count > BindingProperty::kMaxCollectionSize) {
        return refuse();
      }
      out.MakeCollection();
      out.Reserve(count);
      for (uint32_t i = 0; i < count; ++i) {
        if (!ReadCoreValue(value.collection.items[i], out.At(i), name, depth + 1, message)) {
          return false;
        }
      }
      return true;
    }
    case CoreValueKind::kStructure: {
      const uint32_t count = value.structure.count;
      if (depth >= kMaxCoreValueDepth || (value.structure.entries == nullptr && count != 0)) {
        return refuse();
      }
      out.MakeStructure();
      for (uint32_t i = 0; i < count; ++i) {
        const CoreStructEntry& entry = value.structure.entries[i];
        const char* field = entry.name != nullptr ? entry.name : "";
        if (!ReadCoreValue(entry.value, out.Field(field), name, depth + 1, message)) return false;
      }
      return true;
    }
    default:
      return refuse();
  }
}

}  // namespace

void ToCoreValue(const BindingProperty& property, CoreValue& out, const TypeRegistry* registry) {
  FillCoreValue(property, out, registry);
}

bool ToCoreValue(const NativeWalk& walk, CoreValue& out, const TypeRegistry* registry) {
  CoreValueSink sink(out, registry);
  if (walk(sink)) return true;
  Client::ReleaseCoreValue(&out);
  return false;
}

void ReleaseToCoreValue(CoreValue& value) {
  Client::ReleaseCoreValue(&value);
}

bool FromCoreValue(uint8_t* error_record, const CoreValue& value, BindingProperty& out,
                   std::string_view name) {
  std::string message;
  if (FromCoreValue(value, out, name, &message)) return true;
  if (error_record != nullptr) {
    std::memset(error_record, 0, kCoreErrorRecordSize);
    char* text = Client::CopyOwnedText(message);
    std::memcpy(error_record + kCoreErrorTextOffset, &text, sizeof(text));
    error_record[kCoreErrorFlagOffset] = 1;
  }
  return false;
}

bool FromCoreValue(const CoreValue& value, BindingProperty& out, std::string_view name,
                   std::string* message) {
  out.Clear();
  std::string text;
  if (ReadCoreValue(value, out, name, 0, text)) return true;
  if (message != nullptr) *message = std::move(text);
  return false;
}

const char* CoreValueKindName(uint32_t kind) {
  switch (static_cast<CoreValueKind>(kind)) {
    case CoreValueKind::kBool:
      return "bool";
    case CoreValueKind::kSigned:
      return "signed";
    case CoreValueKind::kUnsigned:
      return "unsigned";
    case CoreValueKind::kFloat:
      return "float";
    case CoreValueKind::kBorrowedString:
    case CoreValueKind::kOwnedString:
      return "string";
    case CoreValueKind::kBorrowedBlob:
    case CoreValueKind::kOwnedBlob:
      return "blob";
    case CoreValueKind::kCollection:
      return "collection";
    case CoreValueKind::kStructure:
      return "structure";
    default:
      return "";
  }
}

}  // namespace Kestrel
