// Fuzz target: FormatText.
//
// The first input byte picks the mode. Free form: the rest of the input is the
// format, with one argument of every kind; the output must fit the buffer, and
// a format without '%' comes back unchanged. Compared: the input chooses a
// sequence of plain text, "%%" and fully spelled '%N$' conversions that every
// kind accepts, and the output must equal what snprintf gives for the same
// conversions one by one, concatenated and cut at 4095 characters.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "util/failure.h"
#include "util/format_text.h"

namespace Kestrel::Fuzz {

namespace {

constexpr std::size_t kMaxOutput = kFormatTextBufferSize - 1;

// One value of every argument kind, in argument order 1 to 8.
struct Arguments {
  int32_t signed32;
  uint32_t unsigned32;
  char character;
  int64_t signed64;
  uint64_t unsigned64;
  double number;
  std::string text;    // passed as a NUL-terminated text
  std::string string;  // passed as an owned string
};
constexpr int kArgumentCount = 8;

// Conversions each argument accepts, as FormatText documents them. 'c' is left
// out for the 64-bit kinds ("%llc" has no printf meaning).
constexpr const char* kAccepted[kArgumentCount] = {"dciouxX", "ucdioxX",  "cdiouxX", "diouxX",
                                                   "udioxX",  "gaefGAEF", "s",       "s"};
constexpr const char* kLength[kArgumentCount] = {"", "", "", "ll", "ll", "", "", ""};

Arguments ReadArguments(FuzzInput& input) {
  Arguments arguments;
  arguments.signed32 = static_cast<int32_t>(input.ReadU32());
  arguments.unsigned32 = input.ReadU32();
  arguments.character = static_cast<char>(input.ReadByte());
  arguments.signed64 = static_cast<int64_t>(input.ReadU64());
  arguments.unsigned64 = input.ReadU64();
  arguments.number = input.ReadDouble();
  arguments.text = input.ReadText(40);
  arguments.string = input.ReadText(40);
  return arguments;
}

std::string FormatWithAll(const char* format, const Arguments& a) {
  return FormatText(format, a.signed32, a.unsigned32, a.character, a.signed64, a.unsigned64,
                    a.number, a.text.c_str(), a.string);
}

// snprintf of one conversion `spec` (already complete, starting with '%') of
// argument `index` (0-based), converted to the C type printf expects.
std::string PrintOne(const std::string& spec, int index, const Arguments& a) {
  char buffer[kFormatTextBufferSize];
  int written = 0;
  switch (index) {
    case 0:
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(), a.signed32);
      break;
    case 1:
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(), a.unsigned32);
      break;
    case 2:
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(), static_cast<int>(a.character));
      break;
    case 3:
      written =
          std::snprintf(buffer, sizeof buffer, spec.c_str(), static_cast<long long>(a.signed64));
      break;
    case 4:
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(),
                              static_cast<unsigned long long>(a.unsigned64));
      break;
    case 5:
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(), a.number);
      break;
    case 6:
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(), a.text.c_str());
      break;
    default:
      written = std::snprintf(buffer, sizeof buffer, spec.c_str(), a.string.c_str());
      break;
  }
  if (written < 0) return {};
  return std::string(buffer, static_cast<std::size_t>(written) < sizeof buffer
                                 ? static_cast<std::size_t>(written)
                                 : sizeof buffer - 1);
}

// Low byte of the integer argument `index`; a '%c' of a zero byte would put a
// NUL into the text, which the comparison leaves out.
bool LowByteIsZero(int index, const Arguments& a) {
  switch (index) {
    case 0:
      return (a.signed32 & 0xFF) == 0;
    case 1:
      return (a.unsigned32 & 0xFF) == 0;
    case 2:
      return a.character == 0;
    default:
      return false;
  }
}

void FreeForm(FuzzInput& input) {
  const Arguments arguments = ReadArguments(input);
  const std::string format(input.ReadRest());
  const std::string output = FormatWithAll(format.c_str(), arguments);
  Check(output.size() <= kMaxOutput, "FormatText output fits its buffer");
  const std::string without_arguments = FormatText(format.c_str());
  Check(without_arguments.size() <= kMaxOutput,
        "FormatText output without arguments fits its buffer");
  const Failure failure(format.c_str());
  Check(FormatText("%1|%2", failure, arguments.string).size() <= kMaxOutput,
        "FormatText of a failure fits its buffer");
  const std::string plain = format.substr(0, format.find('\0'));
  if (plain.find('%') == std::string::npos) {
    Check(output == plain.substr(0, kMaxOutput), "a format without placeholders is copied");
    Check(without_arguments == output, "a format without placeholders ignores the arguments");
  }
}

void Compared(FuzzInput& input) {
  const Arguments arguments = ReadArguments(input);
  std::string format;
  std::string expected;
  while (!input.empty() && format.size() < 8192) {
    const uint8_t choice = input.ReadByte();
    if (choice % 3 == 0) {
      std::string text = input.ReadText(24);
      std::erase(text, '%');
      std::erase(text, '\0');
      format += text;
      expected += text;
      continue;
    }
    if (choice % 3 == 1) {
      format += "%%";
      expected += '%';
      continue;
    }
    const int index = input.ReadByte() % kArgumentCount;
    std::string spec;
    const uint8_t flags = input.ReadByte();
    for (int bit = 0; bit < 5; ++bit) {
      if ((flags >> bit) & 1) spec += "-+ #0"[bit];
    }
    const uint8_t width = input.ReadByte();
    if (width % 4 != 0) spec += std::to_string(width % 100 == 0 ? 1 : width % 100);
    const uint8_t precision = input.ReadByte();
    if (precision % 4 != 0) spec += "." + std::to_string(precision % 60);
    spec += kLength[index];
    const std::string_view accepted = kAccepted[index];
    char conversion = accepted[input.ReadByte() % accepted.size()];
    if (conversion == 'c' && LowByteIsZero(index, arguments)) conversion = 'd';
    spec += conversion;
    format += "%" + std::to_string(index + 1) + "$" + spec;
    expected += PrintOne("%" + spec, index, arguments);
  }
  const std::string output = FormatWithAll(format.c_str(), arguments);
  if (expected.size() > kMaxOutput) expected.resize(kMaxOutput);
  if (output != expected) {
    std::fprintf(stderr, "format: %s\nFormatText: %s\nsnprintf:   %s\n", format.c_str(),
                 output.c_str(), expected.c_str());
  }
  Check(output == expected, "FormatText matches snprintf on fully spelled conversions");
}

}  // namespace

int FuzzFormatText(const uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  if (input.ReadByte() % 2 == 0) {
    FreeForm(input);
  } else {
    Compared(input);
  }
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzFormatText)
