#include "remoting/argument_binding.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "binding/binding_property.h"
#include "binding/core_value_conversion.h"
#include "binding/type_registry.h"
#include "formats/json_reader.h"
#include "formats/msgpack_reader.h"
#include "formats/tree_builder.h"
#include "formats/yaml_reader.h"
#include "remoting/remoting_request.h"
#include "util/format_text.h"

namespace Kestrel {
namespace {

using Client::CoreArgument;
using Client::CoreRequest;

constexpr char kUnknownArgument[] = "Unknown argument '%1' for '%2'.";
constexpr char kInvalidLocation[] = "Argument '%1' for '%2' was specified in an invalid location.";
constexpr char kExpectedValue[] = "Expected value for argument '%1'.";
constexpr char kIndexFormat[] = "Index %1 is in an incorrect format";
constexpr char kIndexRange[] = "Index %1 is out of range";
constexpr char kPathTooDeep[] = "Argument '%1' for '%2' is nested deeper than %3 levels.";

// Indexes at or above this are out of range.
constexpr uint64_t kIndexLimit = uint64_t{1} << 31;

// How many dotted segments a name may have below its argument: the nesting
// bound of the body readers, so that a query builds no deeper tree than a body
// may. Copies, release and visiting walk trees without recursion, but the
// conversion to host values recurses once per level.
constexpr std::size_t kMaxPathDepth = kMaxNestingDepth;

// The binding state of one call.
struct BindingCall {
  CallResult& result;
  ArgumentSlots& slots;
  // The function's record; an empty record when the registry has none.
  const FunctionRecord& function;
  const FunctionRoute& route;
  // Elements added by dotted indexes so far (at most `kMaxIndexGrowth`).
  std::size_t index_growth = 0;

  // The name used in messages.
  const std::string& function_name() const { return route.function_name(); }
};

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
  }
  return true;
}

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

// Value of `c` as a digit of `base`, or `base` when it is none.
unsigned DigitValue(char c, unsigned base) {
  unsigned value = base;
  if (c >= '0' && c <= '9') value = static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'z') value = static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'Z') value = static_cast<unsigned>(c - 'A' + 10);
  return value < base ? value : base;
}

NativeKind ArgumentKind(const ArgumentRecord& argument) {
  return argument.type.effective().kind;
}

bool IsComposite(NativeKind kind) {
  return kind == NativeKind::kObject || kind == NativeKind::kVector || kind == NativeKind::kStruct;
}

