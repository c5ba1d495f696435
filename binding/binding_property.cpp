#include "binding/binding_property.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "binding/field_table.h"
#include "binding/work_stack.h"

namespace Kestrel {

namespace {

constexpr const char* kKindNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                      "string", "blob", "enum",   "collection", "structure"};
static_assert(std::size(kKindNames) == kPropertyKindCount);

using Blob = std::vector<uint8_t>;

// Texts given as NUL-terminated or owned strings are kept up to their first NUL.
std::string_view CutAtNul(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return nul == std::string_view::npos ? text : text.substr(0, nul);
}

std::string_view ViewOf(const char* text) {
  return text == nullptr ? std::string_view() : std::string_view(text);
}

}  // namespace

const char* PropertyKindName(PropertyKind kind) {
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(kKindNames) ? kKindNames[index] : "";
}

// Both delegate to the default constructor: once it has run, a copy that
// throws halfway runs the destructor, which frees what was built.
BindingProperty::BindingProperty(const BindingProperty& other) : BindingProperty() {
  CopyInto(other);
}

BindingProperty::BindingProperty(BindingProperty&& other) : BindingProperty() {
  MoveFrom(other);
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  CopyFrom(other);
  return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) {
  MoveFrom(other);
  return *this;
}

const BindingProperty& BindingProperty::EmptyValue() {
  static const BindingProperty empty;
  return empty;
}

PropertyStore* BindingProperty::CreateStore() {
  store_ = new PropertyStore();
  return store_;
}

void BindingProperty::SetInternedString(std::string_view text) {
  // Intern before releasing: `text` may be this value's own string.
  const PooledString* entry = EnsureStore()->Intern(text);
  Clear();
  kind_ = PropertyKind::kString;
  payload_.string = entry;
}

void BindingProperty::SetString(const char* text) {
  SetInternedString(ViewOf(text));
}

void BindingProperty::SetString(const std::string& text) {
  SetInternedString(CutAtNul(text));
}

void BindingProperty::SetString(std::string_view text) {
  SetInternedString(CutAtNul(text));
}

void BindingProperty::SetStringFullLength(std::string_view text) {
  SetInternedString(text);
}

void BindingProperty::SetBlob(std::vector<uint8_t>&& bytes) {
  PropertyStore* store = EnsureStore();
  Blob* blob = new (store->Allocate(sizeof(Blob))) Blob(std::move(bytes));
  bytes.clear();
  Clear();
  store->AddBlob();
  kind_ = PropertyKind::kBlob;
  payload_.blob = blob;
}

void BindingProperty::SetBlob(const uint8_t* data, std::size_t size) {
  // Copy first: `data` may be this value's own blob.
  SetBlob(size == 0 ? Blob() : Blob(data, data + size));
}

void BindingProperty::SetEnum(EnumValue value) {
  auto* payload = new (EnsureStore()->Allocate(sizeof(EnumValue))) EnumValue(value);
  Clear();
  kind_ = PropertyKind::kEnum;
  payload_.enum_value = payload;
}

void BindingProperty::MakeCollection() {
  if (kind_ != PropertyKind::kCollection) MakeCollection(0);
}

void BindingProperty::MakeCollection(std::size_t room) {
  if (kind_ == PropertyKind::kCollection) {
    if (room != 0) Reserve(room);
    return;
  }
  if (room > kMaxCollectionSize) throw std::length_error("BindingProperty collection too long");
  PropertyStore* store = EnsureStore();
  BindingProperty* data = nullptr;
  if (room != 0)
    data = static_cast<BindingProperty*>(store->Allocate(room * sizeof(BindingProperty)));
  void* record;
  try {
    record = store->Allocate(sizeof(ElementVector));
  } catch (...) {
    store->Free(data, room * sizeof(BindingProperty));
    throw;
  }
  auto* elements = new (record) ElementVector{data, 0, static_cast<uint32_t>(room)};
  Clear();
  kind_ = PropertyKind::kCollection;
  payload_.collection = elements;
}

