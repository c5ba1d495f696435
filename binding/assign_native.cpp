#include "binding/assign_native.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "binding/type_registry.h"
#include "util/base64.h"
#include "util/format_text.h"

namespace Kestrel {
namespace {

constexpr char kRequired[] = "A value for '%1' is required.";
constexpr char kInvalidType[] =
    "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";
constexpr char kOutOfRange[] = "Value %1 for '%2' of type %3 is out of range";
constexpr char kBoolInvalidType[] =
    "Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.";
constexpr char kBoolFormat[] =
    "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", "
    "\"1\", \"0\".";
constexpr char kEnumNotValid[] = "%1 is not a valid %2 enumeration value for '%3'.";
constexpr char kEnumInvalidType[] =
    "Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.";
constexpr char kNotString[] = "Couldn't assign value to '%1' because the input is not a string.";
constexpr char kEnumNameMissing[] = "%1 is not a valid enumeration value for '%2'.";
constexpr char kNotBlob[] =
    "Couldn't assign value to '%1' of type blob because the input is not a blob.";
constexpr char kBadBase64[] =
    "Couldn't assign string value to '%1' of type blob because the input has invalid base64 "
    "characters.";
// "the input not a collection" and "the input not a structure" lack their "is"
// on purpose: the host and its callers match these texts exactly.
constexpr char kVectorNotCollection[] =
    "Couldn't assign value to '%1' of type vector because the input not a collection.";
constexpr char kMapNotStructure[] =
    "Couldn't assign value to '%1' of type map because the input not a structure.";
constexpr char kUnregistered[] =
    "Couldn't assign value to '%1' because the input is an unregistered structure or not a "
    "structure at all.";
constexpr char kStructNotStructure[] =
    "Couldn't assign value to '%1' of type %2 because the input not a structure.";
// A field that has no conversion at all (no adapter, or a kind with no native
// form); registered fields never produce it.
constexpr char kUnsupportedFieldType[] = "Unsupported field type";
constexpr char kMissingRequired[] =
    "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required "
    "field '%3'.";

// The low 32 bits of a number, as an enumerator number.
int32_t Low32(uint64_t bits) {
  return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

// Truncates a double that passed a range test toward zero. NaN gives 0 and the
// doubles at or beyond 2^63 (which pass the int64 test, being the nearest double
// to its maximum) give the int64 limits.
int64_t TruncateSigned(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (value < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

// As `TruncateSigned` for unsigned destinations: NaN and negatives give 0, 2^64
// and above the uint64 maximum.
uint64_t TruncateUnsigned(double value) {
  if (std::isnan(value) || value <= 0.0) return 0;
  if (value >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(value);
}

// An integer bound as a double, rounded to double precision. The x87 unit of
// i386 would otherwise compare in extended precision, where 2^63 - 1 is exact
// and the double 2^63 wrongly lies above it.
template <class Integer>
double BoundAsDouble(Integer bound) {
  volatile double rounded = static_cast<double>(bound);
  return rounded;
}

// Whether a number read from the input lies outside the destination's range.
// One overload per destination and source type; a NaN source lies inside
// every range (an integer destination takes it as 0), and an integer source
// fits every floating destination.
bool OutOfRange(const SignedRange& range, int64_t value) {
  return value < range.min || value > range.max;
}
bool OutOfRange(const SignedRange& range, uint64_t value) {
  return range.max < 0 || value > static_cast<uint64_t>(range.max);
}
bool OutOfRange(const SignedRange& range, double value) {
  return value < BoundAsDouble(range.min) || value > BoundAsDouble(range.max);
}
bool OutOfRange(const UnsignedRange& range, int64_t value) {
  return value < 0 || static_cast<uint64_t>(value) < range.min ||
         static_cast<uint64_t>(value) > range.max;
}
bool OutOfRange(const UnsignedRange& range, uint64_t value) {
  return value < range.min || value > range.max;
}
bool OutOfRange(const UnsignedRange& range, double value) {
  return value < 0.0 || value < BoundAsDouble(range.min) || value > BoundAsDouble(range.max);
}
bool OutOfRange(const DoubleRange& /*range*/, int64_t /*value*/) {
  return false;
}
bool OutOfRange(const DoubleRange& /*range*/, uint64_t /*value*/) {
  return false;
}
bool OutOfRange(const DoubleRange& range, double value) {
  return value < range.min || value > range.max;
}

// A number that passed `OutOfRange` as the destination's type: doubles
// truncate toward zero into integers, integers convert as C++ does.
template <class Number, class Source>
Number ConvertInRange(Source value) {
  if constexpr (std::is_floating_point_v<Source> && std::is_same_v<Number, int64_t>) {
    return TruncateSigned(value);
  } else if constexpr (std::is_floating_point_v<Source> && std::is_same_v<Number, uint64_t>) {
    return TruncateUnsigned(value);
  } else {
    return static_cast<Number>(value);
  }
}

// The number text rule of each destination (number_text.h).
int64_t ParseNumberText(PropertyResult& status, std::string_view text, const SignedRange& range,
                        std::string_view path) {
  return ParseSignedText(status, text, range, path);
}
uint64_t ParseNumberText(PropertyResult& status, std::string_view text, const UnsignedRange& range,
                         std::string_view path) {
  return ParseUnsignedText(status, text, range, path);
}
double ParseNumberText(PropertyResult& status, std::string_view text, const DoubleRange& range,
                       std::string_view path) {
  return ParseDoubleText(status, text, range, path);
}

// Checks `value`, read from the input, against `range` and converts it; an
// out-of-range value sets the error, naming the value as read, and gives 0.
template <class Range, class Source>
auto AssignInRange(PropertyResult& status, Source value, std::string_view path,
                   const Range& range) {
  using Number = decltype(range.max);
  if (OutOfRange(range, value)) {
    status.SetError(FormatText(kOutOfRange, value, path, range.type_name));
    return Number{};
  }
  return ConvertInRange<Number>(value);
}

// The one assignment of a number destination (`Range` is its `SignedRange`,
// `UnsignedRange` or `DoubleRange`): every number kind, enums by their number,
// is range-checked; a string is parsed by the destination's text rule.
template <class Range>
auto AssignNumber(PropertyResult& status, const BindingProperty& input, std::string_view path,
                  const Range& range) {
  using Number = decltype(range.max);
  if (!status.IsValid()) return Number{};
  switch (input.kind()) {
    case PropertyKind::kEmpty:
      status.SetError(FormatText(kRequired, path));
      return Number{};
    case PropertyKind::kSigned:
      return AssignInRange(status, input.GetSigned(), path, range);
    case PropertyKind::kEnum:
      return AssignInRange(status, static_cast<int64_t>(input.GetEnum().value), path, range);
    case PropertyKind::kUnsigned:
      return AssignInRange(status, input.GetUnsigned(), path, range);
    case PropertyKind::kFloat:
      return AssignInRange(status, input.GetDouble(), path, range);
    case PropertyKind::kString:
      return ParseNumberText(status, input.GetString(), range, path);
    default:
      status.SetError(
          FormatText(kInvalidType, path, range.type_name, PropertyKindName(input.kind())));
      return Number{};
  }
}

// Writes the low `size` bytes of `value` (little-endian host) at `native`.
void StoreBytes(void* native, const void* value, std::size_t size) {
  std::memcpy(native, value, size);
}

template <class T>
void Store(void* native, T value) {
  StoreBytes(native, &value, sizeof(T));
}

// Writes an enumerator number with the enum's registered size: 1, 2 or 4 bytes,
// or 8 bytes sign-extended; any other size writes nothing.
void StoreEnum(void* native, int32_t number, uint32_t size) {
  switch (size) {
    case 1:
      Store(native, static_cast<int8_t>(number));
      break;
    case 2:
      Store(native, static_cast<int16_t>(number));
      break;
    case 4:
      Store(native, number);
      break;
    case 8:
      Store(native, static_cast<int64_t>(number));
      break;
    default:
      break;
  }
}

}  // namespace

bool AssignBool(PropertyResult& status, const BindingProperty& input, std::string_view path) {
  if (!status.IsValid()) return false;
  switch (input.kind()) {
    case PropertyKind::kEmpty:
      status.SetError(FormatText(kRequired, path));
      return false;
    case PropertyKind::kBool:
      return input.GetBool();
    case PropertyKind::kString: {
      const std::string_view text = input.GetString();
      if (text == "1" || text == "true") return true;
      if (text == "0" || text == "false") return false;
      status.SetError(FormatText(kBoolFormat, text, path));
      return false;
    }
    default:
      status.SetError(FormatText(kBoolInvalidType, path, PropertyKindName(input.kind())));
      return false;
  }
}

int64_t AssignSigned(PropertyResult& status, const BindingProperty& input, std::string_view path,
                     const SignedRange& range) {
  return AssignNumber(status, input, path, range);
}

uint64_t AssignUnsigned(PropertyResult& status, const BindingProperty& input, std::string_view path,
                        const UnsignedRange& range) {
  return AssignNumber(status, input, path, range);
}

double AssignDouble(PropertyResult& status, const BindingProperty& input, std::string_view path,
                    const DoubleRange& range) {
  return AssignNumber(status, input, path, range);
}

int32_t AssignEnum(PropertyResult& status, const BindingProperty& input, std::string_view path,
                   const TypeRecord* enum_type) {
  if (!status.IsValid()) return 0;
  if (input.IsEmpty()) {
    status.SetError(FormatText(kRequired, path));
    return 0;
  }
  if (enum_type == nullptr) {
    status.SetError(FormatText(kUnregistered, path));
    return 0;
  }
  const std::string& type_name = enum_type->name();
  switch (input.kind()) {
    case PropertyKind::kSigned: {
      const int64_t value = input.GetSigned();
      const int32_t number = Low32(static_cast<uint64_t>(value));
      if (enum_type->HasValue(number)) return number;
      status.SetError(FormatText(kEnumNotValid, value, type_name, path));
      return 0;
    }
    case PropertyKind::kUnsigned: {
      const uint64_t value = input.GetUnsigned();
      const int32_t number = Low32(value);
      if (enum_type->HasValue(number)) return number;
      status.SetError(FormatText(kEnumNotValid, value, type_name, path));
      return 0;
    }
    case PropertyKind::kEnum: {
      const int32_t number = input.GetEnum().value;
      if (enum_type->HasValue(number)) return number;
      status.SetError(FormatText(kEnumNotValid, number, type_name, path));
      return 0;
    }
    case PropertyKind::kString: {
      const std::string_view text = input.GetString();
      if (const EnumValueRecord* named = enum_type->FindValue(text)) return named->value;
      // A number text by the int64 rule; its parse message is replaced below.
      const SignedRange range{kInt64Range.min, kInt64Range.max, type_name.c_str()};
      int64_t value = 0;
      if (ScanSignedText(text, range, &value) == NumberTextStatus::kOk) {
        const int32_t number = Low32(static_cast<uint64_t>(value));
        if (enum_type->HasValue(number)) return number;
      }
      status.SetError(FormatText(kEnumNotValid, text, type_name, path));
      return 0;
    }
    default:
      status.SetError(FormatText(kEnumInvalidType, path, PropertyKindName(input.kind())));
      return 0;
  }
}

std::string AssignString(PropertyResult& status, const BindingProperty& input,
                         std::string_view path, const TypeRegistry& registry) {
  if (!status.IsValid()) return {};
  switch (input.kind()) {
    case PropertyKind::kEmpty:
      status.SetError(FormatText(kRequired, path));
      return {};
    case PropertyKind::kString:
      return std::string(input.GetString());
    case PropertyKind::kEnum: {
      const EnumValue value = input.GetEnum();
      if (const EnumValueRecord* named = registry.FindEnumValue(value.type, value.value)) {
        return named->name;
      }
      status.SetError(FormatText(kEnumNameMissing, value.value, path));
      return {};
    }
    default:
      status.SetError(FormatText(kNotString, path));
      return {};
  }
}

std::vector<uint8_t> AssignBlob(PropertyResult& status, const BindingProperty& input,
                                std::string_view path) {
  if (!status.IsValid()) return {};
  switch (input.kind()) {
    case PropertyKind::kEmpty:
      status.SetError(FormatText(kRequired, path));
      return {};
    case PropertyKind::kBlob: {
      static const std::vector<uint8_t> kNone;
      return input.GetBlob(kNone);
    }
    case PropertyKind::kString: {
      const std::string_view text = input.GetString();
      if (!IsBase64Text(text)) {
        status.SetError(FormatText(kBadBase64, path));
        return {};
      }
      return DecodeBase64(text);
    }
    default:
      status.SetError(FormatText(kNotBlob, path));
      return {};
  }
}

void AssignObject(PropertyResult& status, BindingProperty& native, const BindingProperty& input) {
  if (&native == &input) {
    // Assigning a value to itself keeps it; only a failed status releases it.
    if (!status.IsValid()) native.Clear();
    return;
  }
  if (!status.IsValid()) {
    native.Clear();
    return;
  }
  // Copied before `native` is released: `input` may live inside `native`'s tree.
  BindingProperty copy(input);
  native = std::move(copy);
}

void AssignStruct(PropertyResult& status, void* native, const BindingProperty& input,
                  std::string_view path, const TypeRecord* type, TypeRegistry& registry) {
  if (!status.IsValid()) return;
  if (input.IsEmpty()) {
    status.SetError(FormatText(kRequired, path));
    return;
  }
  AssignStructFields(status, native, input, path, type, registry);
}

void AssignStructFields(PropertyResult& status, void* native, const BindingProperty& input,
                        std::string_view path, const TypeRecord* type, TypeRegistry& registry) {
  if (!status.IsValid()) return;
  if (type == nullptr) {
    status.SetError(FormatText(kUnregistered, path));
    return;
  }
  if (input.kind() != PropertyKind::kStructure) {
    status.SetError(FormatText(kStructNotStructure, path, type->name()));
    return;
  }
  auto* base = static_cast<unsigned char*>(native);
  for (const FieldRecord& field : type->fields()) {
    if (!status.IsValid()) return;
    const BindingProperty* value = input.FindField(field.name);
    if (value == nullptr || value->IsEmpty()) {
      if ((field.flags & kFieldRequired) != 0) {
        status.SetError(FormatText(kMissingRequired, path, type->name(), field.name));
      }
      continue;
    }
    AssignField(status, base + field.offset, *value, field.name, field, registry);
  }
}

void AssignField(PropertyResult& status, void* native, const BindingProperty& input,
                 std::string_view path, const FieldRecord& field, TypeRegistry& registry) {
  const NativeKind kind = field.type.kind;
  const bool by_adapter = field.use_adapter || kind == NativeKind::kBlob ||
                          kind == NativeKind::kVector || kind == NativeKind::kCallback ||
                          kind == NativeKind::kMap;
  if (by_adapter) {
    if (field.adapter == nullptr) {
      if (status.IsValid()) status.SetError(kUnsupportedFieldType);
      return;
    }
    field.adapter->Assign(status, native, input, path, field.type.element_type, registry,
                          field.flags);
    return;
  }
  switch (kind) {
    case NativeKind::kBool:
      Store<uint8_t>(native, AssignBool(status, input, path) ? 1 : 0);
      return;
    case NativeKind::kInt8:
      Store(native, static_cast<int8_t>(AssignSigned(status, input, path, kInt8Range)));
      return;
    case NativeKind::kInt16:
      Store(native, static_cast<int16_t>(AssignSigned(status, input, path, kInt16Range)));
      return;
    case NativeKind::kInt32:
      Store(native, static_cast<int32_t>(AssignSigned(status, input, path, kInt32Range)));
      return;
    case NativeKind::kInt64:
      Store(native, AssignSigned(status, input, path, kInt64Range));
      return;
    case NativeKind::kUInt8:
      Store(native, static_cast<uint8_t>(AssignUnsigned(status, input, path, kUint8Range)));
      return;
    case NativeKind::kUInt16:
      Store(native, static_cast<uint16_t>(AssignUnsigned(status, input, path, kUint16Range)));
      return;
    case NativeKind::kUInt32:
      Store(native, static_cast<uint32_t>(AssignUnsigned(status, input, path, kUint32Range)));
      return;
    case NativeKind::kUInt64:
      Store(native, AssignUnsigned(status, input, path, kUint64Range));
      return;
    case NativeKind::kFloat:
      Store(native, static_cast<float>(AssignDouble(status, input, path, kFloatRange)));
      return;
    case NativeKind::kDouble:
      Store(native, AssignDouble(status, input, path, kDoubleRange));
      return;
    case NativeKind::kString:
      *static_cast<std::string*>(native) = AssignString(status, input, path, registry);
      return;
    case NativeKind::kObject:
      AssignObject(status, *static_cast<BindingProperty*>(native), input);
      return;
    case NativeKind::kEnum: {
      const TypeRecord* enum_type = field.type.element_type;
      const int32_t number = AssignEnum(status, input, path, enum_type);
      if (enum_type != nullptr) StoreEnum(native, number, enum_type->native_size());
      return;
    }
    case NativeKind::kStruct:
      AssignStruct(status, native, input, path, field.type.element_type, registry);
      return;
    default:
      if (status.IsValid()) status.SetError(kUnsupportedFieldType);
      return;
  }
}

const TypeRecord* FindRegisteredType(const TypeRegistry& registry, const StaticTypeInfo* identity) {
  return identity == nullptr ? nullptr : registry.FindType(identity);
}

namespace ConversionDetail {

void FailNotCollection(PropertyResult& status, const BindingProperty& input, std::string_view path,
                       bool bool_elements) {
  if (!status.IsValid()) return;
  if (bool_elements && input.IsEmpty()) {
    status.SetError(FormatText(kRequired, path));
  } else {
    status.SetError(FormatText(kVectorNotCollection, path));
  }
}

void FailNotStructureMap(PropertyResult& status, std::string_view path) {
  if (status.IsValid()) status.SetError(FormatText(kMapNotStructure, path));
}

void AssignStringElements(PropertyResult& status, std::vector<std::string>& native,
                          std::span<const BindingProperty> elements, std::string_view path,
                          const TypeRegistry& registry) {
  native.reserve(elements.size());
  for (const BindingProperty& element : elements) {
    if (element.kind() == PropertyKind::kString) {
      native.emplace_back(element.GetString());
    } else if (element.IsEmpty()) {
      native.emplace_back();
    } else {
      native.push_back(AssignString(status, element, path, registry));
      if (!status.IsValid()) break;
    }
  }
  native.resize(elements.size());
}

}  // namespace ConversionDetail
}  // namespace Kestrel