// Returns the position of the first argument named exactly `name`, or -1.
std::ptrdiff_t FindArgument(const FunctionRecord& function, std::string_view name) {
  for (std::size_t i = 0; i < function.arguments.size(); ++i) {
    if (function.arguments[i].name == name) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

// Where each value comes from.

// Query pieces in order of first appearance; a later duplicate replaces the
// value in place.
using QueryValues = std::vector<std::pair<std::string, std::string>>;

void SetQueryValue(QueryValues& values, std::string name, std::string value) {
  for (auto& entry : values) {
    if (entry.first == name) {
      entry.second = std::move(value);
      return;
    }
  }
  values.emplace_back(std::move(name), std::move(value));
}

QueryValues SplitQuery(std::string_view path) {
  QueryValues values;
  const std::size_t mark = path.find('?');
  if (mark == std::string_view::npos || mark + 1 == path.size()) return values;
  // The position of each name in `values`: a query of many distinct names is
  // split in linear time, not by searching `values` for every piece.
  std::unordered_map<std::string, std::size_t> positions;
  auto set = [&values, &positions](std::string name, std::string value) {
    const auto [found, inserted] = positions.try_emplace(name, values.size());
    if (inserted) {
      values.emplace_back(std::move(name), std::move(value));
    } else {
      values[found->second].second = std::move(value);
    }
  };
  std::string_view query = path.substr(mark + 1);
  while (true) {
    const std::size_t end = query.find('&');
    const std::string_view piece = query.substr(0, end);
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos) {
      set(UrlDecode(piece), std::string());
    } else {
      set(UrlDecode(piece.substr(0, equals)), UrlDecode(piece.substr(equals + 1)));
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return values;
}

// Header values of arguments that accept headers, keyed by the argument's own
// name.
QueryValues HeaderCandidates(const CoreRequest& request, const BindingCall& call) {
  QueryValues candidates;
  if (request.headers == nullptr || request.header_count == 0) return candidates;
  TextMap headers;
  for (uint32_t i = 0; i < request.header_count; ++i) {
    const Client::CoreHeader& header = request.headers[i];
    if (header.name == nullptr) continue;
    headers[header.name] = header.value != nullptr ? header.value : "";
  }
  const auto& arguments = call.function.arguments;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const ArgumentLocation location = call.route.LocationAt(i);
    if (location != ArgumentLocation::kAny && location != ArgumentLocation::kHeader) continue;
    std::string lowered = arguments[i].name;
    for (char& c : lowered) c = AsciiLower(c);
    auto found = headers.find(lowered);
    if (found != headers.end()) SetQueryValue(candidates, arguments[i].name, found->second);
  }
  return candidates;
}

// The position of the argument the body binds to: the first whose location is
// the body; the number of arguments when none is.
std::size_t BodyArgument(const BindingCall& call) {
  std::size_t position = 0;
  const std::size_t count = call.function.arguments.size();
  while (position < count && call.route.LocationAt(position) != ArgumentLocation::kBody) {
    ++position;
  }
  return position;
}

// The bytes of the body that its reader reads. MessagePack reads
// `body_length` bytes. JSON and YAML bodies are NUL-terminated texts and the
// length serves MessagePack, so a host may leave it 0: the text then runs to
// its NUL. A length that is given bounds the text, and a NUL inside it still
// ends the text early.
std::string_view BodyBytes(const CoreRequest& request, BodyContent content) {
  if (content == BodyContent::kMessagePack) {
    return std::string_view(request.body, request.body_length);
  }
  if (request.body_length == 0) return std::string_view(request.body);
  const void* nul = std::memchr(request.body, '\0', request.body_length);
  const std::size_t length =
      nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - request.body)
                     : request.body_length;
  return std::string_view(request.body, length);
}

// The readers: how a value is converted once its source is known.

// Reads `bytes` with the reader of `content` (not `kUnsupported`). Stores the
// number of bytes MessagePack consumed in `*consumed` unless it is nullptr.
PropertyResult ReadContent(BodyContent content, std::string_view bytes, std::size_t* consumed) {
  switch (content) {
    case BodyContent::kJson:
      return ParseJson(bytes.data(), bytes.size());
    case BodyContent::kYaml:
      return ParseYaml(bytes);
    case BodyContent::kMessagePack:
      return ParseMessagePack(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                              consumed);
    case BodyContent::kUnsupported:
      break;
  }
  return PropertyResult();
}

// How the text value `value` of a composite argument is read, the first rule
// that applies: MessagePack by its first byte, JSON or YAML by how `text`
// (the value up to its first NUL) starts; `kUnsupported` when none applies
// and the text is a string.
BodyContent TextContentClass(std::string_view value, std::string_view text) {
  if (LooksLikeMessagePack(reinterpret_cast<const uint8_t*>(value.data()), value.size())) {
    return BodyContent::kMessagePack;
  }
  const std::string owned(text);
  if (LooksLikeJson(owned.c_str())) return BodyContent::kJson;
  if (LooksLikeYaml(owned.c_str())) return BodyContent::kYaml;
  return BodyContent::kUnsupported;
}

// The message of a text value that the reader of `content` refuses.
const char* DecodeFailureFormat(BodyContent content) {
  switch (content) {
    case BodyContent::kMessagePack:
      return "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
    case BodyContent::kJson:
      return "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
    default:
      return "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
  }
}

// Decodes `value` into `target`: with `composite` set, MessagePack, JSON or
// YAML when the text looks like one, otherwise (and always without
// `composite`) a string. `argument_name` and `function_name` name the value
// in messages. Returns false after recording a decoding failure in `result`;
// `target` is then unchanged.
bool DecodeTextValue(CallResult& result, BindingProperty& target, std::string_view function_name,
                     std::string_view argument_name, std::string_view value, bool composite) {
  // Text values are read as C texts: anything after an embedded NUL is not
  // part of a JSON or YAML value or of a string.
  const std::string_view text = value.substr(0, value.find('\0'));
  const BodyContent content = composite ? TextContentClass(value, text) : BodyContent::kUnsupported;
  if (content == BodyContent::kUnsupported) {
    target.SetString(text);
    return true;
  }
  PropertyResult parsed =
      ReadContent(content, content == BodyContent::kMessagePack ? value : text, nullptr);
  if (!parsed.IsValid()) {
    const char* format = DecodeFailureFormat(content);
    SetFailure(result, FormatText(format, argument_name, function_name, parsed.GetError()));
    return false;
  }
  target = static_cast<BindingProperty&&>(parsed);
  return true;
}

// Binding values to arguments.

// Reads the index segment `segment` (base prefixes "0x" and "0" allowed).
// Returns false after recording "Index %1 is in an incorrect format" or
// "Index %1 is out of range".
bool ParseIndexSegment(CallResult& result, std::string_view segment, std::size_t* index) {
  // Base prefixes as in C's unsigned conversion with base 0: "0x" followed by
  // a hex digit is hexadecimal, another leading "0" octal, else decimal.
  unsigned base = 10;
  std::size_t position = 0;
  if (segment.size() >= 3 && segment[0] == '0' && (segment[1] == 'x' || segment[1] == 'X') &&
      DigitValue(segment[2], 16) < 16) {
    base = 16;
    position = 2;
  } else if (!segment.empty() && segment[0] == '0') {
    base = 8;
  }
  uint64_t value = 0;
  bool overflow = false;
  const std::size_t digits_start = position;
  for (; position < segment.size(); ++position) {
    const unsigned digit = DigitValue(segment[position], base);
    if (digit >= base) break;
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / base) overflow = true;
    value = overflow ? value : value * base + digit;
  }
  if (position == digits_start || position != segment.size()) {
    SetFailure(result, FormatText(kIndexFormat, segment));
    return false;
  }
  if (overflow || value >= kIndexLimit) {
    SetFailure(result, FormatText(kIndexRange, segment));
    return false;
  }
  *index = static_cast<std::size_t>(value);
  return true;
}