void BindingProperty::MakeStructure() {
  if (kind_ == PropertyKind::kStructure) return;
  PropertyStore* store = EnsureStore();
  auto* fields = new (store->Allocate(sizeof(FieldTable))) FieldTable{nullptr, 0, 0, 0};
  Clear();
  kind_ = PropertyKind::kStructure;
  payload_.structure = fields;
}

void BindingProperty::GrowCollection(std::size_t capacity) {
  ElementVector* elements = payload_.collection;
  if (capacity <= elements->capacity) return;
  if (capacity > kMaxCollectionSize) throw std::length_error("BindingProperty collection too long");
  auto* data = static_cast<BindingProperty*>(store_->Allocate(capacity * sizeof(BindingProperty)));
  // Values hold no pointers to themselves, so elements are relocated bytewise.
  if (elements->size != 0) {
    std::memcpy(static_cast<void*>(data), static_cast<const void*>(elements->data),
                elements->size * sizeof(BindingProperty));
  }
  if (elements->data != nullptr) {
    store_->Free(elements->data, elements->capacity * sizeof(BindingProperty));
  }
  elements->data = data;
  elements->capacity = static_cast<uint32_t>(capacity);
}

void BindingProperty::Reserve(std::size_t count) {
  if (kind_ != PropertyKind::kCollection) return;
  if (count > kMaxCollectionSize) throw std::length_error("BindingProperty collection too long");
  GrowCollection(count);
}

void BindingProperty::ReserveFields(std::size_t count) {
  if (kind_ != PropertyKind::kStructure || count == 0) return;
  if (count > kMaxCollectionSize) throw std::length_error("BindingProperty structure too large");
  // The slot array is taken at the size asked for once, before the first
  // member; later growth is the table's own.
  FieldTable& fields = *payload_.structure;
  if (fields.capacity != 0) return;
  fields.slots = static_cast<FieldTable::Slot*>(store_->Allocate(count * sizeof(FieldTable::Slot)));
  fields.capacity = static_cast<uint32_t>(count);
}

BindingProperty& BindingProperty::At(std::size_t index) {
  if (index >= kMaxCollectionSize) throw std::length_error("BindingProperty collection too long");
  MakeCollection();
  ElementVector* elements = payload_.collection;
  if (index < elements->size) return elements->data[index];
  if (index >= elements->capacity) {
    // A new collection starts with room for two: pairs (coordinates, ranges)
    // are common and then take one block instead of growing from one.
    const std::size_t doubled =
        elements->capacity == 0 ? kFirstCollectionCapacity : std::size_t{elements->capacity} * 2;
    std::size_t capacity = index + 1 > doubled ? index + 1 : doubled;
    if (capacity > kMaxCollectionSize) capacity = kMaxCollectionSize;
    GrowCollection(capacity);
  }
  for (std::size_t i = elements->size; i <= index; ++i) {
    new (&elements->data[i]) BindingProperty();
    elements->data[i].MakeChildOf(store_);
  }
  elements->size = static_cast<uint32_t>(index + 1);
  return elements->data[index];
}

BindingProperty& BindingProperty::AppendSlow() {
  MakeCollection();
  return At(payload_.collection->size);
}

BindingProperty& BindingProperty::InsertField(std::string_view name) {
  if (kind_ == PropertyKind::kStructure) {
    const FieldTable::Position position = payload_.structure->Locate(name);
    if (position.found != nullptr) return *position.found;
    return AddField(position.index, position.in_tail, store_->Intern(name));
  }
  // Intern before `MakeStructure` releases the old content, which may hold `name`.
  const PooledString* entry = EnsureStore()->Intern(name);
  try {
    MakeStructure();
  } catch (...) {
    store_->Release(entry);
    throw;
  }
  return AddField(0, false, entry);
}

