#include "devhost/host_value.h"

#include <cmath>
#include <cstring>
#include <utility>

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

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

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
      std::string_view text = CoreValueText(value);
      writer->String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
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
          writer->Key(name, static_cast<rapidjson::SizeType>(std::strlen(name)));
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

std::string CoreValueToJson(const CoreValue& value) {
  rapidjson::StringBuffer buffer;
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