// Binds `value` as a string below `slot` along the dotted `path` of field
// names and indexes. Returns false after recording a malformed or out of
// range index.
bool BindPath(BindingCall& call, BindingProperty& slot, std::string_view path,
              std::string_view value) {
  BindingProperty* node = &slot;
  while (true) {
    const std::size_t end = path.find('.');
    const std::string_view segment = path.substr(0, end);
    if (!segment.empty() && IsDecimalDigit(segment[0])) {
      std::size_t index = 0;
      if (!ParseIndexSegment(call.result, segment, &index)) return false;
      const std::size_t size = node->kind() == PropertyKind::kCollection ? node->Size() : 0;
      if (index >= size) {
        const std::size_t growth = index - size + 1;
        if (growth > kMaxIndexGrowth - call.index_growth) {
          SetFailure(call.result, FormatText(kIndexRange, segment));
          return false;
        }
        call.index_growth += growth;
      }
      node = &node->At(index);
    } else {
      node = &node->Field(segment);
    }
    if (end == std::string_view::npos) {
      return DecodeTextValue(call.result, *node, call.function_name(), segment, value, false);
    }
    path.remove_prefix(end + 1);
  }
}

// Binds the whole text `value` to `slot` of `argument`: an empty value gives
// true, an empty structure or an empty collection by the argument's kind, or
// fails. Returns false after recording the failure.
bool BindValue(BindingCall& call, BindingProperty& slot, const ArgumentRecord& argument,
               std::string_view value) {
  const NativeKind kind = ArgumentKind(argument);
  if (value.empty()) {
    switch (kind) {
      case NativeKind::kBool:
        slot.SetBool(true);
        return true;
      case NativeKind::kObject:
      case NativeKind::kStruct:
        slot.Clear();
        slot.MakeStructure();
        return true;
      case NativeKind::kVector:
        slot.Clear();
        slot.MakeCollection();
        return true;
      default:
        SetFailure(call.result, FormatText(kExpectedValue, argument.name));
        return false;
    }
  }
  return DecodeTextValue(call.result, slot, call.function_name(), argument.name, value,
                         IsComposite(kind));
}

// Binds the text `value` to the argument named by the part of `name` before
// its first '.', or below it along the rest of `name` (at most `kMaxPathDepth`
// segments), for a value coming from `location`. Returns false after recording
// the failure in `call.result`.
bool BindNamed(BindingCall& call, std::string_view name, std::string_view value,
               ArgumentLocation location) {
  const std::size_t dot = name.find('.');
  const std::string_view argument_name = name.substr(0, dot);
  const std::ptrdiff_t found = FindArgument(call.function, argument_name);
  if (found < 0) {
    SetFailure(call.result, FormatText(kUnknownArgument, argument_name, call.function_name()));
    return false;
  }
  const auto position = static_cast<std::size_t>(found);
  const ArgumentLocation allowed = call.route.LocationAt(position);
  if (allowed != ArgumentLocation::kAny && allowed != location) {
    SetFailure(call.result, FormatText(kInvalidLocation, argument_name, call.function_name()));
    return false;
  }
  if (dot != std::string_view::npos &&
      static_cast<std::size_t>(std::count(name.begin() + dot, name.end(), '.')) > kMaxPathDepth) {
    SetFailure(call.result, FormatText(kPathTooDeep, argument_name, call.function_name(),
                                       static_cast<uint64_t>(kMaxPathDepth)));
    return false;
  }
  BindingProperty& slot = call.slots[position];
  if (dot == std::string_view::npos) {
    return BindValue(call, slot, call.function.arguments[position], value);
  }
  return BindPath(call, slot, name.substr(dot + 1), value);
}

