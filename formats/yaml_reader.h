// YAML reading: one YAML document (a request body or argument) into a
// `BindingProperty`, and the sniffing test for YAML bodies that arrive without
// a content type.
//
// Tokens and events come from libyaml; this reader builds the value through the
// shared `TreeBuilder` and applies its own rules: plain scalars resolve to
// null, numbers, YAML 1.1 bool words or strings; "!!str", "!!int", "!!float"
// and "!!bool" tags are honoured and any other tag is refused; anchors and
// aliases copy the anchored value as it is when the alias is read; keys are
// non-empty string scalars; one document only. The result owns its tree.
//
// Choices for the less common inputs: a repeated key addresses the same member,
// where a later mapping adds to an earlier mapping, a later sequence appends to
// an earlier sequence and any other later value replaces the earlier one; an
// alias or an empty text (up to its first NUL) as a key is an invalid key; a
// "!!bool" text that is no bool word is refused; an alias whose anchored node
// is open again around it (through a repeated key) is cyclic. Containers nest
// at most `kMaxNestingDepth` deep, aliases included.
//
//   PropertyResult doc = ParseYaml("a: &x 1\nb: *x\n");
//   doc.GetField("b").GetUnsigned();     // 1
//   ParseYaml("[1, 2").GetError();       // "YAML parser error: ... At line: 1 col: 5"
#ifndef VYN_FORMATS_YAML_READER_H_
#define VYN_FORMATS_YAML_READER_H_

#include <cstddef>
#include <string_view>

#include "binding/binding_property.h"

namespace Kestrel {

// Largest number of values that aliases of one document may copy in total;
// more is refused so that a few lines of nested aliases cannot expand into an
// exponentially large tree.
inline constexpr std::size_t kMaxYamlAliasValues = std::size_t{1} << 20;

// Reads the YAML document `text` (all `text.size()` bytes; need not be
// NUL-terminated). Returns the value (empty for an empty text), or an invalid
// result whose message says what was refused and where. Never throws for bad
// input.
[[nodiscard]] PropertyResult ParseYaml(std::string_view text);

// True when `text`, after any leading spaces, begins with "---". False for
// nullptr.
bool LooksLikeYaml(const char* text);

}  // namespace Kestrel

#endif  // VYN_FORMATS_YAML_READER_H_
