// Text-to-number rules of the conversions: a text becomes a signed integer
// (`strtoll`, base 0), an unsigned integer (`strtoull`, base 0) or a double
// (`strtod`), checked against caller-given bounds, and every rejection gets the
// exact user-visible message naming the text, the value's path and the type.
//
// The whole text must be consumed (leading white space and a sign are
// accepted; an empty text is 0). Leftover characters are an incorrect format;
// a number outside the bounds, or an overflow or underflow reported by the
// parser, is out of range; an unsigned text that begins with '-' (after any
// leading white space) is out of range. The format test comes first. Texts
// need not be NUL-terminated; an embedded NUL is a leftover character.
//
//   int64_t v = ParseSignedText(status, "0x7F", kInt8Range, "level");  // 127
//   ParseSignedText(status, "0x80", kInt8Range, "level");  // 0, status invalid:
//   // "Value 0x80 for 'level' of type int8 is out of range"
#ifndef VYN_BINDING_NUMBER_TEXT_H_
#define VYN_BINDING_NUMBER_TEXT_H_

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "binding/binding_property.h"

namespace Kestrel {

// Bounds of a signed destination and the type name its messages use.
struct SignedRange {
  int64_t min;
  int64_t max;
  const char* type_name;  // static text, never nullptr
};

// Bounds of an unsigned destination and the type name its messages use.
struct UnsignedRange {
  uint64_t min;
  uint64_t max;
  const char* type_name;  // static text, never nullptr
};

// Bounds of a floating destination and the type name its messages use.
struct DoubleRange {
  double min;
  double max;
  const char* type_name;  // static text, never nullptr
};

// The ranges of the native integer and floating kinds.
inline constexpr SignedRange kInt8Range{-128, 127, "int8"};
inline constexpr SignedRange kInt16Range{-32768, 32767, "int16"};
inline constexpr SignedRange kInt32Range{-2147483647 - 1, 2147483647, "int32"};
inline constexpr SignedRange kInt64Range{std::numeric_limits<int64_t>::min(),
                                         std::numeric_limits<int64_t>::max(), "int64"};
inline constexpr UnsignedRange kUint8Range{0, 255, "uint8"};
inline constexpr UnsignedRange kUint16Range{0, 65535, "uint16"};
inline constexpr UnsignedRange kUint32Range{0, 4294967295u, "uint32"};
inline constexpr UnsignedRange kUint64Range{0, std::numeric_limits<uint64_t>::max(), "uint64"};
// Largest finite single and double.
inline constexpr DoubleRange kFloatRange{-3.4028234663852886e38, 3.4028234663852886e38, "float"};
inline constexpr DoubleRange kDoubleRange{-1.7976931348623157e308, 1.7976931348623157e308,
                                          "double"};

// What a scan found.
enum class NumberTextStatus : uint8_t {
  kOk,
  kIncorrectFormat,  // characters left over after the number
  kOutOfRange,       // outside the bounds, overflow/underflow, or '-' for unsigned
};

// Scans `text` by the signed rule; `*value` receives the number on kOk, else 0.
// `value` must not be nullptr.
NumberTextStatus ScanSignedText(std::string_view text, const SignedRange& range, int64_t* value);
// Scans `text` by the unsigned rule; `*value` receives the number on kOk, else
// 0. `value` must not be nullptr.
NumberTextStatus ScanUnsignedText(std::string_view text, const UnsignedRange& range,
                                  uint64_t* value);
// Scans `text` by the floating rule; `*value` receives the number on kOk, else
// 0. `value` must not be nullptr. NaN passes the bounds test.
NumberTextStatus ScanDoubleText(std::string_view text, const DoubleRange& range, double* value);

// The message for a failed scan of `text` into `path` of type `type_name`:
// "Value %1 for '%2' of type %3 is in an incorrect format" or "... is out of
// range". Returns "" for kOk. `type_name` nullptr is treated as "".
std::string NumberTextMessage(NumberTextStatus status, std::string_view text, std::string_view path,
                              const char* type_name);

// Status-driven forms for the conversions: when `status` is already invalid
// they return 0 and do nothing; on a rejection they record the message with
// `SetError` and return 0; otherwise they return the number.
int64_t ParseSignedText(PropertyResult& status, std::string_view text, const SignedRange& range,
                        std::string_view path);
uint64_t ParseUnsignedText(PropertyResult& status, std::string_view text,
                           const UnsignedRange& range, std::string_view path);
double ParseDoubleText(PropertyResult& status, std::string_view text, const DoubleRange& range,
                       std::string_view path);

}  // namespace Kestrel

#endif  // VYN_BINDING_NUMBER_TEXT_H_
