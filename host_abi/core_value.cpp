#include "host_abi/core_value.h"

#include <cstring>
#include <limits>

#include "util/counting_allocator.h"

namespace Kestrel::Client {
namespace {

// Allocates `count` zeroed records of `size` bytes; nullptr for 0 or on failure.
void* AllocateZeroed(uint32_t count, std::size_t size) {
  if (count == 0) return nullptr;
  if (count > std::numeric_limits<std::size_t>::max() / size) return nullptr;
  void* block = CountingAllocate(count * size);
  if (block != nullptr) std::memset(block, 0, count * size);
  return block;
}

}  // namespace

void ReleaseCoreValue(CoreValue* value) {
  if (value == nullptr) return;
  switch (value->kind) {
    case CoreValueKind::kOwnedString:
    case CoreValueKind::kOwnedBlob:
      CountingFree(const_cast<char*>(value->bytes.data));
      break;
    case CoreValueKind::kCollection: {
      CoreValue* items = value->collection.items;
      // Values the plugin builds are bounded in depth by the readers that make
      // them, so the walk recurses.
      for (uint32_t i = 0; items != nullptr && i < value->collection.count; ++i) {
        ReleaseCoreValue(&items[i]);
      }
      CountingFree(items);
      break;
    }
    case CoreValueKind::kStructure: {
      CoreStructEntry* entries = value->structure.entries;
      for (uint32_t i = 0; entries != nullptr && i < value->structure.count; ++i) {
        if (entries[i].name_owned != 0) CountingFree(const_cast<char*>(entries[i].name));
        ReleaseCoreValue(&entries[i].value);
      }
      CountingFree(entries);
      break;
    }
    default:
      break;
  }
  std::memset(static_cast<void*>(value), 0, sizeof(CoreValue));
}

CoreValue MakeNilValue() {
  CoreValue value;
  std::memset(static_cast<void*>(&value), 0, sizeof(value));
  return value;
}

CoreValue MakeBoolValue(bool flag) {
  CoreValue value = MakeNilValue();
  value.kind = CoreValueKind::kBool;
  value.bool_value = flag ? 1 : 0;
  return value;
}

CoreValue MakeSignedValue(int64_t number) {
  CoreValue value = MakeNilValue();
  value.kind = CoreValueKind::kSigned;
  value.signed_value = number;
  return value;
}

CoreValue MakeUnsignedValue(uint64_t number) {
  CoreValue value = MakeNilValue();
  value.kind = CoreValueKind::kUnsigned;
  value.unsigned_value = number;
  return value;
}

CoreValue MakeFloatValue(double number) {
  CoreValue value = MakeNilValue();
  value.kind = CoreValueKind::kFloat;
  value.float_value = number;
  return value;
}

CoreValue MakeBorrowedStringValue(const char* text) {
  CoreValue value = MakeNilValue();
  value.kind = CoreValueKind::kBorrowedString;
  value.bytes.data = text;
  value.bytes.length = text == nullptr ? 0 : static_cast<uint32_t>(std::strlen(text));
  return value;
}

char* CopyOwnedText(std::string_view text) {
  if (text.size() >= std::numeric_limits<std::size_t>::max()) return nullptr;
  char* copy = static_cast<char*>(CountingAllocate(text.size() + 1));
  if (copy == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

bool SetOwnedString(CoreValue* value, std::string_view text) {
  ReleaseCoreValue(value);
  if (text.size() > std::numeric_limits<uint32_t>::max()) return false;
  char* copy = CopyOwnedText(text);
  if (copy == nullptr) return false;
  value->kind = CoreValueKind::kOwnedString;
  value->bytes.data = copy;
  value->bytes.length = static_cast<uint32_t>(text.size());
  return true;
}

bool SetOwnedBlob(CoreValue* value, const void* data, uint32_t length) {
  ReleaseCoreValue(value);
  // One spare byte so that a zero-length blob still owns a distinct block.
  char* copy = static_cast<char*>(CountingAllocate(static_cast<std::size_t>(length) + 1));
  if (copy == nullptr) return false;
  if (length != 0) std::memcpy(copy, data, length);
  copy[length] = '\0';
  value->kind = CoreValueKind::kOwnedBlob;
  value->bytes.data = copy;
  value->bytes.length = length;
  return true;
}

bool SetCollection(CoreValue* value, uint32_t count) {
  ReleaseCoreValue(value);
  void* items = AllocateZeroed(count, sizeof(CoreValue));
  if (count != 0 && items == nullptr) return false;
  value->kind = CoreValueKind::kCollection;
  value->collection.items = static_cast<CoreValue*>(items);
  value->collection.count = count;
  return true;
}

bool SetStructure(CoreValue* value, uint32_t count) {
  ReleaseCoreValue(value);
  void* entries = AllocateZeroed(count, sizeof(CoreStructEntry));
  if (count != 0 && entries == nullptr) return false;
  value->kind = CoreValueKind::kStructure;
  value->structure.entries = static_cast<CoreStructEntry*>(entries);
  value->structure.count = count;
  return true;
}

bool SetEntryName(CoreStructEntry* entry, std::string_view name) {
  if (entry->name_owned != 0) CountingFree(const_cast<char*>(entry->name));
  entry->name = CopyOwnedText(name);
  entry->name_owned = entry->name != nullptr ? 1 : 0;
  return entry->name != nullptr;
}

}  // namespace Kestrel::Client