// Inlined into every caller: making a member is the hot path of every reader.
[[gnu::always_inline]] inline BindingProperty* BindingProperty::NewMemberValue(FieldTable& fields) {
  fields.MakeRoom(*store_);
  auto* value = new (store_->Allocate(sizeof(BindingProperty))) BindingProperty();
  value->MakeChildOf(store_);
  return value;
}

// Inlined into both callers: the member append is the hot path of every reader.
[[gnu::always_inline]] inline BindingProperty& BindingProperty::AppendField(
    const PooledString* name) {
  FieldTable& fields = *payload_.structure;
  store_->Retain(name);
  try {
    BindingProperty* value = NewMemberValue(fields);
    fields.slots[fields.size++] = {name, value};
    return *value;
  } catch (...) {
    store_->Release(name);
    throw;
  }
}

BindingProperty* BindingProperty::AppendFieldOfName(const PooledString* name,
                                                    const PooledString** below) {
  if (kind_ != PropertyKind::kStructure) return nullptr;
  FieldTable& fields = *payload_.structure;
  if (fields.size == 0) {
    if (fields.pending != 0) return nullptr;
  } else {
    // Documents that repeat one shape repeat its pairs of neighbouring names.
    const PooledString* last = fields.slots[fields.size - 1].name;
    if (last != *below && !NameOrder::Less(last->view(), name->view())) return nullptr;
    *below = last;
  }
  return &AppendField(name);
}

BindingProperty& BindingProperty::FieldOfName(const PooledString* name,
                                              const PooledString** below) {
  uint32_t index = 0;
  bool in_tail = false;
  if (kind_ == PropertyKind::kStructure) {
    if (BindingProperty* appended = AppendFieldOfName(name, below)) return *appended;
    FieldTable& fields = *payload_.structure;
    const FieldTable::Position position = fields.Locate(name->view());
    if (position.found != nullptr) return *position.found;
    index = position.index;
    in_tail = position.in_tail;
  } else {
    // The caller's count keeps the name while the old content goes.
    MakeStructure();
  }
  store_->Retain(name);
  return AddField(index, in_tail, name);
}

bool BindingProperty::CanGatherFields() const {
  if (kind_ != PropertyKind::kStructure) return false;
  const FieldTable& fields = *payload_.structure;
  return fields.pending == 0 && fields.size < kMaxGatheredFields;
}

BindingProperty& BindingProperty::GatherField(const PooledString* name) {
  return AppendField(name);
}

BindingProperty* BindingProperty::FindGatheredField(const PooledString* name) {
  const FieldTable& fields = *payload_.structure;
  // Names are interned: one entry per text in a tree.
  for (uint32_t i = 0; i < fields.size; ++i) {
    if (fields.slots[i].name == name) return fields.slots[i].value;
  }
  return nullptr;
}

const PooledString* BindingProperty::GatheredName(std::size_t index) const {
  return payload_.structure->slots[index].name;
}

bool BindingProperty::GatheredNamesAre(const PooledString* const* names, std::size_t count) const {
  const FieldSlot* slots = payload_.structure->slots;
  for (std::size_t i = 0; i < count; ++i) {
    if (slots[i].name != names[i]) return false;
  }
  return true;
}

void BindingProperty::ArrangeFields(const uint16_t* order, std::size_t order_size) {
  FieldTable& fields = *payload_.structure;
  FieldSlot arranged[kMaxGatheredFields];
  uint32_t count = 0;
  for (std::size_t k = 0; k < order_size; ++k) {
    if (order[k] < fields.size) arranged[count++] = fields.slots[order[k]];
  }
  std::memcpy(fields.slots, arranged, count * sizeof(FieldSlot));
}

void BindingProperty::SortFields(uint16_t* order) {
  const FieldTable& fields = *payload_.structure;
  for (uint32_t i = 0; i < fields.size; ++i) order[i] = static_cast<uint16_t>(i);
  const FieldSlot* slots = fields.slots;
  std::sort(order, order + fields.size, [slots](uint16_t a, uint16_t b) {
    return NameOrder::Less(slots[a].name->view(), slots[b].name->view());
  });
  ArrangeFields(order, fields.size);
}

