// Conversions between a `BindingProperty` and the host's plain `CoreValue`
// record: `ToCoreValue` for results, events and outgoing arguments,
// `FromCoreValue` for the arguments, responses and event payloads the host
// delivers.
//
// Ownership: everything `ToCoreValue` puts into a `CoreValue` (owned string
// copies, blob copies, element and entry arrays, entry names) comes from the
// counting allocator and belongs to that value until `ReleaseToCoreValue` (or
// the host-record release it calls, `ReleaseCoreValue`) frees it.
// `FromCoreValue` copies everything it reads; the `CoreValue` stays the
// caller's.
//
// Host values are checked before they are trusted: a blob, collection or
// structure with a null data pointer and a non-zero count, a collection larger
// than a property collection can be, or nesting deeper than
// `kMaxCoreValueDepth` is refused with the incompatible-type message naming the
// offending kind; a null string pointer reads as the empty string and a null
// entry name as the empty name.
//
//   Client::CoreValue value;
//   ToCoreValue(result, value, &registry);
//   ... hand `value` to the host, then ...
//   ReleaseToCoreValue(value);
#ifndef VYN_BINDING_CORE_VALUE_CONVERSION_H_
#define VYN_BINDING_CORE_VALUE_CONVERSION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/native_walker.h"
#include "host_abi/host_records.h"

namespace Kestrel {

class TypeRegistry;

// Deepest nesting of collections and structures `FromCoreValue` accepts, the
// same bound as the body readers; it also stops a host value that refers to
// itself.
inline constexpr std::size_t kMaxCoreValueDepth = 512;

// The caller's error record: the first 17 bytes of a `CoreResponse` (the value,
// the error text pointer and the error flag).
inline constexpr std::size_t kCoreErrorTextOffset = offsetof(Client::CoreResponse, error_text);
inline constexpr std::size_t kCoreErrorFlagOffset = offsetof(Client::CoreResponse, error_flag);
inline constexpr std::size_t kCoreErrorRecordSize = kCoreErrorFlagOffset + 1;
static_assert(sizeof(void*) != 4 || kCoreErrorRecordSize == 17);
static_assert(sizeof(void*) != 4 || kCoreErrorTextOffset == 12);

// Fills `out` with the host form of `property`; its previous content is
// overwritten, not released. `registry` may be nullptr (enums then go out as
// their numbers). Always succeeds; a part whose memory cannot be allocated is
// left nil.
void ToCoreValue(const BindingProperty& property, Client::CoreValue& out,
                 const TypeRegistry* registry);

// Fills `out` with the host form of the walked native value, exactly as
// `ToCoreValue` of its converted tree would, without the tree; its previous
// content is overwritten, not released. Returns false when the value cannot be
// converted (an unregistered struct, native_walker.h): `out` is then released
// and nil, and the conversion into a tree gives the failure's message.
// `registry` may be null, as for the tree.
[[nodiscard]] bool ToCoreValue(const NativeWalk& walk, Client::CoreValue& out,
                               const TypeRegistry* registry);

// Frees everything `ToCoreValue` allocated in `value` and leaves it nil.
void ReleaseToCoreValue(Client::CoreValue& value);

// Fills `out` (cleared first) with a copy of `value`. Returns false when the
// value holds an unknown kind or a malformed part: the message names `name` and
// the kind, and is written into `error_record` (cleared, the message in newly
// allocated memory at bytes 12..15, byte 16 set to 1; the record's release
// frees it); `error_record` nullptr skips that. Elements converted before the
// failing one stay in `out`.
[[nodiscard]] bool FromCoreValue(uint8_t* error_record, const Client::CoreValue& value,
                                 BindingProperty& out, std::string_view name);

// As above, with the message stored in `*message` (when not nullptr) instead of
// an error record.
[[nodiscard]] bool FromCoreValue(const Client::CoreValue& value, BindingProperty& out,
                                 std::string_view name, std::string* message);

// The name text of a host value kind in messages: "bool", "signed", "unsigned",
// "float", "string" (5, 6), "blob" (7, 8), "collection", "structure"; "" for
// nil and any other number. Never nullptr.
const char* CoreValueKindName(uint32_t kind);

}  // namespace Kestrel

#endif  // VYN_BINDING_CORE_VALUE_CONVERSION_H_
