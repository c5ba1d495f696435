#include "util/format_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "util/failure.h"

namespace Kestrel {
namespace {

// What snprintf itself gives for `format` and its arguments.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
std::string Printf(const char* format, ...) {
  char buffer[kFormatTextBufferSize];
  va_list arguments;
  va_start(arguments, format);
  const int written = std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  if (written < 0) return "<printf failed>";
  return std::string(buffer,
                     static_cast<size_t>(written) < sizeof buffer ? written : sizeof buffer - 1);
}
#pragma GCC diagnostic pop

// A user type with its own text rule, formatted like an owned string.
struct Version {
  int major;
  int minor;
};
std::string ToFormatText(const Version& version) {
  return FormatText("%1.%2", version.major, version.minor);
}

// Group of tests: each kind against snprintf on the same conversion. Every row
// gives the FormatText specification ('%1$...') and the printf one it must equal.

struct ConversionCase {
  const char* format;         // for FormatText
  const char* printf_format;  // for snprintf
};

TEST(FormatTextTest, Signed32MatchesPrintf) {
  const ConversionCase cases[] = {
      {"%1$d", "%d"},     {"%1$5d", "%5d"},       {"%1$-5d|", "%-5d|"}, {"%1$05d", "%05d"},
      {"%1$+d", "%+d"},   {"%1$ d", "% d"},       {"%1$x", "%x"},       {"%1$#x", "%#x"},
      {"%1$X", "%X"},     {"%1$o", "%o"},         {"%1$#o", "%#o"},     {"%1$i", "%i"},
      {"%1$.3d", "%.3d"}, {"%1$8.3d", "%8.3d"},   {"%1$hd", "%hd"},     {"%1$hhd", "%hhd"},
      {"%1$hx", "%hx"},   {"%1$-+8d|", "%-+8d|"}, {"%1", "%d"},         {"%d", "%d"},
      {"%5x", "%5x"},     {"%1$s", "%d"},         {"%1$f", "%d"},       {"%1$n", "%d"},
      {"%1$p", "%d"},     {"%1$u", "%u"},         {"%1$lld", "%d"},     {"%1$ld", "%d"},
      {"%1$zx", "%x"},    {"%1$jd", "%d"},        {"%1$Lx", "%x"},
  };
  const int values[] = {0, 1, -1, 42, -42, 65, 70000, INT_MAX, INT_MIN};
  for (const ConversionCase& row : cases) {
    for (const int value : values) {
      SCOPED_TRACE(std::string(row.format) + " with " + std::to_string(value));
      EXPECT_EQ(FormatText(row.format, value), Printf(row.printf_format, value));
    }
  }
}

TEST(FormatTextTest, Unsigned32MatchesPrintf) {
  const ConversionCase cases[] = {
      {"%1$u", "%u"},  {"%1$10u", "%10u"}, {"%1$x", "%x"},       {"%1$#X", "%#X"}, {"%1$o", "%o"},
      {"%1$d", "%d"},  {"%1$i", "%i"},     {"%1", "%u"},         {"%1$s", "%u"},   {"%1$e", "%u"},
      {"%1$lu", "%u"}, {"%1$hu", "%hu"},   {"%1$.12u", "%.12u"},
  };
  const unsigned values[] = {0u, 1u, 255u, 0x80000000u, UINT_MAX};
  for (const ConversionCase& row : cases) {
    for (const unsigned value : values) {
      SCOPED_TRACE(std::string(row.format) + " with " + std::to_string(value));
      EXPECT_EQ(FormatText(row.format, value), Printf(row.printf_format, value));
    }
  }
}

TEST(FormatTextTest, Signed64MatchesPrintf) {
  const ConversionCase cases[] = {
      {"%1$d", "%lld"},     {"%1$lld", "%lld"},       {"%1$ld", "%lld"},  {"%1$hd", "%lld"},
      {"%1$x", "%llx"},     {"%1$#X", "%#llX"},       {"%1$o", "%llo"},   {"%1$u", "%llu"},
      {"%1$25d", "%25lld"}, {"%1$-25d|", "%-25lld|"}, {"%1$+d", "%+lld"}, {"%1", "%lld"},
      {"%d", "%lld"},       {"%1$s", "%lld"},         {"%1$g", "%lld"},
  };
  const long long values[] = {0, -1, 1LL << 40, -(1LL << 40), LLONG_MAX, LLONG_MIN};
  for (const ConversionCase& row : cases) {
    for (const long long value : values) {
      SCOPED_TRACE(std::string(row.format) + " with " + std::to_string(value));
      EXPECT_EQ(FormatText(row.format, int64_t{value}), Printf(row.printf_format, value));
    }
  }
}

TEST(FormatTextTest, Unsigned64MatchesPrintf) {
  const ConversionCase cases[] = {
      {"%1$u", "%llu"}, {"%1$x", "%llx"}, {"%1$X", "%llX"},
      {"%1$o", "%llo"}, {"%1$d", "%lld"}, {"%1", "%llu"},
      {"%u", "%llu"},   {"%1$s", "%llu"}, {"%1$022x", "%022llx"},
  };
  const unsigned long long values[] = {0, 1ULL << 32, 1ULL << 63, ULLONG_MAX};
  for (const ConversionCase& row : cases) {
    for (const unsigned long long value : values) {
      SCOPED_TRACE(std::string(row.format) + " with " + std::to_string(value));
      EXPECT_EQ(FormatText(row.format, uint64_t{value}), Printf(row.printf_format, value));
    }
  }
}

TEST(FormatTextTest, CharacterMatchesPrintf) {
  const ConversionCase cases[] = {
      {"%1$c", "%c"},       {"%1", "%c"},   {"%1$d", "%d"},  {"%1$x", "%x"},     {"%1$3c|", "%3c|"},
      {"%1$-3c|", "%-3c|"}, {"%1$s", "%c"}, {"%1$lc", "%c"}, {"%1$hhd", "%hhd"},
  };
  const char values[] = {'A', 'z', '0', ' ', static_cast<char>(-3)};
  for (const ConversionCase& row : cases) {
    for (const char value : values) {
      SCOPED_TRACE(std::string(row.format) + " with " + std::to_string(int{value}));
      EXPECT_EQ(FormatText(row.format, value), Printf(row.printf_format, value));
    }
  }
}

TEST(FormatTextTest, DoubleMatchesPrintf) {
  const ConversionCase cases[] = {
      {"%1$g", "%g"},
      {"%1", "%g"},
      {"%1$.3f", "%.3f"},
      {"%1$10.2e", "%10.2e"},
      {"%1$a", "%a"},
      {"%1$A", "%A"},
      {"%1$G", "%G"},
      {"%1$E", "%E"},
      {"%1$F", "%F"},
      {"%1$f", "%f"},
      {"%1$+.0f", "%+.0f"},
      {"%1$#g", "%#g"},
      {"%1$-12.4g|", "%-12.4g|"},
      {"%1$012.3f", "%012.3f"},
      {"%1$d", "%g"},
      {"%1$s", "%g"},
      {"%1$Lf", "%f"},
      {"%1$lf", "%f"},
      {"%1$.20g", "%.20g"},
      {"%f", "%f"},
  };
  const double values[] = {0.0,
                           -0.0,
                           1.5,
                           -1.5,
                           3.14159265358979,
                           1e300,
                           1e-300,
                           DBL_MAX,
                           DBL_MIN,
                           std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
  for (const ConversionCase& row : cases) {
    for (const double value : values) {
      SCOPED_TRACE(std::string(row.format) + " with " + Printf("%a", value));
      EXPECT_EQ(FormatText(row.format, value), Printf(row.printf_format, value));
    }
  }
  // float is formatted as the double of its value.
  EXPECT_EQ(FormatText("%1", 0.25f), "0.25");
}

TEST(FormatTextTest, TextsMatchPrintf) {
  const ConversionCase cases[] = {
      {"%1$s", "%s"},     {"%1", "%s"},           {"%1$10s|", "%10s|"}, {"%1$-10s|", "%-10s|"},
      {"%1$.2s", "%.2s"}, {"%1$8.3s|", "%8.3s|"}, {"%1$d", "%s"},       {"%1$ls", "%s"},
      {"%s", "%s"},       {"%1$c", "%s"},
  };
  const char* const values[] = {"", "abc", "hello world", "caf\xC3\xA9"};
  for (const ConversionCase& row : cases) {
    for (const char* value : values) {
      SCOPED_TRACE(std::string(row.format) + " with '" + value + "'");
      const std::string expected = Printf(row.printf_format, value);
      EXPECT_EQ(FormatText(row.format, value), expected);
      EXPECT_EQ(FormatText(row.format, const_cast<char*>(value)), expected);
      EXPECT_EQ(FormatText(row.format, std::string(value)), expected);
      EXPECT_EQ(FormatText(row.format, std::string_view(value)), expected);
    }
  }
}

TEST(FormatTextTest, StarWidthAndPrecisionMatchPrintf) {
  EXPECT_EQ(FormatText("%*d|", 5, 42), Printf("%*d|", 5, 42));
  EXPECT_EQ(FormatText("%-*d|", 5, 42), Printf("%-*d|", 5, 42));
  EXPECT_EQ(FormatText("%*d|", -5, 42), Printf("%*d|", -5, 42));
  EXPECT_EQ(FormatText("%.*f", 3, 3.14159), Printf("%.*f", 3, 3.14159));
  EXPECT_EQ(FormatText("%.*f", -1, 3.14159), Printf("%.*f", -1, 3.14159));
  EXPECT_EQ(FormatText("%*.*f|", 9, 2, 3.14159), Printf("%*.*f|", 9, 2, 3.14159));
  EXPECT_EQ(FormatText("%*s|", 6, "ab"), Printf("%*s|", 6, "ab"));
  EXPECT_EQ(FormatText("%.*s|", 1, "ab"), Printf("%.*s|", 1, "ab"));
  // '*M$' takes argument M and does not move the sequential counter.
  EXPECT_EQ(FormatText("%1$*2$d|", 42, 6), Printf("%*d|", 6, 42));
  EXPECT_EQ(FormatText("%1$.*2$f|", 2.5, 3), Printf("%.*f|", 3, 2.5));
  EXPECT_EQ(FormatText("%*2$d|%d", 42, 6), Printf("%*d|%d", 6, 42, 6));
  // A bare '*' in a numbered placeholder takes the next sequential argument.
  EXPECT_EQ(FormatText("%2$*d|", 4, 7), Printf("%*d|", 4, 7));
}

TEST(FormatTextTest, StarArgumentsAreReadAsInt) {
  // Unsigned 32-bit: its bits as int (0xFFFFFFFD is -3: left-justified width 3).
  EXPECT_EQ(FormatText("%*d|", 0xFFFFFFFDu, 7), "7  |");
  // Character: sign-extended.
  EXPECT_EQ(FormatText("%*d|", static_cast<char>(-3), 7), "7  |");
  EXPECT_EQ(FormatText("%*d|", '\x04', 7), "   7|");
  // 64-bit: the low 32 bits.
  EXPECT_EQ(FormatText("%*d|", int64_t{(int64_t{1} << 32) + 5}, 7), "    7|");
  EXPECT_EQ(FormatText("%*d|", uint64_t{(uint64_t{7} << 32) + 3}, 7), "  7|");
  // bool: 0 or 1.
  EXPECT_EQ(FormatText("%*d|", true, 7), "7|");
}

// Group of tests: edge cases of the placeholder rules.

TEST(FormatTextTest, DocumentedEdgeCases) {
  EXPECT_EQ(FormatText("%1 (%2)", "Not found", 404), "Not found (404)");
  EXPECT_EQ(FormatText("%2 %1", "a", "b"), "b a");
  EXPECT_EQ(FormatText("%1 %1", "a", "b"), "a a");
  EXPECT_EQ(FormatText("100%% of %1", 5), "100% of 5");
  EXPECT_EQ(FormatText("%1$5d|", 42), "   42|");
  EXPECT_EQ(FormatText("%1$s", 42), "42");
  EXPECT_EQ(FormatText("%1.%2.%3", 1, 2, 3), "1.2.3");
  EXPECT_EQ(FormatText("Value %3", 5, 6), "Value 5");
  EXPECT_EQ(FormatText("%7 apples", 5), "      5apples");
  EXPECT_EQ(FormatText("%1", int64_t{-1234567890123}), "-1234567890123");
  EXPECT_EQ(FormatText("%1", uint64_t{18446744073709551615ull}), "18446744073709551615");
}

TEST(FormatTextTest, DefaultsOfEachKind) {
  EXPECT_EQ(FormatText("%1", 'A'), "A");
  EXPECT_EQ(FormatText("%1", true), "1");
  EXPECT_EQ(FormatText("%1", false), "0");
  EXPECT_EQ(FormatText("%1", static_cast<int8_t>(-5)), "-5");
  EXPECT_EQ(FormatText("%1", static_cast<uint8_t>(200)), "200");
  EXPECT_EQ(FormatText("%1", static_cast<short>(-300)), "-300");
  EXPECT_EQ(FormatText("%1", static_cast<unsigned short>(65535)), "65535");
  EXPECT_EQ(FormatText("%1", static_cast<size_t>(4000000000u)), "4000000000");
  EXPECT_EQ(FormatText("%1", -1L), "-1");
  EXPECT_EQ(FormatText("%1", 1.5), "1.5");
  EXPECT_EQ(FormatText("%1", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(FormatText("%1|%2", nullptr, "x"), "(null)|x");
  EXPECT_EQ(FormatText("%1$8s|", static_cast<const char*>(nullptr)), "  (null)|");
  EXPECT_EQ(FormatText("%1", Version{18, 2}), "18.2");
  EXPECT_EQ(FormatText("[%1$6s]", Version{1, 0}), "[   1.0]");
  EXPECT_EQ(FormatText("%1$d", Version{1, 0}), "1.0");
}

TEST(FormatTextTest, FailureAndMaybeTypeArguments) {
  EXPECT_EQ(FormatText("%1", Failure(404, "Not found")), "Not found (404)");
  EXPECT_EQ(FormatText("[%1]", Failure()), "[]");
  EXPECT_EQ(FormatText("%1", MaybeType<int>(5)), "Success");
  EXPECT_EQ(FormatText("%1", MaybeType<int>(Failure(7, "Bad"))), "Bad (7)");
  EXPECT_EQ(FormatText("%1", MaybeType<void>()), "Success");
  EXPECT_EQ(FormatText("%1$-12s|", Failure(1, "x")), "x (1)       |");
}

TEST(FormatTextTest, PlainTextAndUtf8PassThrough) {
  EXPECT_EQ(FormatText(""), "");
  EXPECT_EQ(FormatText("plain"), "plain");
  EXPECT_EQ(FormatText("caf\xC3\xA9 %1", "\xE2\x82\xAC"), "caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(FormatText("100%%"), "100%");
  EXPECT_EQ(FormatText("%%1", 5), "%1");
  EXPECT_EQ(FormatText(nullptr, 5), "");
}

// Group of tests: how a placeholder is read.

TEST(FormatTextTest, SequentialPlaceholdersAdvanceOnlyForUnnumbered) {
  EXPECT_EQ(FormatText("%s-%s", "a", "b"), "a-b");
  EXPECT_EQ(FormatText("%2 %s %s", "a", "b"), "b a b");
  EXPECT_EQ(FormatText("%2$s %s", "a", "b"), "b a");
  // A bare '*' advances the counter too.
  EXPECT_EQ(FormatText("%*d %s", 3, 1, "x"), "  1 x");
}

TEST(FormatTextTest, NumbersThatAreNotArgumentNumbersAreWidths) {
  // A leading '0' is a flag, not an argument number.
  EXPECT_EQ(FormatText("%03d", 7), "007");
  EXPECT_EQ(FormatText("%01", 7), "7");  // "%01" ends the format: its '1' is replaced
  // 12 exceeds the count: width 12 for the next sequential argument.
  EXPECT_EQ(FormatText("%12d|", 7, 8), "           7|");
  // Far beyond any count, without overflowing: a (clamped) width.
  EXPECT_EQ(FormatText("%99999999999999999999999d", 7), std::string(4095, ' '));
}

TEST(FormatTextTest, ConversionCharacterIsTheLastCollectedCharacter) {
  // A '%' at the very end takes the next argument with the kind's defaults.
  EXPECT_EQ(FormatText("x%", 5), "x5");
  EXPECT_EQ(FormatText("x%", int64_t{1} << 40), "x1099511627776");
  EXPECT_EQ(FormatText("x%1$", 'A'), "xA");
  // The format ends inside a specification: its last character is replaced.
  EXPECT_EQ(FormatText("%5.", 7), "    7");
  EXPECT_EQ(FormatText("%-", 7), "7");
  EXPECT_EQ(FormatText("%.5", 7), Printf("%.d", 7));
  EXPECT_EQ(FormatText("%5l", 7), "    7");
  EXPECT_EQ(FormatText("%*", 5, 7), "7");  // the '*' is replaced; 5 was still consumed
  // Any one character after the length modifier is taken as the conversion.
  EXPECT_EQ(FormatText("%1$5$|", 7), "    7|");
  EXPECT_EQ(FormatText("%1$%|", 7), "7|");
  EXPECT_EQ(FormatText("%5 x", "ab"), "   abx");
}

TEST(FormatTextTest, EmbeddedNulFromCharacterIsKept) {
  const std::string text = FormatText("a%1b", '\0');
  EXPECT_EQ(text, std::string("a\0b", 3));
}

// Group of tests: where formatting stops.

TEST(FormatTextTest, StopsAtArgumentNumberBeyondCount) {
  EXPECT_EQ(FormatText("a %1 b"), "a ");
  EXPECT_EQ(FormatText("a %s %s b", "x"), "a x ");
  // '%3$' with two arguments is no argument number: "3" is re-read as a width and
  // '$' becomes the (replaced) conversion of the next sequential argument.
  EXPECT_EQ(FormatText("a %3$s b", "x", "y"), "a   xs b");
  EXPECT_EQ(FormatText("a %3$s %s %s b", "x", "y"), "a   xs y ");
  EXPECT_EQ(FormatText("a %*d b", 5), "a ");
  EXPECT_EQ(FormatText("a %1$*3$d b", 5, 6), "a ");
  // "*0$" names no argument: a bare '*' (taking 5), then '0' as the conversion, replaced.
  EXPECT_EQ(FormatText("a %1$*0$d b", 5, 6), "a     5$d b");
}

TEST(FormatTextTest, StopsAtNonIntegerStarArgument) {
  EXPECT_EQ(FormatText("a %*d b", "x", 5), "a ");
  EXPECT_EQ(FormatText("a %*d b", 2.0, 5), "a ");
  EXPECT_EQ(FormatText("a %.*f b", std::string("x"), 5.0), "a ");
  EXPECT_EQ(FormatText("a %1$*2$d b", 5, "x"), "a ");
  EXPECT_EQ(FormatText("a %1$*2$d b", 5, Failure()), "a ");
}

TEST(FormatTextTest, StopsWhenSpecificationReachesSixtyCharacters) {
  // '%', 57 flags and the conversion: 59 characters, still formatted.
  const std::string flags57(57, '-');
  EXPECT_EQ(FormatText(("ab%" + flags57 + "d|").c_str(), 5), "ab5|");
  // One more flag makes the 60th character: formatting stops.
  const std::string flags58(58, '-');
  EXPECT_EQ(FormatText(("ab%" + flags58 + "d|").c_str(), 5), "ab");
  // The argument number of '%N$' is not part of the printf directive.
  EXPECT_EQ(FormatText(("ab%1$" + flags57 + "d|").c_str(), 5), "ab5|");
  EXPECT_EQ(FormatText(("ab%1$" + flags58 + "d|").c_str(), 5), "ab");
  // Width digits count as well.
  EXPECT_EQ(FormatText(("ab%" + std::string(59, '9') + "d").c_str(), 5), "ab");
}

TEST(FormatTextTest, OutputIsCutAt4095Characters) {
  const std::string long_text(5000, 'x');
  EXPECT_EQ(FormatText("%1", long_text), std::string(4095, 'x'));
  EXPECT_EQ(FormatText(long_text.c_str()), std::string(4095, 'x'));
  EXPECT_EQ(FormatText("%1%2", std::string(4093, 'a'), "bcdef"), std::string(4093, 'a') + "bc");
  EXPECT_EQ(FormatText("%1%2", std::string(4095, 'a'), "b"), std::string(4095, 'a'));
  // Plain text after a full buffer is dropped too.
  EXPECT_EQ(FormatText("%1yz", std::string(4094, 'a')), std::string(4094, 'a') + "y");
  // Huge widths and precisions fill the room and nothing more.
  EXPECT_EQ(FormatText("%1$10000d", 5), std::string(4095, ' '));
  EXPECT_EQ(FormatText("%1$-10000d", 5), "5" + std::string(4094, ' '));
  EXPECT_EQ(FormatText("%1$99999999999d", 5), std::string(4095, ' '));
  EXPECT_EQ(FormatText("%1$.100000f", 1.0).size(), 4095u);
  EXPECT_EQ(FormatText("%1$.100000f", 1.0).substr(0, 4), "1.00");
  EXPECT_EQ(FormatText("%*d", INT_MIN, 5), "5" + std::string(4094, ' '));
  EXPECT_EQ(FormatText("%.*f", INT_MAX, 1.0).size(), 4095u);
}

}  // namespace
}  // namespace Kestrel
