// Positional message formatting: every message of the system is
// built by FormatText from a format string with numbered placeholders and a
// fixed list of typed arguments.
//
//   FormatText("%1 (%2)", "Not found", 404)          // "Not found (404)"
//   FormatText("%2 %1", "a", "b")                    // "b a"
//   FormatText("%1$5d|", 42)                         // "   42|"
//   FormatText("%1", int64_t{1} << 40)               // "1099511627776" (as '%lld')
//
// Grammar of a placeholder (after a '%' that is not followed by another '%'):
//
//   placeholder ::= "%" N                  -- N in 1..count: argument N, kind's defaults
//                 | "%" N "$" spec         -- argument N with a full specification
//                 | "%" spec               -- the next sequential argument
//   spec        ::= [flags] [width] ["." precision] [length] [conversion]
//   flags       ::= any run of "-+ #0"
//   width       ::= digits | "*" | "*" M "$"   -- '*' reads an int from an argument
//   length      ::= "L" | "j" | "t" | "z" | "h" | "hh" | "l" | "ll"
//   conversion  ::= any one character (absent only at the end of the format)
//
// Each argument has a kind that accepts a set of conversion characters; any
// other conversion character is replaced by the kind's default, so a format can
// never read an argument as another type. The conversion itself is done by
// snprintf with the length modifier fixed to the argument's real width.
//
// Invalid format handling: FormatText never fails. An argument number beyond the
// count, a '*' taken from a non-integer argument or a specification of 60
// characters ends formatting there and returns what was produced; output is cut
// at 4095 characters.
//
// Accepted argument types and their kinds:
//   char                                   8-bit character ("cdiouxX", default '%c')
//   bool, other integers of up to 32 bits  signed/unsigned 32-bit ("dciouxX" / "ucdioxX");
//                                          bool is the signed 32-bit 0 or 1
//   64-bit integers                        signed/unsigned 64-bit (same sets, "ll")
//   float, double                          double ("gaefGAEF", default '%g')
//   const char*, char*, char arrays        NUL-terminated text ("s"); nullptr gives "(null)"
//   std::nullptr_t                         NUL-terminated text "(null)"
//   std::string, std::string_view          owned string ("s")
//   any T with an ADL-visible              owned string of ToFormatText(value) ("s");
//     `std::string ToFormatText(const T&)`   Failure and MaybeType (util/failure.h) use this
//
// Arguments are read when FormatText runs; they must outlive the call (they do
// for any ordinary call expression).
#ifndef VYN_UTIL_FORMAT_TEXT_H_
#define VYN_UTIL_FORMAT_TEXT_H_

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace Kestrel {

namespace FormatInternal {

// The argument kinds. Failure, MaybeType and every type with a
// ToFormatText rule are kRendered: turned into text first, then formatted like
// an owned string.
enum class ArgumentKind : uint8_t {
  kSigned32,
  kUnsigned32,
  kCharacter,
  kSigned64,
  kUnsigned64,
  kDouble,
  kText,      // NUL-terminated text; nullptr renders as "(null)"
  kString,    // std::string
  kRendered,  // any value with a text rule (std::string_view, Failure, MaybeType, ...)
};

// One argument of a FormatText call. Integers and doubles are held by value;
// texts, strings and rendered values by reference to the caller's object.
struct FormatArgument {
  ArgumentKind kind;
  union {
    int64_t signed_value;       // kSigned32, kCharacter, kSigned64
    uint64_t unsigned_value;    // kUnsigned32, kUnsigned64
    double double_value;        // kDouble
    const char* text;           // kText
    const std::string* string;  // kString
    const void* object;         // kRendered
  };
  // kRendered only: renders `object` (never null); null for other kinds.
  std::string (*render)(const void* object) = nullptr;
};

// Poison overload so that the unqualified call below always has a name to find
// by ordinary lookup; the real rules are found by argument-dependent lookup.
void ToFormatText() = delete;

template <typename T>
concept HasFormatTextRule = requires(const T& value) {
  { ToFormatText(value) } -> std::convertible_to<std::string>;
};

template <typename T>
std::string RenderWithRule(const void* object) {
  return std::string(ToFormatText(*static_cast<const T*>(object)));
}

inline std::string RenderStringView(const void* object) {
  return std::string(*static_cast<const std::string_view*>(object));
}

template <typename T>
inline constexpr bool kAlwaysFalse = false;

template <typename T>
FormatArgument MakeFormatArgument(const T& value) {
  FormatArgument argument{};
  if constexpr (std::is_same_v<T, bool>) {
    argument.kind = ArgumentKind::kSigned32;
    argument.signed_value = value ? 1 : 0;
  } else if constexpr (std::is_same_v<T, char>) {
    argument.kind = ArgumentKind::kCharacter;
    argument.signed_value = value;
  } else if constexpr (std::is_integral_v<T>) {
    static_assert(sizeof(T) <= 8, "FormatText: integers wider than 64 bits are not supported");
    if constexpr (std::is_signed_v<T>) {
      argument.kind = sizeof(T) <= 4 ? ArgumentKind::kSigned32 : ArgumentKind::kSigned64;
      argument.signed_value = static_cast<int64_t>(value);
    } else {
      argument.kind = sizeof(T) <= 4 ? ArgumentKind::kUnsigned32 : ArgumentKind::kUnsigned64;
      argument.unsigned_value = static_cast<uint64_t>(value);
    }
  } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
    argument.kind = ArgumentKind::kDouble;
    argument.double_value = static_cast<double>(value);
  } else if constexpr (std::is_same_v<T, std::nullptr_t>) {
    argument.kind = ArgumentKind::kText;
    argument.text = nullptr;
  } else if constexpr ((std::is_array_v<T> &&
                        std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>) ||
                       std::is_same_v<T, const char*> || std::is_same_v<T, char*>) {
    argument.kind = ArgumentKind::kText;
    argument.text = value;
  } else if constexpr (std::is_same_v<T, std::string>) {
    argument.kind = ArgumentKind::kString;
    argument.string = &value;
  } else if constexpr (std::is_same_v<T, std::string_view>) {
    argument.kind = ArgumentKind::kRendered;
    argument.object = &value;
    argument.render = &RenderStringView;
  } else if constexpr (HasFormatTextRule<T>) {
    argument.kind = ArgumentKind::kRendered;
    argument.object = &value;
    argument.render = &RenderWithRule<T>;
  } else {
    static_assert(kAlwaysFalse<T>,
                  "FormatText: unsupported argument type (give it an ADL-visible "
                  "`std::string ToFormatText(const T&)`)");
  }
  return argument;
}

// Formats `format` with `count` arguments; `format` nullptr gives "".
std::string FormatArguments(const char* format, const FormatArgument* arguments, size_t count);

}  // namespace FormatInternal

// Size of FormatText's output buffer; the result holds at most kFormatTextBufferSize - 1
// characters.
inline constexpr size_t kFormatTextBufferSize = 4096;

// Returns `format` with its placeholders replaced by `args` (see the file
// comment); a null `format` gives "". Never fails; the result holds at most
// 4095 characters; thread-safe.
template <typename... Args>
std::string FormatText(const char* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return FormatInternal::FormatArguments(format, nullptr, 0);
  } else {
    const FormatInternal::FormatArgument arguments[] = {
        FormatInternal::MakeFormatArgument(args)...};
    return FormatInternal::FormatArguments(format, arguments, sizeof...(Args));
  }
}

}  // namespace Kestrel

#endif  // VYN_UTIL_FORMAT_TEXT_H_
