#include "binding/type_registry.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace Kestrel {
namespace {

template <class Record>
void EraseFromOrder(std::vector<Record*>& order, const Record* record) {
  order.erase(std::remove(order.begin(), order.end(), record), order.end());
}

template <class Record>
std::vector<const Record*> Snapshot(const std::vector<Record*>& order) {
  return std::vector<const Record*>(order.begin(), order.end());
}

}  // namespace

// ---------------------------------------------------------------------------
// TypeRecord

const FieldRecord* TypeRecord::FindField(std::string_view name) const {
  for (const FieldRecord& field : fields_) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

const EnumValueRecord* TypeRecord::FindValue(std::string_view name) const {
  auto it = values_.find(name);
  return it == values_.end() ? nullptr : &it->second;
}

const EnumValueRecord* TypeRecord::FindValueByNumber(int32_t value) const {
  for (const auto& [name, record] : values_) {
    if (record.value == value) return &record;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// TypeBuilder

TypeBuilder& TypeBuilder::AddFieldRecord(std::string_view name, uint32_t offset,
                                         std::string_view description, uint32_t flags,
                                         FieldType second_type, NativeKind kind,
                                         NativeKind element_kind,
                                         const StaticTypeInfo* element_identity,
                                         const StaticTypeInfo* identity,
                                         AdapterFactory make_adapter) {
  if (existing_ || record_ == nullptr) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  FieldRecord field;
  field.name = std::string(name);
  field.name_hash = Fnv1a32(name);
  field.description = std::string(description);
  field.identity = identity;
  field.offset = offset;
  field.type.kind = kind;
  field.type.element_kind = element_kind;
  field.type.element_type =
      element_identity ? registry_->FindTypeByHashLocked(element_identity->hash_code) : nullptr;
  if (second_type.kind != NativeKind::kNone) field.second_type = second_type;
  field.flags = flags;
  field.adapter = make_adapter();
  field.owner = record_;
  // The name order is kept as fields arrive: readers never sort.
  std::vector<uint32_t>& order = record_->name_order_;
  const std::vector<FieldRecord>& fields = record_->fields_;
  const auto place =
      std::lower_bound(order.begin(), order.end(), name, [&](uint32_t index, std::string_view key) {
        return std::string_view(fields[index].name) < key;
      });
  if (name.find('\0') != std::string_view::npos ||
      (place != order.end() && fields[*place].name == name)) {
    record_->distinct_field_names_ = false;
  }
  order.insert(place, static_cast<uint32_t>(fields.size()));
  record_->fields_.push_back(std::move(field));
  return *this;
}

TypeBuilder& TypeBuilder::UseAdapter() {
  if (existing_ || record_ == nullptr) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  if (!record_->fields_.empty()) record_->fields_.back().use_adapter = true;
  return *this;
}

TypeBuilder& TypeBuilder::AddValue(std::string_view name, int32_t value,
                                   std::string_view description) {
  if (existing_ || record_ == nullptr) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  EnumValueRecord& entry = record_->values_[std::string(name)];
  entry.value = value;
  entry.name = std::string(name);
  entry.description = std::string(description);
  entry.owner = record_;
  return *this;
}

TypeBuilder& TypeBuilder::SetDescription(std::string_view description) {
  if (existing_ || record_ == nullptr) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->description_ = std::string(description);
  return *this;
}

TypeBuilder& TypeBuilder::AddTag(std::string_view tag) {
  if (existing_ || record_ == nullptr || tag.empty()) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->tags_.emplace_back(tag);
  return *this;
}

TypeBuilder& TypeBuilder::AddTags(const std::vector<std::string>& tags) {
  for (const std::string& tag : tags) AddTag(tag);
  return *this;
}

// ---------------------------------------------------------------------------
// FunctionBuilder

FunctionBuilder& FunctionBuilder::DeclareArgument(std::string_view name,
                                                  std::string_view description, bool optional,
                                                  FieldType type_override) {
  const size_t position = position_++;
  if (failed_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  if (record_->arguments.size() <= position) record_->arguments.resize(position + 1);
  ArgumentRecord& argument = record_->arguments[position];
  argument.name = std::string(name);
  argument.name_hash = Fnv1a32(name);
  argument.description = std::string(description);
  argument.optional = optional;
  argument.type.override_type = type_override;
  return *this;
}

FunctionBuilder& FunctionBuilder::SetResultOverride(FieldType type_override) {
  if (failed_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->result_type.override_type = type_override;
  return *this;
}

FunctionBuilder& FunctionBuilder::SetDescription(std::string_view description) {
  if (failed_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->description = std::string(description);
  return *this;
}

FunctionBuilder& FunctionBuilder::SetHelp(std::string_view help) {
  if (failed_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->help = std::string(help);
  return *this;
}

FunctionBuilder& FunctionBuilder::SetNameSpace(std::string_view name_space) {
  if (failed_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->name_space = std::string(name_space);
  return *this;
}

FunctionBuilder& FunctionBuilder::SetThreadSafe(bool thread_safe) {
  if (failed_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->thread_safe = thread_safe;
  return *this;
}

FunctionBuilder& FunctionBuilder::SetAsync(bool async) {
  if (failed_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->async = async;
  return *this;
}

FunctionBuilder& FunctionBuilder::AddTag(std::string_view tag) {
  if (failed_ || tag.empty()) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->tags.emplace_back(tag);
  return *this;
}

FunctionBuilder& FunctionBuilder::AddTags(const std::vector<std::string>& tags) {
  for (const std::string& tag : tags) AddTag(tag);
  return *this;
}

// ---------------------------------------------------------------------------
// EventBuilder

EventBuilder& EventBuilder::SetDescription(std::string_view description) {
  if (existing_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->description = std::string(description);
  return *this;
}

EventBuilder& EventBuilder::SetNameSpace(std::string_view name_space) {
  if (existing_) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->name_space = std::string(name_space);
  return *this;
}

EventBuilder& EventBuilder::AddTag(std::string_view tag) {
  if (existing_ || tag.empty()) return *this;
  std::lock_guard<std::mutex> lock(registry_->mutex_);
  record_->tags.emplace_back(tag);
  return *this;
}

EventBuilder& EventBuilder::AddTags(const std::vector<std::string>& tags) {
  for (const std::string& tag : tags) AddTag(tag);
  return *this;
}

// ---------------------------------------------------------------------------
// TypeRegistry

TypeRegistry::~TypeRegistry() = default;

TypeBuilder TypeRegistry::RegisterStruct(std::string_view name, uint32_t native_size,
                                         const StaticTypeInfo& identity) {
  return RegisterType(name, native_size, identity, false);
}

TypeBuilder TypeRegistry::RegisterEnum(std::string_view name, uint32_t native_size,
                                       const StaticTypeInfo& identity) {
  return RegisterType(name, native_size, identity, true);
}

TypeBuilder TypeRegistry::RegisterType(std::string_view name, uint32_t native_size,
                                       const StaticTypeInfo& identity, bool is_enum) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = types_.by_name.find(name);
  if (found != types_.by_name.end()) return TypeBuilder(this, found->second.get(), true);

  std::unique_ptr<TypeRecord> record(new TypeRecord());
  record->native_size_ = native_size;
  record->is_enum_ = is_enum;
  record->name_ = std::string(name);
  record->identity_hash_ = identity.hash_code;
  record->identity_ = &identity;
  record->registry_ = this;
  TypeRecord* raw = record.get();
  types_.by_name.emplace(raw->name_, std::move(record));
  types_.order.push_back(raw);
  // A type without a native counterpart is found by name only.
  if (identity.hash_code != StaticType::HashCode<void>().hash_code) {
    types_by_identity_[identity.hash_code] = raw;
  }
  return TypeBuilder(this, raw, false);
}

FunctionBuilder TypeRegistry::RegisterFunction(std::string_view name, FieldType result_type,
                                               const std::vector<FieldType>& argument_types) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = functions_.by_name.find(name);
  if (found != functions_.by_name.end()) return FunctionBuilder(this, found->second.get(), true);

  auto record = std::make_unique<FunctionRecord>();
  record->name = std::string(name);
  record->result_type.primary = result_type;
  record->arguments.resize(argument_types.size());
  for (size_t i = 0; i < argument_types.size(); ++i) {
    record->arguments[i].type.primary = argument_types[i];
  }
  record->registry = this;
  FunctionRecord* raw = record.get();
  functions_.by_name.emplace(raw->name, std::move(record));
  functions_.order.push_back(raw);
  return FunctionBuilder(this, raw, false);
}

EventBuilder TypeRegistry::RegisterEvent(std::string_view name, const StaticTypeInfo& payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = events_.by_name.find(name);
  if (found != events_.by_name.end()) return EventBuilder(this, found->second.get(), true);

  auto record = std::make_unique<EventRecord>();
  record->name = std::string(name);
  record->payload_type = &payload;
  record->registry = this;
  EventRecord* raw = record.get();
  events_.by_name.emplace(raw->name, std::move(record));
  events_.order.push_back(raw);
  return EventBuilder(this, raw, false);
}

const TypeRecord* TypeRegistry::FindTypeByHashLocked(uint32_t identity_hash) const {
  auto found = types_by_identity_.find(identity_hash);
  return found == types_by_identity_.end() ? nullptr : found->second;
}

const TypeRecord* TypeRegistry::FindType(const StaticTypeInfo* identity) const {
  if (identity == nullptr) return nullptr;
  return FindTypeByHash(identity->hash_code);
}

const TypeRecord* TypeRegistry::FindTypeByHash(uint32_t identity_hash) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return FindTypeByHashLocked(identity_hash);
}

const TypeRecord* TypeRegistry::FindTypeByName(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = types_.by_name.find(name);
  return found == types_.by_name.end() ? nullptr : found->second.get();
}

const FunctionRecord* TypeRegistry::FindFunction(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = functions_.by_name.find(name);
  return found == functions_.by_name.end() ? nullptr : found->second.get();
}

const EventRecord* TypeRegistry::FindEvent(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = events_.by_name.find(name);
  return found == events_.by_name.end() ? nullptr : found->second.get();
}

const EnumValueRecord* TypeRegistry::FindEnumValue(const StaticTypeInfo* identity,
                                                   int32_t value) const {
  const TypeRecord* type = FindType(identity);
  return type ? type->FindValueByNumber(value) : nullptr;
}

bool TypeRegistry::HasEnumValue(const StaticTypeInfo* identity, int32_t value) const {
  return FindEnumValue(identity, value) != nullptr;
}

std::optional<int32_t> TypeRegistry::FindEnumNumber(const StaticTypeInfo* identity,
                                                    std::string_view name) const {
  const TypeRecord* type = FindType(identity);
  if (type == nullptr) return std::nullopt;
  const EnumValueRecord* value = type->FindValue(name);
  if (value == nullptr) return std::nullopt;
  return value->value;
}

std::vector<const TypeRecord*> TypeRegistry::SnapshotTypes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot(types_.order);
}

std::vector<const FunctionRecord*> TypeRegistry::SnapshotFunctions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot(functions_.order);
}

std::vector<const EventRecord*> TypeRegistry::SnapshotEvents() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot(events_.order);
}

bool TypeRegistry::RemoveType(std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = types_.by_name.find(name);
  if (found == types_.by_name.end()) return false;
  TypeRecord* record = found->second.get();
  // Only drop the identity entry when it still points at this record: a later
  // type with the same hash may have replaced it.
  auto by_identity = types_by_identity_.find(record->identity_hash_);
  if (by_identity != types_by_identity_.end() && by_identity->second == record) {
    types_by_identity_.erase(by_identity);
  }
  EraseFromOrder(types_.order, record);
  types_.by_name.erase(found);  // destroys the record, its fields and their adapters
  return true;
}

void TypeRegistry::ClearTypes() {
  std::lock_guard<std::mutex> lock(mutex_);
  types_by_identity_.clear();
  types_.order.clear();
  types_.by_name.clear();
}

void TypeRegistry::ClearFunctions() {
  std::lock_guard<std::mutex> lock(mutex_);
  functions_.order.clear();
  functions_.by_name.clear();
}

void TypeRegistry::ClearEvents() {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.order.clear();
  events_.by_name.clear();
}

size_t TypeRegistry::type_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return types_.order.size();
}

size_t TypeRegistry::function_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return functions_.order.size();
}

size_t TypeRegistry::event_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_.order.size();
}

}  // namespace Kestrel
