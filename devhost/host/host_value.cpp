#include "devhost/host/host_value.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "host_abi/core_value.h"
#include "rapidjson/document.h"
#include "rapidjson/error/en.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"
#include "util/base64.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreStructEntry;
using Client::CoreValueKind;

// Plugin values nest far less than this; deeper parts are copied as nil so
// that a hostile tree cannot exhaust the stack.
constexpr int kMaxCopyDepth = 1024;

void CopyInto(const CoreValue& source, CoreValue* target, int depth) {
  if (depth > kMaxCopyDepth) return;
  switch (source.kind) {
    case CoreValueKind::kNil:
      return;
    case CoreValueKind::kBool:
      *target = Client::MakeBoolValue(source.bool_value != 0);
      return;
    case CoreValueKind::kSigned:
    case CoreValueKind::kUnsigned:
    case CoreValueKind::kFloat:
      *target = source;
      return;
    case CoreValueKind::kBorrowedString:
    case CoreValueKind::kOwnedString:
      (void)Client::SetOwnedString(target, CoreValueText(source));
      return;
    case CoreValueKind::kBorrowedBlob:
    case CoreValueKind::kOwnedBlob:
      (void)Client::SetOwnedBlob(target, source.bytes.data, source.bytes.length);
      return;
    case CoreValueKind::kCollection: {
      if (source.collection.items == nullptr && source.collection.count != 0) return;
      if (!Client::SetCollection(target, source.collection.count)) return;
      for (uint32_t i = 0; i < source.collection.count; ++i) {
        CopyInto(source.collection.items[i], &target->collection.items[i], depth + 1);
      }
      return;
    }
    case CoreValueKind::kStructure: {
      if (source.structure.entries == nullptr && source.structure.count != 0) return;
      if (!Client::SetStructure(target, source.structure.count)) return;
      for (uint32_t i = 0; i < source.structure.count; ++i) {
        const CoreStructEntry& from = source.structure.entries[i];
        CoreStructEntry& to = target->structure.entries[i];
        if (from.name != nullptr) (void)Client::SetEntryName(&to, from.name);
        CopyInto(from.value, &to.value, depth + 1);
      }
      return;
    }
  }
}

