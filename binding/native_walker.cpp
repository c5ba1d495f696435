#include "binding/native_walker.h"

#include <algorithm>
#include <cstring>

#include "binding/field_adapter.h"
#include "binding/type_registry.h"

namespace Kestrel {
namespace {

using ConversionDetail::CutAtNul;

template <class T>
T LoadNative(const void* native) {
  T value;
  std::memcpy(&value, native, sizeof(T));
  return value;
}

// Whether `field` holds a plain value (bool, number, text, bytes, an enum with
// its record) that is walked without its adapter and cannot fail.
bool IsLeafField(const FieldRecord& field) {
  if (field.use_adapter) return false;
  switch (field.type.kind) {
    case NativeKind::kBool:
    case NativeKind::kInt8:
    case NativeKind::kInt16:
    case NativeKind::kInt32:
    case NativeKind::kInt64:
    case NativeKind::kUInt8:
    case NativeKind::kUInt16:
    case NativeKind::kUInt32:
    case NativeKind::kUInt64:
    case NativeKind::kFloat:
    case NativeKind::kDouble:
    case NativeKind::kString:
    case NativeKind::kBlob:
      return true;
    case NativeKind::kEnum:
      return field.type.element_type != nullptr;
    default:
      return false;
  }
}

// Whether `field` is walked by its adapter: vectors, maps, callbacks,
// use-adapter fields and enums without their record.
bool WalksByAdapter(const FieldRecord& field) {
  const NativeKind kind = field.type.kind;
  return field.use_adapter || kind == NativeKind::kVector || kind == NativeKind::kCallback ||
         kind == NativeKind::kMap ||
         (kind == NativeKind::kEnum && field.type.element_type == nullptr);
}

// Hands the plain field (see IsLeafField) stored at `native` to `visit` as
// bool, int64_t, uint64_t, double, std::string_view (cut at its first NUL),
// const std::vector<uint8_t>& or EnumValue.
template <class Visit>
inline void ReadLeaf(const void* native, const FieldRecord& field, Visit&& visit) {
  switch (field.type.kind) {
    case NativeKind::kBool:
      visit(LoadNative<uint8_t>(native) != 0);
      return;
    case NativeKind::kInt8:
      visit(int64_t{LoadNative<int8_t>(native)});
      return;
    case NativeKind::kInt16:
      visit(int64_t{LoadNative<int16_t>(native)});
      return;
    case NativeKind::kInt32:
      visit(int64_t{LoadNative<int32_t>(native)});
      return;
    case NativeKind::kInt64:
      visit(LoadNative<int64_t>(native));
      return;
    case NativeKind::kUInt8:
      visit(uint64_t{LoadNative<uint8_t>(native)});
      return;
    case NativeKind::kUInt16:
      visit(uint64_t{LoadNative<uint16_t>(native)});
      return;
    case NativeKind::kUInt32:
      visit(uint64_t{LoadNative<uint32_t>(native)});
      return;
    case NativeKind::kUInt64:
      visit(LoadNative<uint64_t>(native));
      return;
    case NativeKind::kFloat:
      visit(double{LoadNative<float>(native)});
      return;
    case NativeKind::kDouble:
      visit(LoadNative<double>(native));
      return;
    case NativeKind::kString:
      visit(CutAtNul(*static_cast<const std::string*>(native)));
      return;
    case NativeKind::kBlob:
      visit(*static_cast<const std::vector<uint8_t>*>(native));
      return;
    case NativeKind::kEnum: {
      const TypeRecord* enum_type = field.type.element_type;
      visit(EnumValue{ReadEnumNumber(native, enum_type->native_size()), enum_type->identity()});
      return;
    }
    default:
      return;
  }
}

// Hands the plain field (see IsLeafField) stored at `native` to `sink`.
// Inline, with ReadLeaf and CountMembers: the plain fields of a struct are
// the hot path of every walk.
inline void WalkLeaf(NativeSink& sink, const void* native, const FieldRecord& field) {
  struct Emitter {
    NativeSink& sink;
    void operator()(bool value) const { sink.Bool(value); }
    void operator()(int64_t value) const { sink.Signed(value); }
    void operator()(uint64_t value) const { sink.Unsigned(value); }
    void operator()(double value) const { sink.Double(value); }
    void operator()(std::string_view text) const { sink.String(text); }
    void operator()(const std::vector<uint8_t>& bytes) const {
      sink.Blob(bytes.data(), bytes.size());
    }
    void operator()(EnumValue value) const { sink.Enum(value); }
  };
  ReadLeaf(native, field, Emitter{sink});
}

// Whether the plain field (see IsLeafField) stored at `native` converts to a
// zero value (`BindingProperty::IsZero`), read off the native value.
bool LeafIsZero(const void* native, const FieldRecord& field) {
  struct ZeroTest {
    bool operator()(bool value) const { return !value; }
    bool operator()(int64_t value) const { return value == 0; }
    bool operator()(uint64_t value) const { return value == 0; }
    bool operator()(double value) const { return value == 0; }  // NaN is not zero
    bool operator()(std::string_view text) const { return text.empty(); }
    bool operator()(const std::vector<uint8_t>& bytes) const { return bytes.empty(); }
    bool operator()(EnumValue value) const { return value.value == 0; }
  };
  bool zero = true;
  ReadLeaf(native, field, [&zero](const auto& value) { zero = ZeroTest{}(value); });
  return zero;
}

// What a walk does with one field of a struct.
enum class Member {
  kWritten,
  kOmitted,  // flagged omit-if-zero and zero
  kFails,    // the field's value cannot be converted
};

Member MemberOf(const void* storage, const FieldRecord& field, TypeRegistry& registry);

// The fields of a struct whose names are not all distinct (or hold NUL) that
// its structure keeps, in name order: for each name cut at its first NUL, the
// last field in registration order that is written. The fields it overwrites
// are walked into the discarding sink, so that their failure still fails the
// struct. Returns false when any field fails.
bool PlanSharedNames(const void* native, const TypeRecord& type, TypeRegistry& registry,
                     std::vector<uint32_t>& members) {
  const std::vector<FieldRecord>& fields = type.fields();
  const std::vector<uint32_t>& order = type.fields_in_name_order();
  const auto* base = static_cast<const unsigned char*>(native);
  members.clear();
  // Cutting at NUL keeps the name order, so fields of one name are adjacent.
  for (std::size_t first = 0, end = 0; first < order.size(); first = end) {
    const std::string_view name = CutAtNul(fields[order[first]].name);
    end = first + 1;
    while (end < order.size() && CutAtNul(fields[order[end]].name) == name) ++end;
    std::vector<uint32_t> written;
    for (std::size_t i = first; i < end; ++i) {
      const FieldRecord& field = fields[order[i]];
      const Member member = MemberOf(base + field.offset, field, registry);
      if (member == Member::kFails) return false;
      if (member == Member::kWritten) written.push_back(order[i]);
    }
    if (written.empty()) continue;
    const uint32_t winner = *std::max_element(written.begin(), written.end());
    for (const uint32_t index : written) {
      const FieldRecord& field = fields[index];
      if (index != winner &&
          !WalkField(ConversionDetail::DiscardingSink(), base + field.offset, field, registry)) {
        return false;
      }
    }
    members.push_back(winner);
  }
  return true;
}

// Counts the members of a struct whose names are not all distinct (see
// PlanSharedNames). False when a field fails.
bool CountSharedNames(const void* native, const TypeRecord& type, TypeRegistry& registry,
                      std::size_t& count) {
  std::vector<uint32_t> members;
  if (!PlanSharedNames(native, type, registry, members)) return false;
  count = members.size();
  return true;
}

// Counts the members the walk of the struct at `native` writes, stopping at
// `enough`. False when the struct cannot be walked (see `WalkStruct`).
inline bool CountMembers(const void* native, const TypeRecord* type, TypeRegistry& registry,
                         std::size_t enough, std::size_t& count) {
  count = 0;
  if (type == nullptr) return false;
  if (!type->has_distinct_field_names()) return CountSharedNames(native, *type, registry, count);
  const auto* base = static_cast<const unsigned char*>(native);
  for (const FieldRecord& field : type->fields()) {
    if (count == enough) return true;
    // Without the omit-if-zero flag a field is always written (as in MemberOf),
    // tested here to spare the call on the common path.
    if ((field.flags & kFieldOmitIfZero) == 0) {
      ++count;
      continue;
    }
    switch (MemberOf(base + field.offset, field, registry)) {
      case Member::kWritten:
        ++count;
        break;
      case Member::kOmitted:
        break;
      case Member::kFails:
        return false;
    }
  }
  return true;
}

// Decides by the zero test of the converted value, read off the native value
// wherever that is possible.
Member MemberOf(const void* storage, const FieldRecord& field, TypeRegistry& registry) {
  if ((field.flags & kFieldOmitIfZero) == 0) return Member::kWritten;
  bool zero = true;  // a field with no native value to read converts to empty
  if (IsLeafField(field)) {
    zero = LeafIsZero(storage, field);
  } else if (WalksByAdapter(field)) {
    zero = field.adapter == nullptr ||
           field.adapter->IsZero(storage, field.type.element_type, registry);
  } else if (field.type.kind == NativeKind::kObject) {
    zero = static_cast<const BindingProperty*>(storage)->IsZero();
  } else if (field.type.kind == NativeKind::kStruct) {
    // A structure is zero when it has no member.
    std::size_t members = 0;
    if (!CountMembers(storage, field.type.element_type, registry, 1, members)) {
      return Member::kFails;
    }
    zero = members == 0;
  }
  return zero ? Member::kOmitted : Member::kWritten;
}

// The walk of a struct whose names are not all distinct (see PlanSharedNames).
bool WalkSharedNames(NativeSink& sink, const void* native, const TypeRecord& type,
                     TypeRegistry& registry) {
  std::vector<uint32_t> members;
  if (!PlanSharedNames(native, type, registry, members)) return false;
  const auto* base = static_cast<const unsigned char*>(native);
  sink.BeginStructure(members.size());
  for (const uint32_t index : members) {
    const FieldRecord& field = type.fields()[index];
    sink.Key(CutAtNul(field.name));
    if (!WalkField(sink, base + field.offset, field, registry)) return false;
  }
  sink.EndStructure();
  return true;
}

// Records whether the first value walked into it converts to a zero value
// (`BindingProperty::IsZero`); what follows is ignored.
class ZeroTestSink final : public NativeSink {
 public:
  bool zero() const { return zero_; }