bool BindHostArguments(BindingCall& call, const CoreRequest& request, std::size_t offset) {
  if (request.arguments == nullptr) return true;
  const auto& arguments = call.function.arguments;
  for (uint32_t i = 0; i < request.argument_count; ++i) {
    const CoreArgument& entry = request.arguments[i];
    std::ptrdiff_t position = -1;
    if (entry.name != nullptr) {
      position = FindArgument(call.function, entry.name);
      if (position < 0) {
        SetFailure(call.result, FormatText(kUnknownArgument, entry.name, call.function_name()));
        return false;
      }
    } else {
      const std::size_t index = offset + i;
      if (index >= arguments.size()) {
        SetFailure(call.result, FormatText(kUnknownArgument, static_cast<uint64_t>(index),
                                           call.function_name()));
        return false;
      }
      position = static_cast<std::ptrdiff_t>(index);
    }
    const ArgumentRecord& argument = arguments[static_cast<std::size_t>(position)];
    std::string message;
    if (!FromCoreValue(entry.value, call.slots[static_cast<std::size_t>(position)], argument.name,
                       &message)) {
      SetFailure(call.result, message);
      return false;
    }
  }
  return true;
}

// Reads the body into the first body argument, by the request's content
// type. Returns false after recording the failure.
bool BindBody(BindingCall& call, const CoreRequest& request) {
  if (request.body == nullptr) return true;
  const std::size_t position = BodyArgument(call);
  if (position == call.function.arguments.size()) return true;
  const BodyContent content = BodyContentClass(request.content_type);
  if (content == BodyContent::kUnsupported) {
    SetFailure(call.result, "Unsupported body content type");
    return false;
  }
  std::size_t consumed = 0;
  PropertyResult parsed = ReadContent(content, BodyBytes(request, content), &consumed);
  if (!parsed.IsValid()) {
    TakeFailedParse(call.result, parsed);
    return false;
  }
  if (content == BodyContent::kMessagePack && consumed < request.body_length) {
    // "MessgePack" is the exact text hosts and callers match on: keep it.
    SetFailure(call.result, "Extra MessgePack data found in body");
    return false;
  }
  call.slots[position] = static_cast<BindingProperty&&>(parsed);
  return true;
}

}  // namespace

BodyContent BodyContentClass(const char* content_type) {
  if (content_type == nullptr) return BodyContent::kUnsupported;
  const std::string_view text(content_type);
  if (StartsWithIgnoringCase(text, "application/x-msgpack")) return BodyContent::kMessagePack;
  if (StartsWithIgnoringCase(text, "application/json") ||
      StartsWithIgnoringCase(text, "application/vnd.api+json")) {
    return BodyContent::kJson;
  }
  if (StartsWithIgnoringCase(text, "application/x-yaml")) return BodyContent::kYaml;
  return BodyContent::kUnsupported;
}

bool BindArguments(const CoreRequest& request, const MatchState& state,
                   const FunctionRecord& function, CallResult& result, ArgumentSlots& slots) {
  BindingCall call{result, slots, function, *state.route};

  // Where the named values come from: headers by lower-cased argument name,
  // and the query.
  const QueryValues header_values = HeaderCandidates(request, call);
  const QueryValues query_values = SplitQuery(state.path);

  // Named binding: headers, then path parameters, then the query, so that a
  // later source overwrites an earlier one.
  slots.resize(function.arguments.size());
  for (std::size_t i = 0; i < function.arguments.size(); ++i) {
    const ArgumentRecord& argument = function.arguments[i];
    if (ArgumentKind(argument) == NativeKind::kBool && !argument.optional) slots[i].SetBool(false);
  }
  for (const auto& [name, value] : header_values) {
    if (!BindNamed(call, name, value, ArgumentLocation::kHeader)) return false;
  }
  for (const auto& [name, value] : state.path_parameters) {
    if (!BindNamed(call, name, value, ArgumentLocation::kPath)) return false;
  }
  for (const auto& [name, value] : query_values) {
    if (!BindNamed(call, name, value, ArgumentLocation::kQuery)) return false;
  }
  // Host arguments; unnamed ones follow the path parameters. Then the body,
  // into the first body argument.
  return BindHostArguments(call, request, state.path_parameters.size()) && BindBody(call, request);
}

}  // namespace Kestrel
