// Fuzz target: FromCoreValue over host values built from the input: every kind
// number (also unknown ones), texts with and without a pointer, blobs,
// collections and structures with malformed parts (a null array with a count,
// null entry names), repeated names and nesting past the depth bound.
//
// A refusal must carry the object message naming the value, identically in the
// error record and in the text form. An accepted value must match the host
// value kind by kind, and ToCoreValue of the result must convert back to an
// equal property.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "binding/core_value_conversion.h"
#include "fuzz/fuzz_support.h"
#include "util/counting_allocator.h"

namespace Kestrel::Fuzz {

namespace {

using Client::CoreStructEntry;
using Client::CoreValue;
using Client::CoreValueKind;

// Deeper than the conversion accepts, so that the bound is reached.
constexpr int kMaxBuildDepth = kMaxCoreValueDepth + 8;

// Owns every part of the host values it builds.
class HostValueBuilder {
 public:
  explicit HostValueBuilder(FuzzInput& input) : input_(input) {}

  CoreValue Build(int depth) {
    CoreValue value;
    std::memset(&value, 0, sizeof value);
    const uint8_t choice = input_.ReadByte();
    uint32_t kind = choice % 13;
    if (choice == 0xFF) kind = input_.ReadU32();
    // Past the depth limit only scalars are made; a run of 0xFE bytes makes a
    // chain of single-element collections to reach the bound cheaply.
    if (depth >= kMaxBuildDepth && (kind == 9 || kind == 10)) kind = 0;
    if (choice == 0xFE && depth < kMaxBuildDepth) {
      value.kind = CoreValueKind::kCollection;
      value.collection.items = NewValues(1);
      value.collection.count = 1;
      value.collection.items[0] = Build(depth + 1);
      return value;
    }
    value.kind = static_cast<CoreValueKind>(kind);
    switch (kind) {
      case 1:
        value.bool_value = input_.ReadByte();
        break;
      case 2:
        value.signed_value = static_cast<int64_t>(input_.ReadU64());
        break;
      case 3:
        value.unsigned_value = input_.ReadU64();
        break;
      case 4:
        value.float_value = input_.ReadDouble();
        break;
      case 5:
      case 6: {
        const uint8_t flags = input_.ReadByte();
        value.bytes.data = flags % 8 == 0 ? nullptr : NewText(input_.ReadText(24));
        value.bytes.length = flags % 3 == 0 ? input_.ReadU32() : 0;
        break;
      }
      case 7:
      case 8: {
        const uint8_t flags = input_.ReadByte();
        if (flags % 8 == 0) {
          value.bytes.data = nullptr;
          value.bytes.length = flags % 16 == 0 ? 0 : 1 + input_.ReadByte();
        } else {
          const std::string& bytes =
              *texts_.emplace_back(std::make_unique<std::string>(input_.ReadText(24)));
          value.bytes.data = bytes.data();
          value.bytes.length = static_cast<uint32_t>(bytes.size());
        }
        break;
      }
      case 9: {
        const uint8_t flags = input_.ReadByte();
        const uint32_t count = flags % 5;
        if (flags >= 0xF0) {
          value.collection.items = nullptr;
          value.collection.count = flags == 0xFF ? 0xFFFFFFFFu : count + 1;
          break;
        }
        value.collection.items = count == 0 && flags % 2 == 0 ? nullptr : NewValues(count);
        value.collection.count = count;
        for (uint32_t i = 0; i < count; ++i) value.collection.items[i] = Build(depth + 1);
        break;
      }
      case 10: {
        const uint8_t flags = input_.ReadByte();
        const uint32_t count = flags % 5;
        if (flags >= 0xF0) {
          value.structure.entries = nullptr;
          value.structure.count = count + 1;
          break;
        }
        value.structure.entries = count == 0 && flags % 2 == 0 ? nullptr : NewEntries(count);
        value.structure.count = count;
        for (uint32_t i = 0; i < count; ++i) {
          CoreStructEntry& entry = value.structure.entries[i];
          const uint8_t name_flags = input_.ReadByte();
          entry.name = name_flags % 16 == 0 ? nullptr : NewText(input_.ReadText(8));
          entry.name_owned = name_flags >> 7;
          entry.value = Build(depth + 1);
        }
        break;
      }
      default:
        value.unsigned_value = input_.ReadU64();
        break;
    }
    return value;
  }

 private:
  const char* NewText(std::string text) {
    return texts_.emplace_back(std::make_unique<std::string>(std::move(text)))->c_str();
  }
  CoreValue* NewValues(uint32_t count) {
    auto& values = values_.emplace_back(std::make_unique<CoreValue[]>(count == 0 ? 1 : count));
    return values.get();
  }
  CoreStructEntry* NewEntries(uint32_t count) {
    auto& entries =
        entries_.emplace_back(std::make_unique<CoreStructEntry[]>(count == 0 ? 1 : count));
    return entries.get();
  }

