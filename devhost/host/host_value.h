// `HostValue`: a host value (`CoreValue`) owned by the stand-in host.
//
// The host keeps copies of what the plugin hands it (request arguments, event
// payloads, response values) and builds the values it hands the plugin
// (arguments of a call, event payloads, scripted responses). A `HostValue`
// owns its whole tree: every string, blob, array and entry name is an owned
// part, freed by `ReleaseCoreValue` when the `HostValue` is destroyed. It is
// move-only; `Clone()` deep-copies. JSON text converts in both directions.
//
//   MaybeType<HostValue> value = HostValue::FromJson(R"({"names":["Ann"]})");
//   value.value().ToJson();                      // {"names":["Ann"]}
//   HostValue copy = HostValue::CopyOf(event->payload);  // borrowed parts copied
#ifndef VYN_DEVHOST_HOST_HOST_VALUE_H_
#define VYN_DEVHOST_HOST_HOST_VALUE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "host_abi/host_records.h"
#include "util/failure.h"

namespace Kestrel::DevHost {

using Client::CoreValue;

// Deepest nesting of arrays and objects that `FromJson` accepts.
inline constexpr int kMaxJsonDepth = 256;

class HostValue {
 public:
  // A nil value.
  HostValue() : value_{} {}
  HostValue(HostValue&& other) noexcept;
  HostValue& operator=(HostValue&& other) noexcept;
  HostValue(const HostValue&) = delete;
  HostValue& operator=(const HostValue&) = delete;
  ~HostValue();

  // Deep copy of `value`: borrowed strings and blobs become owned copies, so
  // the copy outlives whatever `value` pointed to. Kinds outside 0..10 and
  // parts the heap cannot hold become nil.
  static HostValue CopyOf(const CoreValue& value);

  // Parses JSON text: null, booleans, integers (signed when they fit int64,
  // else unsigned), other numbers as float, strings, arrays as collections and
  // objects as structures. Fails with the parser's message and offset, or when
  // nesting exceeds `kMaxJsonDepth`.
  static MaybeType<HostValue> FromJson(std::string_view text);

  // Makes an owned string value.
  static HostValue String(std::string_view text);

  // Takes over `value` (which must own all its parts) and leaves it nil.
  static HostValue Adopt(CoreValue* value);

  // Deep copy of this value.
  HostValue Clone() const { return CopyOf(value_); }

  // Compact JSON text. Blobs become Base64 strings; a float that is not
  // finite becomes null; an entry without a name gets the name ""; in texts
  // and names every byte that is not part of valid UTF-8 becomes U+FFFD, so
  // the result is always valid JSON. Throws std::bad_alloc when memory runs
  // out (never writes through a failed allocation).
  std::string ToJson() const;

  // The value itself; parts stay owned by this object.
  const CoreValue& get() const { return value_; }
  Client::CoreValueKind kind() const { return value_.kind; }
  bool is_nil() const { return value_.kind == Client::CoreValueKind::kNil; }

  // Hands the value (and ownership of its parts) to the caller, leaving this
  // object nil. The caller frees it with `ReleaseCoreValue`.
  CoreValue Release();

 private:
  CoreValue value_;
};

// Compact JSON text of any host value (see `HostValue::ToJson`); the value is
// only read. Fails only by throwing std::bad_alloc.
std::string CoreValueToJson(const CoreValue& value);

// About how many bytes `value` and its parts take (texts, blobs, nested
// values); used to bound what a host keeps.
size_t CoreValueBytes(const CoreValue& value);

// `text` with every byte that is not part of a valid UTF-8 sequence (a stray
// continuation byte, a truncated or overlong sequence, a surrogate, a code
// point above U+10FFFF) replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// Returns the text of a string value (kinds 5 and 6), or "" for other kinds.
// A borrowed string is read up to its NUL; an owned one by its length.
std::string_view CoreValueText(const CoreValue& value);

// Returns the value of the entry named `name` of a structure value, or nullptr
// when `value` is not a structure or has no such entry.
const CoreValue* FindEntry(const CoreValue& value, std::string_view name);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_HOST_HOST_VALUE_H_
