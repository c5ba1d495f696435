#include "binding/number_text.h"

#include <cerrno>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace Kestrel {
namespace {

struct SignedCase {
  const char* text;
  SignedRange range;
  NumberTextStatus status;
  int64_t value;
  const char* why;
};

TEST(NumberText, SignedBoundariesAndBases) {
  const SignedCase cases[] = {
      {"0x7F", kInt8Range, NumberTextStatus::kOk, 127, "hex at the int8 maximum"},
      {"0x80", kInt8Range, NumberTextStatus::kOutOfRange, 0, "hex one above the int8 maximum"},
      {"-128", kInt8Range, NumberTextStatus::kOk, -128, "int8 minimum"},
      {"-129", kInt8Range, NumberTextStatus::kOutOfRange, 0, "one below the int8 minimum"},
      {"010", kInt32Range, NumberTextStatus::kOk, 8, "a leading zero means octal"},
      {"08", kInt32Range, NumberTextStatus::kIncorrectFormat, 0, "8 is no octal digit"},
      {"0X1f", kInt32Range, NumberTextStatus::kOk, 31, "upper-case hex prefix"},
      {"", kInt32Range, NumberTextStatus::kOk, 0, "an empty text is 0"},
      {"  +42", kInt32Range, NumberTextStatus::kOk, 42, "leading blanks and a plus sign"},
      {"42 ", kInt32Range, NumberTextStatus::kIncorrectFormat, 0, "trailing blank is left over"},
      {"   ", kInt32Range, NumberTextStatus::kIncorrectFormat, 0, "only blanks: nothing parsed"},
      {"12abc", kInt32Range, NumberTextStatus::kIncorrectFormat, 0, "letters after the digits"},
      {"2147483648", kInt32Range, NumberTextStatus::kOutOfRange, 0, "int32 maximum + 1"},
      {"-2147483648", kInt32Range, NumberTextStatus::kOk, -2147483647 - 1, "int32 minimum"},
      {"9223372036854775807", kInt64Range, NumberTextStatus::kOk, INT64_MAX, "int64 maximum"},
      {"9223372036854775808", kInt64Range, NumberTextStatus::kOutOfRange, 0,
       "parser overflow above int64"},
      {"-9223372036854775808", kInt64Range, NumberTextStatus::kOk, INT64_MIN, "int64 minimum"},
      {"-9223372036854775809", kInt64Range, NumberTextStatus::kOutOfRange, 0,
       "parser overflow below int64"},
      {"1.5", kInt64Range, NumberTextStatus::kIncorrectFormat, 0, "no fractions for integers"},
  };
  for (const SignedCase& c : cases) {
    SCOPED_TRACE(c.why);
    int64_t value = -7;
    EXPECT_EQ(ScanSignedText(c.text, c.range, &value), c.status);
    EXPECT_EQ(value, c.value);
  }
}

struct UnsignedCase {
  const char* text;
  UnsignedRange range;
  NumberTextStatus status;
  uint64_t value;
  const char* why;
};

TEST(NumberText, UnsignedBoundariesAndSign) {
  const UnsignedCase cases[] = {
      {"255", kUint8Range, NumberTextStatus::kOk, 255, "uint8 maximum"},
      {"0x100", kUint8Range, NumberTextStatus::kOutOfRange, 0, "one above the uint8 maximum"},
      {"-0", kUint32Range, NumberTextStatus::kOutOfRange, 0, "a minus sign is out of range"},
      {"-1", kUint64Range, NumberTextStatus::kOutOfRange, 0, "would wrap to the uint64 maximum"},
      {" -1", kUint64Range, NumberTextStatus::kOutOfRange, 0, "minus sign after a blank"},
      {"-x", kUint32Range, NumberTextStatus::kIncorrectFormat, 0, "format is tested first"},
      {"4294967295", kUint32Range, NumberTextStatus::kOk, 4294967295u, "uint32 maximum"},
      {"4294967296", kUint32Range, NumberTextStatus::kOutOfRange, 0, "uint32 maximum + 1"},
      {"18446744073709551615", kUint64Range, NumberTextStatus::kOk, UINT64_MAX, "uint64 max"},
      {"18446744073709551616", kUint64Range, NumberTextStatus::kOutOfRange, 0,
       "parser overflow above uint64"},
      {"0777", kUint16Range, NumberTextStatus::kOk, 511, "octal"},
      {"", kUint16Range, NumberTextStatus::kOk, 0, "an empty text is 0"},
      {"+7", kUint16Range, NumberTextStatus::kOk, 7, "a plus sign is accepted"},
      {"7u", kUint16Range, NumberTextStatus::kIncorrectFormat, 0, "suffix is left over"},
      {"5", UnsignedRange{10, 20, "bounded"}, NumberTextStatus::kOutOfRange, 0,
       "below a caller-given minimum"},
  };
  for (const UnsignedCase& c : cases) {
    SCOPED_TRACE(c.why);
    uint64_t value = 7;
    EXPECT_EQ(ScanUnsignedText(c.text, c.range, &value), c.status);
    EXPECT_EQ(value, c.value);
  }
}

struct DoubleCase {
  const char* text;
  DoubleRange range;
  NumberTextStatus status;
  double value;
  const char* why;
};

TEST(NumberText, DoubleBoundariesUnderflowAndOverflow) {
  const DoubleCase cases[] = {
      {"1.5", kDoubleRange, NumberTextStatus::kOk, 1.5, "plain fraction"},
      {"-2e3", kDoubleRange, NumberTextStatus::kOk, -2000.0, "exponent and sign"},
      {"", kDoubleRange, NumberTextStatus::kOk, 0.0, "an empty text is 0"},
      {"1e-400", kDoubleRange, NumberTextStatus::kOutOfRange, 0.0, "underflow"},
      {"1e400", kDoubleRange, NumberTextStatus::kOutOfRange, 0.0, "overflow"},
      {"-1e400", kDoubleRange, NumberTextStatus::kOutOfRange, 0.0, "negative overflow"},
      {"inf", kDoubleRange, NumberTextStatus::kOutOfRange, 0.0, "infinity is beyond the bounds"},
      {"1.7976931348623157e308", kDoubleRange, NumberTextStatus::kOk, 1.7976931348623157e308,
       "largest finite double"},
      {"3.4028234663852886e38", kFloatRange, NumberTextStatus::kOk, 3.4028234663852886e38,
       "largest finite single"},
      {"3.5e38", kFloatRange, NumberTextStatus::kOutOfRange, 0.0, "beyond the single range"},
      {"-3.5e38", kFloatRange, NumberTextStatus::kOutOfRange, 0.0, "below the single range"},
      {"1.5x", kDoubleRange, NumberTextStatus::kIncorrectFormat, 0.0, "letters left over"},
      {"0x10", kDoubleRange, NumberTextStatus::kOk, 16.0, "hexadecimal floating text"},
  };
  for (const DoubleCase& c : cases) {
    SCOPED_TRACE(c.why);
    double value = 7.0;
    EXPECT_EQ(ScanDoubleText(c.text, c.range, &value), c.status);
    EXPECT_EQ(value, c.value);
  }
  double value = 0.0;
  EXPECT_EQ(ScanDoubleText("nan", kDoubleRange, &value), NumberTextStatus::kOk);
  EXPECT_TRUE(std::isnan(value));
}

TEST(NumberText, TextNeedNotBeTerminated) {
  // "12345" viewed as its first two characters: the 3 must not be read.
  const char digits[] = "12345";
  int64_t value = 0;
  EXPECT_EQ(ScanSignedText(std::string_view(digits, 2), kInt32Range, &value),
            NumberTextStatus::kOk);
  EXPECT_EQ(value, 12);

  // An embedded NUL is a character left over, not the end of the text.
  const std::string with_nul(
      "12\0"
      "3",
      4);
  EXPECT_EQ(ScanSignedText(with_nul, kInt32Range, &value), NumberTextStatus::kIncorrectFormat);
  uint64_t unsigned_value = 0;
  EXPECT_EQ(ScanUnsignedText(with_nul, kUint32Range, &unsigned_value),
            NumberTextStatus::kIncorrectFormat);
  double double_value = 0.0;
  EXPECT_EQ(ScanDoubleText(with_nul, kDoubleRange, &double_value),
            NumberTextStatus::kIncorrectFormat);

  // A long text (beyond any small buffer) still parses as a whole.
  const std::string long_zeros = std::string(300, '0') + "42";
  EXPECT_EQ(ScanUnsignedText(long_zeros, kUint8Range, &unsigned_value), NumberTextStatus::kOk);
  EXPECT_EQ(unsigned_value, 34u);  // leading zero: octal 42
  const std::string long_fraction = "0." + std::string(300, '5');
  EXPECT_EQ(ScanDoubleText(long_fraction, kDoubleRange, &double_value), NumberTextStatus::kOk);
  EXPECT_NEAR(double_value, 5.0 / 9.0, 1e-15);
}

TEST(NumberText, CallerErrnoIsKept) {
  errno = EINVAL;
  int64_t value = 0;
  EXPECT_EQ(ScanSignedText("99999999999999999999", kInt64Range, &value),
            NumberTextStatus::kOutOfRange);
  EXPECT_EQ(errno, EINVAL);
}

TEST(NumberText, MessagesNameTextPathAndType) {
  EXPECT_EQ(NumberTextMessage(NumberTextStatus::kIncorrectFormat, "12abc", "count", "int32"),
            "Value 12abc for 'count' of type int32 is in an incorrect format");
  EXPECT_EQ(NumberTextMessage(NumberTextStatus::kOutOfRange, "0x80", "level", "int8"),
            "Value 0x80 for 'level' of type int8 is out of range");
  EXPECT_EQ(NumberTextMessage(NumberTextStatus::kOk, "1", "x", "int8"), "");
  EXPECT_EQ(NumberTextMessage(NumberTextStatus::kOutOfRange, "%1", "p", nullptr),
            "Value %1 for 'p' of type  is out of range");
}

TEST(NumberText, StatusFormsRecordTheFirstFailureOnly) {
  PropertyResult status;
  EXPECT_EQ(ParseSignedText(status, "0x7F", kInt8Range, "level"), 127);
  EXPECT_TRUE(status.IsValid());

  EXPECT_EQ(ParseSignedText(status, "0x80", kInt8Range, "level"), 0);
  EXPECT_FALSE(status.IsValid());
  EXPECT_EQ(status.GetError(), "Value 0x80 for 'level' of type int8 is out of range");

  // Once invalid, later rules neither parse nor replace the first message.
  EXPECT_EQ(ParseUnsignedText(status, "5", kUint8Range, "other"), 0u);
  EXPECT_EQ(ParseDoubleText(status, "x", kDoubleRange, "other"), 0.0);
  EXPECT_EQ(status.GetError(), "Value 0x80 for 'level' of type int8 is out of range");

  PropertyResult unsigned_status;
  EXPECT_EQ(ParseUnsignedText(unsigned_status, "-0", kUint32Range, "id"), 0u);
  EXPECT_EQ(unsigned_status.GetError(), "Value -0 for 'id' of type uint32 is out of range");

  PropertyResult double_status;
  EXPECT_EQ(ParseDoubleText(double_status, "2.5", kFloatRange, "ratio"), 2.5);
  EXPECT_TRUE(double_status.IsValid());
  EXPECT_EQ(ParseDoubleText(double_status, "1e-400", kFloatRange, "ratio"), 0.0);
  EXPECT_EQ(double_status.GetError(), "Value 1e-400 for 'ratio' of type float is out of range");
}

}  // namespace
}  // namespace Kestrel