BindingProperty& BindingProperty::AddField(uint32_t index, bool in_tail,
                                           const PooledString* entry) {
  try {
    return PlaceField(index, in_tail, entry);
  } catch (...) {
    store_->Release(entry);
    throw;
  }
}

BindingProperty& BindingProperty::PlaceField(uint32_t index, bool in_tail,
                                             const PooledString* entry) {
  FieldTable& fields = *payload_.structure;
  BindingProperty* value = NewMemberValue(fields);
  fields.Insert({nullptr, index, in_tail}, entry, value);
  return *value;
}

BindingProperty& BindingProperty::Field(const char* name) {
  return InsertField(ViewOf(name));
}

BindingProperty& BindingProperty::Field(const std::string& name) {
  return InsertField(CutAtNul(name));
}

BindingProperty& BindingProperty::Field(std::string_view name) {
  return InsertField(CutAtNul(name));
}

const BindingProperty* BindingProperty::LookupField(std::string_view name) const {
  if (kind_ != PropertyKind::kStructure) return nullptr;
  return payload_.structure->Find(name);
}

std::span<const BindingProperty::FieldSlot> BindingProperty::OrderedFields() const {
  if (kind_ != PropertyKind::kStructure) return {};
  FieldTable& fields = *payload_.structure;
  fields.Settle();
  return {fields.slots, fields.size};
}

const BindingProperty& BindingProperty::GetAt(std::size_t index) const {
  if (kind_ != PropertyKind::kCollection || index >= payload_.collection->size) {
    return EmptyValue();
  }
  return payload_.collection->data[index];
}

const BindingProperty& BindingProperty::GetField(const char* name) const {
  const BindingProperty* field = LookupField(ViewOf(name));
  return field == nullptr ? EmptyValue() : *field;
}

const BindingProperty& BindingProperty::GetField(const std::string& name) const {
  return GetField(std::string_view(name));
}

const BindingProperty& BindingProperty::GetField(std::string_view name) const {
  const BindingProperty* field = LookupField(CutAtNul(name));
  return field == nullptr ? EmptyValue() : *field;
}

const BindingProperty* BindingProperty::FindField(std::string_view name) const {
  return LookupField(CutAtNul(name));
}

BindingProperty* BindingProperty::FindField(std::string_view name) {
  return const_cast<BindingProperty*>(LookupField(CutAtNul(name)));
}

bool BindingProperty::GetBool(bool fallback) const {
  return kind_ == PropertyKind::kBool ? payload_.boolean : fallback;
}

int64_t BindingProperty::GetSigned(int64_t fallback) const {
  return kind_ == PropertyKind::kSigned ? payload_.signed_value : fallback;
}

uint64_t BindingProperty::GetUnsigned(uint64_t fallback) const {
  return kind_ == PropertyKind::kUnsigned ? payload_.unsigned_value : fallback;
}

double BindingProperty::GetDouble(double fallback) const {
  return kind_ == PropertyKind::kFloat ? payload_.float_value : fallback;
}

std::string_view BindingProperty::GetString(std::string_view fallback) const {
  return kind_ == PropertyKind::kString ? payload_.string->view() : fallback;
}

const std::vector<uint8_t>& BindingProperty::GetBlob(const std::vector<uint8_t>& fallback) const {
  return kind_ == PropertyKind::kBlob ? *payload_.blob : fallback;
}

EnumValue BindingProperty::GetEnum(EnumValue fallback) const {
  return kind_ == PropertyKind::kEnum ? *payload_.enum_value : fallback;
}

std::span<const BindingProperty> BindingProperty::Elements() const {
  if (kind_ != PropertyKind::kCollection) return {};
  return {payload_.collection->data, payload_.collection->size};
}