  void Bool(bool value) override { Decide(!value); }
  void Signed(int64_t value) override { Decide(value == 0); }
  void Unsigned(uint64_t value) override { Decide(value == 0); }
  void Double(double value) override { Decide(value == 0); }
  void String(std::string_view text) override { Decide(text.empty()); }
  void Blob(const uint8_t* /*bytes*/, std::size_t count) override { Decide(count == 0); }
  void Enum(EnumValue value) override { Decide(value.value == 0); }
  void BeginCollection(std::size_t count) override { Decide(count == 0); }
  void EndCollection() override {}
  void BeginStructure(std::size_t count) override { Decide(count == 0); }
  void Key(std::string_view /*name*/) override {}
  void EndStructure() override {}
  void Property(const BindingProperty& value) override { Decide(value.IsZero()); }

 private:
  void Decide(bool zero) {
    if (decided_) return;
    decided_ = true;
    zero_ = zero;
  }
  bool decided_ = false;
  bool zero_ = true;  // no value at all: empty
};

class NullSink final : public NativeSink {
 public:
  void Bool(bool /*value*/) override {}
  void Signed(int64_t /*value*/) override {}
  void Unsigned(uint64_t /*value*/) override {}
  void Double(double /*value*/) override {}
  void String(std::string_view /*text*/) override {}
  void Blob(const uint8_t* /*bytes*/, std::size_t /*count*/) override {}
  void Enum(EnumValue /*value*/) override {}
  void BeginCollection(std::size_t /*count*/) override {}
  void EndCollection() override {}
  void BeginStructure(std::size_t /*count*/) override {}
  void Key(std::string_view /*name*/) override {}
  void EndStructure() override {}
  void Property(const BindingProperty& /*value*/) override {}
};

}  // namespace

int32_t ReadEnumNumber(const void* native, uint32_t size) {
  switch (size) {
    case 1:
      return LoadNative<int8_t>(native);
    case 2:
      return LoadNative<int16_t>(native);
    case 4:
      return LoadNative<int32_t>(native);
    case 8:
      return static_cast<int32_t>(static_cast<uint32_t>(LoadNative<uint64_t>(native)));
    default:
      return 0;
  }
}

void NativeSink::Strings(const std::string* texts, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) String(CutAtNul(texts[i]));
}

