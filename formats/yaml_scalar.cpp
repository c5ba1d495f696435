#include "formats/yaml_scalar.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace Kestrel {
namespace {

constexpr std::string_view kNullWords[] = {"", "~", "null", "Null", "NULL"};
constexpr std::string_view kTrueWords[] = {"true", "True", "TRUE", "y",  "Y", "yes",
                                           "Yes",  "YES",  "on",   "On", "ON"};
constexpr std::string_view kFalseWords[] = {"false", "False", "FALSE", "n",   "N",  "no",
                                            "No",    "NO",    "off",   "Off", "OFF"};

template <std::size_t N>
bool IsOneOf(std::string_view text, const std::string_view (&words)[N]) {
  for (std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}

// Cheap pre-checks on the first byte, so that most plain scalars skip most
// word comparisons and the call of `strtod`.
bool MayBeNullWord(std::string_view text) {
  return text.empty() || text[0] == '~' || text[0] == 'n' || text[0] == 'N';
}

bool MayBeBoolWord(std::string_view text) {
  if (text.empty()) return false;
  switch (text[0]) {
    case 't':
    case 'T':
    case 'f':
    case 'F':
    case 'y':
    case 'Y':
    case 'n':
    case 'N':
    case 'o':
    case 'O':
      return true;
    default:
      return false;
  }
}

// False when `strtod` cannot take the text as a number: it begins with an
// ASCII letter that starts neither "inf"/"infinity" nor "nan".
bool MayBeNumber(std::string_view text) {
  const char first = text[0];
  const bool letter = (first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z');
  return !letter || first == 'i' || first == 'I' || first == 'n' || first == 'N';
}

// A plain decimal integer of at most 15 digits, optionally negative: `strtod`
// would give exactly this value, so it is read without it. Returns false for
// every other text.
bool ReadShortInteger(std::string_view text, bool* negative, uint64_t* magnitude) {
  std::size_t i = 0;
  *negative = !text.empty() && text[0] == '-';
  if (*negative) i = 1;
  const std::size_t digits = text.size() - i;
  if (digits == 0 || digits > 15) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const auto digit = static_cast<unsigned>(static_cast<unsigned char>(text[i]) - '0');
    if (digit > 9) return false;
    value = value * 10 + digit;
  }
  *magnitude = value;
  return true;
}

// Reads a text that begins like a decimal number (a digit, '.' or '-' and one
// of those) with `std::from_chars`. When it takes all of the text, `strtod`
// would take all of it too and give the same value (both round correctly, and
// neither reads a hexadecimal number without its prefix), at several times the
// cost; `strtod` decides every other text. Only for a locale whose decimal
// point is '.', the one `from_chars` knows.
bool ReadPlainDecimal(std::string_view text, double* number) {
  auto starts_number = [](char c) { return (c >= '0' && c <= '9') || c == '.'; };
  if (text.empty()) return false;
  if (!starts_number(text[0]) && !(text[0] == '-' && text.size() > 1 && starts_number(text[1]))) {
    return false;  // keeps "inf", "nan" and a leading '+' or blank with `strtod`
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *number);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

// Whether the current locale writes its decimal point as '.', as `from_chars` does.
bool LocaleUsesDecimalDot() {
  const char* point = std::localeconv()->decimal_point;
  return point[0] == '.' && point[1] == '\0';
}

namespace {

YamlScalar Signed(int64_t number) {
  YamlScalar value{YamlScalarKind::kSigned};
  value.signed_value = number;
  return value;
}

YamlScalar Unsigned(uint64_t number) {
  YamlScalar value{YamlScalarKind::kUnsigned};
  value.unsigned_value = number;
  return value;
}

}  // namespace

YamlScalar ResolveBoolWord(std::string_view text) {
  YamlScalar value{YamlScalarKind::kBool};
  if (IsOneOf(text, kTrueWords)) {
    value.boolean = true;
  } else if (!IsOneOf(text, kFalseWords)) {
    value.kind = YamlScalarKind::kString;
  }
  return value;
}

YamlScalar ResolvePlainScalar(std::string_view text, bool decimal_dot) {
  bool negative = false;
  uint64_t magnitude = 0;
  if (ReadShortInteger(text, &negative, &magnitude)) {
    // As through `strtod`: "-0" is the integral 0, which is not negative.
    if (negative && magnitude != 0) return Signed(-static_cast<int64_t>(magnitude));
    return Unsigned(magnitude);
  }
  if (MayBeNullWord(text) && IsOneOf(text, kNullWords)) return {YamlScalarKind::kNull};
  if (!text.empty() && MayBeNumber(text)) {
    // The scalar's text is NUL-terminated by libyaml; the whole of it must be
    // the number (an embedded NUL leaves characters over).
    const char* begin = text.data();
    const char* end = begin + text.size();
    double number = 0;
    if (!decimal_dot || !ReadPlainDecimal(text, &number)) {
      char* stop = nullptr;
      const int saved_errno = errno;
      number = std::strtod(begin, &stop);
      errno = saved_errno;
      end = stop;
    }
    if (end == begin + text.size() && !std::isinf(number)) {
      if (std::isnan(number) || std::trunc(number) != number) {
        YamlScalar value{YamlScalarKind::kDouble};
        value.number = number;
        return value;
      }
      if (number >= 0) {
        // 2^64 and beyond saturate to the unsigned maximum.
        return Unsigned(number >= 18446744073709551616.0 ? std::numeric_limits<uint64_t>::max()
                                                         : static_cast<uint64_t>(number));
      }
      // Below -2^63 saturates to the signed minimum.
      return Signed(number < -9223372036854775808.0 ? std::numeric_limits<int64_t>::min()
                                                    : static_cast<int64_t>(number));
    }
  }
  if (MayBeBoolWord(text)) return ResolveBoolWord(text);
  return {YamlScalarKind::kString};
}

}  // namespace Kestrel
