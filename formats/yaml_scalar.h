// What the text of a YAML scalar means under the core schema: null, a
// boolean, an integer, a float or a string, with the words YAML 1.1 readers
// also take ("yes", "off", "~", ...). The YAML reader resolves every plain
// (unquoted, untagged) scalar here and the words of a "!!bool" scalar.
// Pure functions of their arguments: nothing is owned, any thread may call.
//
//   ResolvePlainScalar("12", true).kind;     // kUnsigned, unsigned_value 12
//   ResolvePlainScalar("-0.5", true).kind;   // kDouble
//   ResolvePlainScalar("Yes", true).kind;    // kBool, boolean true
#ifndef VYN_FORMATS_YAML_SCALAR_H_
#define VYN_FORMATS_YAML_SCALAR_H_

#include <cstdint>
#include <string_view>

namespace Kestrel {

enum class YamlScalarKind : uint8_t { kNull, kBool, kSigned, kUnsigned, kDouble, kString };

// A resolved scalar: the field of its kind holds the value; a string is the
// scalar's own text.
struct YamlScalar {
  YamlScalarKind kind;
  bool boolean = false;
  int64_t signed_value = 0;
  uint64_t unsigned_value = 0;
  double number = 0.0;
};

// Resolves a plain scalar. `text` must be followed by a NUL byte (libyaml's
// buffers are), as the number reading relies on it; a text with an embedded
// NUL is never a number. Whole numbers become integers (saturating beyond the
// 64-bit ranges, "-0" is the unsigned 0); infinities stay strings.
// `decimal_dot` says whether the current locale writes its decimal point as
// '.' (`LocaleUsesDecimalDot`). Never fails.
YamlScalar ResolvePlainScalar(std::string_view text, bool decimal_dot);

// Returns `kBool` with the value of a boolean word, else `kString`.
YamlScalar ResolveBoolWord(std::string_view text);

// Whether the current locale writes its decimal point as '.'. Thread-safe as
// far as the C library's `localeconv` is.
bool LocaleUsesDecimalDot();

}  // namespace Kestrel

#endif  // VYN_FORMATS_YAML_SCALAR_H_