NativeSink& ConversionDetail::DiscardingSink() {
  static NullSink sink;  // stateless: shared by every thread
  return sink;
}

bool WalkStruct(NativeSink& sink, const void* native, const TypeRecord* type,
                TypeRegistry& registry) {
  if (type == nullptr) return false;
  if (!type->has_distinct_field_names()) return WalkSharedNames(sink, native, *type, registry);
  // The members are counted first, so that a sink allocates for exactly those.
  std::size_t count = 0;
  if (!CountMembers(native, type, registry, type->fields().size(), count)) return false;
  const std::vector<FieldRecord>& fields = type->fields();
  const auto* base = static_cast<const unsigned char*>(native);
  sink.BeginStructure(count);
  for (const uint32_t index : type->fields_in_name_order()) {
    const FieldRecord& field = fields[index];
    const void* storage = base + field.offset;
    if ((field.flags & kFieldOmitIfZero) != 0) {
      const Member member = MemberOf(storage, field, registry);
      if (member == Member::kFails) return false;
      if (member == Member::kOmitted) continue;
    }
    sink.Key(field.name);
    if (IsLeafField(field)) {
      WalkLeaf(sink, storage, field);
    } else if (!WalkField(sink, storage, field, registry)) {
      return false;
    }
  }
  sink.EndStructure();
  return true;
}

bool WalkField(NativeSink& sink, const void* native, const FieldRecord& field,
               TypeRegistry& registry) {
  if (IsLeafField(field)) {
    WalkLeaf(sink, native, field);
    return true;
  }
  if (WalksByAdapter(field)) {
    if (field.adapter == nullptr) {
      sink.Property(BindingProperty::EmptyValue());
      return true;
    }
    return field.adapter->Walk(sink, native, field.type.element_type, registry);
  }
  switch (field.type.kind) {
    case NativeKind::kObject:
      sink.Property(*static_cast<const BindingProperty*>(native));
      return true;
    case NativeKind::kStruct:
      return WalkStruct(sink, native, field.type.element_type, registry);
    default:
      // No native value to read: the value is empty.
      sink.Property(BindingProperty::EmptyValue());
      return true;
  }
}

bool FieldAdapter::IsZero(const void* native, const TypeRecord* element_type,
                          TypeRegistry& registry) const {
  ZeroTestSink sink;
  return Walk(sink, native, element_type, registry) && sink.zero();
}

}  // namespace Kestrel