// The JSON writer's buffer allocator: the library writes through what its
// allocator returns without a check, so a failed allocation throws instead.
struct CheckedAllocator {
  // Part of the library's allocator concept, read by some of its containers.
  [[maybe_unused]] static const bool kNeedFree = true;
  void* Malloc(size_t size) {
    if (size == 0) return nullptr;
    void* block = std::malloc(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  void* Realloc(void* block, size_t, size_t new_size) {
    if (new_size == 0) {
      std::free(block);
      return nullptr;
    }
    void* grown = std::realloc(block, new_size);
    if (grown == nullptr) throw std::bad_alloc();
    return grown;
  }
  static void Free(void* block) { std::free(block); }
};

using JsonBuffer = rapidjson::GenericStringBuffer<rapidjson::UTF8<>, CheckedAllocator>;
using JsonWriter =
    rapidjson::Writer<JsonBuffer, rapidjson::UTF8<>, rapidjson::UTF8<>, CheckedAllocator>;

// Length of the valid UTF-8 sequence at `text[at]`, or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  unsigned char second = byte(at + 1);
  if (lead == 0xE0 && second < 0xA0) return 0;   // overlong
  if (lead == 0xED && second >= 0xA0) return 0;  // surrogate
  if (lead == 0xF0 && second < 0x90) return 0;   // overlong
  if (lead == 0xF4 && second >= 0x90) return 0;  // above U+10FFFF
  return length;
}

void WriteText(std::string_view text, JsonWriter* writer) {
  size_t at = 0;
  while (at < text.size()) {
    size_t length = Utf8SequenceLength(text, at);
    if (length == 0) break;
    at += length;
  }
  if (at == text.size()) {
    writer->String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
    return;
  }
  std::string valid = ValidUtf8(text);
  writer->String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

void WriteJson(const CoreValue& value, JsonWriter* writer, int depth) {
  if (depth > kMaxCopyDepth) {
    writer->Null();
    return;
  }
  switch (value.kind) {
    case CoreValueKind::kBool:
      writer->Bool(value.bool_value != 0);
      return;
    case CoreValueKind::kSigned:
      writer->Int64(value.signed_value);
      return;
    case CoreValueKind::kUnsigned:
      writer->Uint64(value.unsigned_value);
      return;
    case CoreValueKind::kFloat:
      if (std::isfinite(value.float_value)) {
        writer->Double(value.float_value);
      } else {
        writer->Null();
      }
      return;
    case CoreValueKind::kBorrowedString:
    case CoreValueKind::kOwnedString: {
      WriteText(CoreValueText(value), writer);
      return;
    }
    case CoreValueKind::kBorrowedBlob:
    case CoreValueKind::kOwnedBlob: {
      std::string text = value.bytes.data == nullptr
                             ? std::string()
                             : EncodeBase64(reinterpret_cast<const uint8_t*>(value.bytes.data),
                                            value.bytes.length);
      writer->String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
      return;
    }
    case CoreValueKind::kCollection:
      writer->StartArray();
      if (value.collection.items != nullptr) {
        for (uint32_t i = 0; i < value.collection.count; ++i) {
          WriteJson(value.collection.items[i], writer, depth + 1);
        }
      }
      writer->EndArray();
      return;
    case CoreValueKind::kStructure:
      writer->StartObject();
      if (value.structure.entries != nullptr) {
        for (uint32_t i = 0; i < value.structure.count; ++i) {
          const CoreStructEntry& entry = value.structure.entries[i];
          const char* name = entry.name != nullptr ? entry.name : "";
          std::string valid = ValidUtf8(name);
          writer->Key(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
          WriteJson(entry.value, writer, depth + 1);
        }
      }
      writer->EndObject();
      return;
    case CoreValueKind::kNil:
    default:
      writer->Null();
      return;
  }
}

// Builds `*target` from a parsed JSON node. Returns false when the heap is
// exhausted or the nesting is too deep; `*target` then owns what was built.
bool FromJsonNode(const rapidjson::Value& node, CoreValue* target, int depth) {
  if (depth >= kMaxJsonDepth) return false;
  if (node.IsNull()) return true;
  if (node.IsBool()) {
    *target = Client::MakeBoolValue(node.GetBool());
    return true;
  }
  if (node.IsInt64()) {
    *target = Client::MakeSignedValue(node.GetInt64());
    return true;
  }
  if (node.IsUint64()) {
    *target = Client::MakeUnsignedValue(node.GetUint64());
    return true;
  }
  if (node.IsNumber()) {
    *target = Client::MakeFloatValue(node.GetDouble());
    return true;
  }
  if (node.IsString()) {
    return Client::SetOwnedString(target,
                                  std::string_view(node.GetString(), node.GetStringLength()));
  }
  if (node.IsArray()) {
    if (!Client::SetCollection(target, node.Size())) return false;
    for (rapidjson::SizeType i = 0; i < node.Size(); ++i) {
      if (!FromJsonNode(node[i], &target->collection.items[i], depth + 1)) return false;
    }
    return true;
  }
  if (!Client::SetStructure(target, node.MemberCount())) return false;
  uint32_t index = 0;
  for (auto member = node.MemberBegin(); member != node.MemberEnd(); ++member, ++index) {
    CoreStructEntry& entry = target->structure.entries[index];
    if (!Client::SetEntryName(
            &entry, std::string_view(member->name.GetString(), member->name.GetStringLength()))) {
      return false;
    }
    if (!FromJsonNode(member->value, &entry.value, depth + 1)) return false;
  }
  return true;
}

}  // namespace

HostValue::HostValue(HostValue&& other) noexcept : value_(other.value_) {
  other.value_ = CoreValue{};
}

HostValue& HostValue::operator=(HostValue&& other) noexcept {
  if (this != &other) {
    Client::ReleaseCoreValue(&value_);
    value_ = other.value_;
    other.value_ = CoreValue{};
  }
  return *this;
}

HostValue::~HostValue() {
  Client::ReleaseCoreValue(&value_);
}

HostValue HostValue::CopyOf(const CoreValue& value) {
  HostValue copy;
  CopyInto(value, &copy.value_, 0);
  return copy;
}

MaybeType<HostValue> HostValue::FromJson(std::string_view text) {
  rapidjson::Document document;
  document.Parse<rapidjson::kParseIterativeFlag | rapidjson::kParseFullPrecisionFlag>(text.data(),
                                                                                      text.size());
  if (document.HasParseError()) {
    return Failure(400, "Invalid JSON at offset %1: %2", document.GetErrorOffset(),
                   rapidjson::GetParseError_En(document.GetParseError()));
  }
  HostValue result;
  if (!FromJsonNode(document, &result.value_, 0)) {
    return Failure(400, "JSON nested deeper than %1 levels or too large", kMaxJsonDepth);
  }
  return result;
}

HostValue HostValue::String(std::string_view text) {
  HostValue result;
  (void)Client::SetOwnedString(&result.value_, text);
  return result;
}

HostValue HostValue::Adopt(CoreValue* value) {
  HostValue result;
  if (value != nullptr) {
    result.value_ = *value;
    *value = CoreValue{};
  }
  return result;
}

std::string HostValue::ToJson() const {
  return CoreValueToJson(value_);
}

CoreValue HostValue::Release() {
  CoreValue value = value_;
  value_ = CoreValue{};
  return value;
}

size_t CoreValueBytes(const CoreValue& value) {
  // An explicit stack: values nest as deep as the plugin made them.
  size_t bytes = 0;
  std::vector<const CoreValue*> pending{&value};
  while (!pending.empty()) {
    const CoreValue* current = pending.back();
    pending.pop_back();
    bytes += sizeof(CoreValue);
    switch (current->kind) {
      case CoreValueKind::kOwnedString:
      case CoreValueKind::kOwnedBlob:
      case CoreValueKind::kBorrowedBlob:
        bytes += current->bytes.length;
        break;
      case CoreValueKind::kBorrowedString:
        bytes += CoreValueText(*current).size();
        break;
      case CoreValueKind::kCollection:
        if (current->collection.items == nullptr) break;
        for (uint32_t i = 0; i < current->collection.count; ++i) {
          pending.push_back(&current->collection.items[i]);
        }
        break;
      case CoreValueKind::kStructure:
        if (current->structure.entries == nullptr) break;
        for (uint32_t i = 0; i < current->structure.count; ++i) {
          const CoreStructEntry& entry = current->structure.entries[i];
          if (entry.name != nullptr) bytes += std::strlen(entry.name);
          pending.push_back(&entry.value);
        }
        break;
      default:
        break;
    }
  }
  return bytes;
}

std::string ValidUtf8(std::string_view text) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  std::string valid;
  valid.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      valid += kReplacement;
      ++at;
    } else {
      valid.append(text, at, length);
      at += length;
    }
  }
  return valid;
}

std::string CoreValueToJson(const CoreValue& value) {
  JsonBuffer buffer;
  JsonWriter writer(buffer);
  WriteJson(value, &writer, 0);
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::string_view CoreValueText(const CoreValue& value) {
  if (value.bytes.data == nullptr) return {};
  if (value.kind == CoreValueKind::kBorrowedString) return std::string_view(value.bytes.data);
  if (value.kind == CoreValueKind::kOwnedString) {
    return std::string_view(value.bytes.data, value.bytes.length);
  }
  return {};
}

const CoreValue* FindEntry(const CoreValue& value, std::string_view name) {
  if (value.kind != CoreValueKind::kStructure || value.structure.entries == nullptr) return nullptr;
  for (uint32_t i = 0; i < value.structure.count; ++i) {
    const CoreStructEntry& entry = value.structure.entries[i];
    if (entry.name != nullptr && name == entry.name) return &entry.value;
  }
  return nullptr;
}

}  // namespace Kestrel::DevHost
