#include "fuzz/fuzz_request.h"

#include <cstring>

namespace Kestrel::Fuzz {

namespace {

using Client::CoreValue;
using Client::CoreValueKind;

// Nesting of host argument values; deep enough for structs of vectors of structs.
constexpr int kMaxValueDepth = 6;
constexpr std::size_t kMaxBodyLength = 4096;

// Content types the transport reads, and some it does not.
constexpr const char* kContentTypes[] = {
    "application/json",
    "application/x-yaml",
    "application/x-msgpack",
    "application/vnd.api+json",
    "application/json; charset=utf-8",
    "text/plain",
    "",
};

}  // namespace

FuzzRequest::FuzzRequest(FuzzInput& input, std::string_view route_template, HostValueShape shape)
    : shape_(shape) {
  // Method: mostly a valid number, sometimes anything.
  const uint8_t method_choice = input.ReadByte();
  record_.method = method_choice < 200 ? method_choice % 9 : method_choice;
  if (record_.method == 8) {
    const uint8_t name_choice = input.ReadByte();
    method_name_ = input.ReadText(12);
    record_.method_name = name_choice % 8 == 0 ? nullptr : Keep(method_name_);
    if (record_.method_name == nullptr) method_name_.clear();
  }

  // Path: the route template with its parameters filled, or raw text; then an
  // optional query and fragment.
  const uint8_t path_choice = input.ReadByte();
  if (path_choice % 4 != 3) {
    for (std::size_t i = 0; i < route_template.size(); ++i) {
      if (route_template[i] != '{') {
        path_ += route_template[i];
        continue;
      }
      const std::size_t close = route_template.find('}', i);
      if (close == std::string_view::npos) break;
      path_ += input.ReadText(24);
      i = close;
    }
  } else {
    path_ = input.ReadText(64);
  }
  if (path_choice & 0x10) path_.append(1, '?').append(input.ReadText(96));
  if (path_choice & 0x20) path_.append(1, '#').append(input.ReadText(16));
  // The record reads the path as text: it ends at the first NUL.
  path_ = path_.substr(0, path_.find('\0'));
  record_.path = path_choice == 0xFF ? nullptr : path_.c_str();

  const uint8_t header_count = input.ReadByte() % 5;
  for (uint8_t i = 0; i < header_count; ++i) {
    std::string name = input.ReadText(16);
    std::string value = input.ReadText(32);
    headers_.emplace_back(name.substr(0, name.find('\0')), value.substr(0, value.find('\0')));
  }
  for (const auto& [name, value] : headers_) {
    header_records_.push_back(Client::CoreHeader{name.c_str(), value.c_str()});
  }
  record_.headers = header_records_.empty() ? nullptr : header_records_.data();
  record_.header_count = static_cast<uint32_t>(header_records_.size());

  const uint8_t type_choice = input.ReadByte();
  constexpr uint8_t kKnownTypes = sizeof kContentTypes / sizeof kContentTypes[0];
  if (type_choice % 16 < kKnownTypes) {
    content_type_ = kContentTypes[type_choice % 16];
  } else if (type_choice % 16 < 12) {
    std::string text = input.ReadText(32);
    content_type_ = text.substr(0, text.find('\0'));
  }
  record_.content_type = content_type_.has_value() ? content_type_->c_str() : nullptr;

  const uint8_t argument_count = input.ReadByte() % 5;
  for (uint8_t i = 0; i < argument_count; ++i) {
    const uint8_t name_choice = input.ReadByte();
    Client::CoreArgument argument{};
    argument.name = name_choice % 3 == 0 ? nullptr : Keep(input.ReadText(16));
    argument.value = ReadValue(input, 0);
    arguments_.push_back(argument);
  }
  record_.arguments = arguments_.empty() ? nullptr : arguments_.data();
  record_.argument_count = static_cast<uint32_t>(arguments_.size());
  record_.caller_id = input.ReadU32();

  // The body comes last so that it can take the rest of the input. Its
  // length may stop short of the text (binary bodies are read by length,
  // text bodies up to their NUL).
  const uint8_t body_choice = input.ReadByte();
  if (body_choice % 8 != 0) {
    body_ = std::string(input.ReadRest().substr(0, kMaxBodyLength));
    record_.body = body_->c_str();
    record_.body_length = static_cast<uint32_t>(body_->size());
    if (body_choice % 8 == 1 && !body_->empty()) record_.body_length = body_choice % body_->size();
  }
}

CoreValue FuzzRequest::ReadValue(FuzzInput& input, int depth) {
  CoreValue value;
  std::memset(&value, 0, sizeof value);
  const uint8_t choice = input.ReadByte();
  uint32_t kind = choice % 11;
  if (choice == 0xFF && shape_ == HostValueShape::kMalformed) kind = 11 + input.ReadByte();
  if (depth >= kMaxValueDepth && (kind == 9 || kind == 10)) kind = 0;
  value.kind = static_cast<CoreValueKind>(kind);
  switch (kind) {
    case 1:
      value.bool_value = input.ReadByte() % 2;
      break;
    case 2:
      value.signed_value = static_cast<int64_t>(input.ReadU64());
      break;
    case 3:
      value.unsigned_value = input.ReadU64();
      break;
    case 4:
      value.float_value = input.ReadDouble();
      break;
    case 5:
    case 6:
    case 7:
    case 8: {
      const std::string& text = texts_.emplace_back(input.ReadText(48));
      value.bytes.data = text.c_str();
      value.bytes.length = static_cast<uint32_t>(text.size());
      break;
    }
    case 9: {
      const uint8_t flags = input.ReadByte();
      const uint32_t count = flags % 5;
      if (flags >= 0xF8 && shape_ == HostValueShape::kMalformed) {
        value.collection.items = nullptr;
        value.collection.count = count + 1;
        break;
      }
      auto& items = values_.emplace_back(std::make_unique<CoreValue[]>(count + 1));
      value.collection.items = items.get();
      value.collection.count = count;
      for (uint32_t i = 0; i < count; ++i) items[i] = ReadValue(input, depth + 1);
      break;
    }
    case 10: {
      const uint8_t flags = input.ReadByte();
      const uint32_t count = flags % 5;
      if (flags >= 0xF8 && shape_ == HostValueShape::kMalformed) {
        value.structure.entries = nullptr;
        value.structure.count = count + 1;
        break;
      }
      auto& entries = entries_.emplace_back(std::make_unique<Client::CoreStructEntry[]>(count + 1));
      value.structure.entries = entries.get();
      value.structure.count = count;
      for (uint32_t i = 0; i < count; ++i) {
        const uint8_t name_choice = input.ReadByte();
        entries[i].name = name_choice == 0 && shape_ == HostValueShape::kMalformed
                              ? nullptr
                              : Keep(input.ReadText(12));
        entries[i].name_owned = 0;
        entries[i].value = ReadValue(input, depth + 1);
      }
      break;
    }
    default:
      value.unsigned_value = input.ReadU64();
      break;
  }
  return value;
}

const char* FuzzRequest::Keep(std::string text) {
  return texts_.emplace_back(std::move(text)).c_str();
}

}  // namespace Kestrel::Fuzz