std::span<BindingProperty> BindingProperty::Elements() {
  if (kind_ != PropertyKind::kCollection) return {};
  return {payload_.collection->data, payload_.collection->size};
}

std::size_t BindingProperty::Size() const {
  switch (kind_) {
    case PropertyKind::kEmpty:
      return 0;
    case PropertyKind::kString:
      return payload_.string->length;
    case PropertyKind::kBlob:
      return payload_.blob->size();
    case PropertyKind::kCollection:
      return payload_.collection->size;
    case PropertyKind::kStructure:
      return payload_.structure->Count();
    default:
      return 1;
  }
}

bool BindingProperty::IsZero() const {
  switch (kind_) {
    case PropertyKind::kEmpty:
      return true;
    case PropertyKind::kBool:
      return !payload_.boolean;
    case PropertyKind::kSigned:
      return payload_.signed_value == 0;
    case PropertyKind::kUnsigned:
      return payload_.unsigned_value == 0;
    case PropertyKind::kFloat:
      return payload_.float_value == 0.0;  // false for NaN
    case PropertyKind::kEnum:
      return payload_.enum_value->value == 0;
    case PropertyKind::kString:
    case PropertyKind::kBlob:
    case PropertyKind::kCollection:
    case PropertyKind::kStructure:
      return Size() == 0;
  }
  return true;  // an unknown kind number
}

void BindingProperty::CopyFrom(const BindingProperty& source) {
  if (&source == this) return;
  if (store_ != nullptr && source.store_ == store_ && IsContainerKind(source.kind_)) {
    // Same tree: the source may contain this value or be inside it, so copy
    // through a tree of its own.
    const BindingProperty detached(source);
    CopyInto(detached);
    return;
  }
  // Leaves capture their content before this value is released.
  CopyInto(source);
}

void BindingProperty::MoveFrom(BindingProperty& source) {
  if (&source == this) return;
  if (owns_store_ != 0 && source.owns_store_ != 0) {
    std::swap(payload_, source.payload_);
    std::swap(store_, source.store_);
    std::swap(kind_, source.kind_);
    source.Clear();
    return;
  }
  if (store_ != nullptr && source.store_ == store_) {
    // Same tree. Detach the source's content first; when the source is the
    // top-level value, this value is inside it and goes with it.
    BindingProperty detached(std::move(source));
    if (source.owns_store_ != 0) return;
    CopyInto(detached);
    return;
  }
  CopyInto(source);
  source.Clear();
}

void BindingProperty::AdoptFromSameTree(BindingProperty& source) {
  if (&source == this) return;
  if (source.owns_store_ != 0 || store_ == nullptr || source.store_ != store_) {
    MoveFrom(source);
    return;
  }
  // Parts of one store: the payload changes hands, nothing is copied.
  Clear();
  payload_ = source.payload_;
  kind_ = source.kind_;
  source.kind_ = PropertyKind::kEmpty;
  source.payload_.bits = 0;
}

PropertyResult& PropertyResult::operator=(const PropertyResult& other) {
  BindingProperty::operator=(other);
  valid_ = other.valid_;
  return *this;
}

PropertyResult& PropertyResult::operator=(PropertyResult&& other) {
  const bool valid = other.valid_;
  BindingProperty::operator=(std::move(other));
  valid_ = valid;
  return *this;
}

void PropertyResult::SetError(std::string_view message) {
  // Keep the text alive while the old content (which may hold it) is released.
  const std::string text(CutAtNul(message));
  Clear();
  valid_ = false;
  Field("error").SetString(std::string_view(text));
}

std::string_view PropertyResult::GetError() const {
  if (valid_) return {};
  return GetField("error").GetString();
}

PropertyResult PropertyResult::InTreeOf(BindingProperty& anchor) {
  PropertyResult result;
  result.MakeChildOf(anchor.EnsureStore());
  return result;  // elided: the result is built in place
}

void PropertyResult::Reset() {
  Clear();
  valid_ = true;
}

}  // namespace Kestrel