  FuzzInput& input_;
  std::deque<std::unique_ptr<std::string>> texts_;
  std::deque<std::unique_ptr<CoreValue[]>> values_;
  std::deque<std::unique_ptr<CoreStructEntry[]>> entries_;
};

std::string_view TextOf(const char* text) {
  return text == nullptr ? std::string_view() : std::string_view(text);
}

// Returns "" when `property` holds what an accepted conversion of `value` must
// give, else the path of the first difference. Of repeated entry names only
// the set of names is checked.
std::string Matches(const CoreValue& value, const BindingProperty& property,
                    const std::string& path) {
  const auto differ = [&](const char* what) {
    return (path.empty() ? std::string("<root>") : path) + ": " + what;
  };
  switch (static_cast<uint32_t>(value.kind)) {
    case 0:
      return property.IsEmpty() ? "" : differ("nil");
    case 1:
      return property.kind() == PropertyKind::kBool && property.GetBool() == (value.bool_value != 0)
                 ? ""
                 : differ("bool");
    case 2:
      return property.kind() == PropertyKind::kSigned && property.GetSigned() == value.signed_value
                 ? ""
                 : differ("signed");
    case 3:
      return property.kind() == PropertyKind::kUnsigned &&
                     property.GetUnsigned() == value.unsigned_value
                 ? ""
                 : differ("unsigned");
    case 4: {
      return property.kind() == PropertyKind::kFloat &&
                     (property.GetDouble() == value.float_value ||
                      (property.GetDouble() != property.GetDouble() &&
                       value.float_value != value.float_value))
                 ? ""
                 : differ("float");
    }
    case 5:
    case 6:
      return property.kind() == PropertyKind::kString &&
                     property.GetString() == TextOf(value.bytes.data)
                 ? ""
                 : differ("string");
    case 7:
    case 8: {
      static const std::vector<uint8_t> kNone;
      const auto* bytes = reinterpret_cast<const uint8_t*>(value.bytes.data);
      const std::vector<uint8_t> expected(bytes,
                                          bytes == nullptr ? bytes : bytes + value.bytes.length);
      return property.kind() == PropertyKind::kBlob && property.GetBlob(kNone) == expected
                 ? ""
                 : differ("blob");
    }
    case 9: {
      if (property.kind() != PropertyKind::kCollection) return differ("collection");
      const auto elements = property.Elements();
      if (elements.size() != value.collection.count) return differ("collection size");
      for (uint32_t i = 0; i < value.collection.count; ++i) {
        std::string difference =
            Matches(value.collection.items[i], elements[i], path + "[" + std::to_string(i) + "]");
        if (!difference.empty()) return difference;
      }
      return "";
    }
    case 10: {
      if (property.kind() != PropertyKind::kStructure) return differ("structure");
      std::map<std::string, std::vector<const CoreValue*>> by_name;
      for (uint32_t i = 0; i < value.structure.count; ++i) {
        const CoreStructEntry& entry = value.structure.entries[i];
        by_name[std::string(TextOf(entry.name))].push_back(&entry.value);
      }
      if (by_name.size() != property.Size()) return differ("structure field count");
      for (const auto& [name, values] : by_name) {
        const BindingProperty* field = property.FindField(name);
        if (field == nullptr) return differ("missing field");
        if (values.size() != 1) continue;
        std::string difference = Matches(*values.front(), *field, path + "." + name);
        if (!difference.empty()) return difference;
      }
      return "";
    }
    default:
      return differ("unknown kind accepted");
  }
}

}  // namespace

int FuzzFromCoreValue(const uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const std::string name = input.ReadText(12);
  HostValueBuilder builder(input);
  const CoreValue value = builder.Build(0);

  std::string message;
  BindingProperty property;
  const bool accepted = FromCoreValue(value, property, name, &message);

  uint8_t record[kCoreErrorRecordSize];
  std::memset(record, 0xA5, sizeof record);
  BindingProperty from_record;
  const bool accepted_with_record = FromCoreValue(record, value, from_record, name);
  Check(accepted == accepted_with_record, "both forms of FromCoreValue agree");
  if (!accepted) {
    // Messages are texts: a name is quoted up to its first NUL.
    const std::string quoted = name.substr(0, name.find('\0'));
    Check(message.starts_with("Couldn't assign value to '" + quoted + "' of type object"),
          "a refused host value gives the object message naming the value");
    char* text = nullptr;
    std::memcpy(&text, record + kCoreErrorTextOffset, sizeof text);
    Check(record[kCoreErrorFlagOffset] == 1, "a refusal sets the error flag");
    Check(text != nullptr && message == text, "the error record holds the same message");
    CountingFree(text);
    return 0;
  }
  CheckNoDifference(Matches(value, property, ""), "property converted from a host value");
  CheckNoDifference(CompareRoundTrip(property, from_record, RoundTrip::kFromJson),
                    "both forms of FromCoreValue give the same property");

  CoreValue back;
  ToCoreValue(property, back, nullptr);
  BindingProperty again;
  std::string again_message;
  const bool accepted_again = FromCoreValue(back, again, name, &again_message);
  Check(accepted_again, "ToCoreValue gives a host value FromCoreValue accepts");
  CheckNoDifference(CompareRoundTrip(property, again, RoundTrip::kFromJson),
                    "property through ToCoreValue and back");
  ReleaseToCoreValue(back);
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzFromCoreValue)
