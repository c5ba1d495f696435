// JSON reading: text into a `BindingProperty`, driven by RapidJSON's SAX reader
// with its default flags (strict JSON, one root value, no comments, no NaN)
// straight into the tree through the shared `TreeBuilder`, with no
// intermediate document. The returned result owns its tree; the reader keeps
// nothing.
//
// Mapping of the parse events:
// - null leaves the target as it is (a new element or member stays empty);
// - an integer read as non-negative gives the unsigned kind, a negative one
//   (and "-0") the signed kind; fractions, exponents and integers outside the
//   64-bit ranges give the float kind;
// - strings and keys are cut at their first NUL (a \u0000 escape ends them);
// - a repeated key addresses the same member: a later scalar replaces it, a
//   later object adds members to it, a later array appends to it.
// Input ends at its length or at its first NUL byte, whichever comes first.
// Input nested deeper than `kMaxNestingDepth` (512) containers is refused, so
// that neither the recursive parser nor a later walk of the tree can exhaust
// the stack.
//
//   PropertyResult value = ParseJson(R"({"ids":[1,2]})");
//   if (!value.IsValid()) return Failure(value.GetError());
//   value.GetField("ids").GetAt(1).GetUnsigned();  // 2
#ifndef VYN_FORMATS_JSON_READER_H_
#define VYN_FORMATS_JSON_READER_H_

#include <cstddef>
#include <string>

#include "binding/binding_property.h"

namespace Kestrel {

// Parses the JSON text `text` (up to its first NUL). Returns the value; empty
// or blank text gives a valid empty value; malformed input gives an invalid
// result whose error is "Error: <reason> at offset <byte offset>.".
[[nodiscard]] PropertyResult ParseJson(const std::string& text);
// As above for a NUL-terminated text; nullptr gives a valid empty value.
[[nodiscard]] PropertyResult ParseJson(const char* text);
// As above for the `length` bytes at `data`, which need no terminating NUL and
// are never read past `length` (an embedded NUL still ends the text). `data`
// may be nullptr only with length 0.
[[nodiscard]] PropertyResult ParseJson(const char* data, std::size_t length);

// Returns true when the first character of `text` after any leading spaces
// (the space character only) is '{' or '['; false for nullptr.
bool LooksLikeJson(const char* text);

namespace JsonInternal {

// RapidJSON allocator over the plugin's counted heap (operator new), so that
// the parser's and the writer's scratch stacks are counted like every other
// allocation of the library. Shared by the JSON reader and writer.
class HeapAllocator {
 public:
  static constexpr bool kNeedFree = true;
  // Returns nullptr for size 0; throws std::bad_alloc when out of memory.
  void* Malloc(std::size_t size);
  // Moves the first min(old_size, new_size) bytes of `block` (may be nullptr)
  // into a new block and frees `block`; size 0 frees and returns nullptr, any
  // other size never returns nullptr (throws std::bad_alloc instead).
  void* Realloc(void* block, std::size_t old_size, std::size_t new_size);
  // Frees a block from `Malloc` or `Realloc`; nullptr is ignored.
  static void Free(void* block);
};

}  // namespace JsonInternal
}  // namespace Kestrel

#endif  // VYN_FORMATS_JSON_READER_H_
