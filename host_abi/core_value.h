// Making and releasing host values (`CoreValue`).
//
// A value the plugin fills owns the parts of its owned kinds: the text of an
// owned string, the bytes of an owned blob, the element array of a collection,
// the entry array of a structure and every entry name marked owned. All of
// them come from the counting allocator and are freed by `ReleaseCoreValue`,
// which walks the tree and leaves the value nil. Borrowed strings and blobs are
// never freed here; they belong to whoever lent them. The setters release
// what a value held first, so they need an initialised (e.g. zeroed) value.
//
//   CoreValue value{};
//   if (!SetOwnedString(&value, "text")) { /* heap exhausted; value is nil */ }
//   ReleaseCoreValue(&value);  // frees the copy, value is nil again
#ifndef VYN_PLUGIN_HOST_ABI_CORE_VALUE_H_
#define VYN_PLUGIN_HOST_ABI_CORE_VALUE_H_

#include <cstdint>
#include <string_view>

#include "host_abi/host_records.h"

namespace Kestrel::Client {

// Frees every owned part of `value` recursively and sets all its bytes to 0
// (kind nil). Borrowed parts are left alone; nullptr is ignored.
void ReleaseCoreValue(CoreValue* value);

// Returns a nil value.
CoreValue MakeNilValue();
// Returns a bool value (payload byte 0 or 1).
CoreValue MakeBoolValue(bool flag);
CoreValue MakeSignedValue(int64_t number);
CoreValue MakeUnsignedValue(uint64_t number);
CoreValue MakeFloatValue(double number);
// Returns a borrowed string over `text`, which must outlive the value; its
// length is that of `text` (0 for nullptr).
CoreValue MakeBorrowedStringValue(const char* text);

// Returns a counted, NUL-terminated copy of `text` (embedded NULs kept), or
// nullptr when the heap is exhausted. Freed with `CountingFree`.
char* CopyOwnedText(std::string_view text);

// Releases `*value`, then makes it an owned string holding a copy of `text`.
// Returns false and leaves `*value` nil when the heap is exhausted or the text
// is longer than a 32-bit length.
[[nodiscard]] bool SetOwnedString(CoreValue* value, std::string_view text);

// Releases `*value`, then makes it an owned blob holding a copy of `length`
// bytes at `data` (nullptr allowed for 0). Returns false and leaves `*value`
// nil when the heap is exhausted.
[[nodiscard]] bool SetOwnedBlob(CoreValue* value, const void* data, uint32_t length);

// Releases `*value`, then makes it a collection of `count` nil elements (no
// array for 0). Returns false and leaves `*value` nil when the heap is exhausted.
[[nodiscard]] bool SetCollection(CoreValue* value, uint32_t count);

// Releases `*value`, then makes it a structure of `count` entries, each with a
// null name and a nil value (no array for 0). Returns false and leaves
// `*value` nil when the heap is exhausted.
[[nodiscard]] bool SetStructure(CoreValue* value, uint32_t count);

// Gives `entry` an owned copy of `name`, freeing an owned name it held.
// Returns false and leaves the entry without a name when the heap is exhausted.
[[nodiscard]] bool SetEntryName(CoreStructEntry* entry, std::string_view name);

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_ABI_CORE_VALUE_H_
