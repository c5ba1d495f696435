#include "util/format_text.h"

#include <cstdio>
#include <cstring>

namespace Kestrel {
namespace FormatInternal {
namespace {

// A specification that reaches this many characters (the '%' included) ends
// formatting.
constexpr size_t kSpecificationLimit = 60;

// Widths and precisions beyond this are clamped before snprintf runs. Any field
// this wide already fills the whole remaining buffer, so the visible output is
// the same, and snprintf is spared huge paddings (or huge allocations for "%.*f").
constexpr int kFieldLimit = static_cast<int>(kFormatTextBufferSize);

// The conversion characters that `kind` accepts; the first is its default.
const char* AcceptedConversions(ArgumentKind kind) {
  switch (kind) {
    case ArgumentKind::kSigned32:
    case ArgumentKind::kSigned64:
      return "dciouxX";
    case ArgumentKind::kUnsigned32:
    case ArgumentKind::kUnsigned64:
      return "ucdioxX";
    case ArgumentKind::kCharacter:
      return "cdiouxX";
    case ArgumentKind::kDouble:
      return "gaefGAEF";
    case ArgumentKind::kText:
    case ArgumentKind::kString:
    case ArgumentKind::kRendered:
      return "s";
  }
  return "s";
}

bool IsIntegerKind(ArgumentKind kind) {
  switch (kind) {
    case ArgumentKind::kSigned32:
    case ArgumentKind::kUnsigned32:
    case ArgumentKind::kCharacter:
    case ArgumentKind::kSigned64:
    case ArgumentKind::kUnsigned64:
      return true;
    default:
      return false;
  }
}

// Reads an integer argument as the `int` of a '*' width or precision: a 32-bit
// value (its bits for unsigned), a character sign-extended, the low 32 bits of a
// 64-bit value.
int ReadAsInt(const FormatArgument& argument) {
  switch (argument.kind) {
    case ArgumentKind::kSigned32:
      return static_cast<int>(argument.signed_value);
    case ArgumentKind::kUnsigned32:
      return static_cast<int>(static_cast<uint32_t>(argument.unsigned_value));
    case ArgumentKind::kCharacter:
      return static_cast<int>(static_cast<signed char>(argument.signed_value));
    case ArgumentKind::kSigned64:
      return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(argument.signed_value)));
    case ArgumentKind::kUnsigned64:
      return static_cast<int>(static_cast<uint32_t>(argument.unsigned_value));
    default:
      return 0;
  }
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads the decimal number at `*cursor`, advancing past it. The value saturates
// just above `cap` so that no run of digits overflows.
size_t ReadNumber(const char*& cursor, size_t cap) {
  size_t value = 0;
  while (IsDigit(*cursor)) {
    if (value <= cap) value = value * 10 + static_cast<size_t>(*cursor - '0');
    ++cursor;
  }
  return value;
}

// The output buffer of one call.
class Output {
 public:
  bool full() const { return length_ + 1 >= kFormatTextBufferSize; }
  void Put(char c) { buffer_[length_++] = c; }
  char* end() { return buffer_ + length_; }
  size_t room() const { return kFormatTextBufferSize - length_; }
  // Accounts for `written` characters that snprintf reported for end().
  void Advance(int written) {
    if (written <= 0) {
      buffer_[length_] = '\0';
      return;
    }
    const size_t fitted =
        static_cast<size_t>(written) < room() ? static_cast<size_t>(written) : room() - 1;
    length_ += fitted;
  }
  std::string Take() const { return std::string(buffer_, length_); }

 private:
  char buffer_[kFormatTextBufferSize];
  size_t length_ = 0;
};

// The work buffer in which a placeholder's specification is collected, with the
// values of its '*' arguments in order.
struct Specification {
  char text[kSpecificationLimit] = {};
  size_t length = 0;
  int star_values[2] = {0, 0};
  size_t star_count = 0;

  // Appends `c`; false when the buffer would reach the limit (formatting stops).
  bool Append(char c) {
    if (length + 1 >= kSpecificationLimit) return false;
    text[length++] = c;
    return true;
  }
};

// State of one FormatArguments call.
struct Scanner {
  const FormatArgument* arguments;
  size_t count;
  size_t next_sequential = 1;

  // Collects a width or precision at `cursor` (digits or '*', '*M$'). False
  // when formatting must stop.
  bool CollectField(const char*& cursor, Specification& spec) {
    if (*cursor == '*') {
      if (!spec.Append('*')) return false;
      ++cursor;
      size_t number = 0;
      if (*cursor >= '1' && *cursor <= '9') {
        const char* digits = cursor;
        const size_t value = ReadNumber(digits, count);
        if (*digits == '$') {
          number = value;
          cursor = digits + 1;
        }
      }
      if (number == 0) number = next_sequential++;
      if (number > count) return false;
      const FormatArgument& argument = arguments[number - 1];
      if (!IsIntegerKind(argument.kind)) return false;
      if (spec.star_count < 2) spec.star_values[spec.star_count++] = ReadAsInt(argument);
      return true;
    }
    while (IsDigit(*cursor)) {
      if (!spec.Append(*cursor++)) return false;
    }
    return true;
  }

  // Collects the full specification at `cursor` (after '%' or '%N$'). False
  // when formatting must stop.
  bool CollectSpecification(const char*& cursor, Specification& spec) {
    while (*cursor != '\0' && std::strchr("-+ #0", *cursor) != nullptr) {
      if (!spec.Append(*cursor++)) return false;
    }
    if (!CollectField(cursor, spec)) return false;
    if (*cursor == '.') {
      if (!spec.Append(*cursor++)) return false;
      if (!CollectField(cursor, spec)) return false;
    }
    if (*cursor == 'h' || *cursor == 'l') {
      const char first = *cursor;
      if (!spec.Append(*cursor++)) return false;
      if (*cursor == first && !spec.Append(*cursor++)) return false;
    } else if (*cursor != '\0' && std::strchr("Ljtz", *cursor) != nullptr) {
      if (!spec.Append(*cursor++)) return false;
    }
    if (*cursor != '\0' && !spec.Append(*cursor++)) return false;
    return true;
  }
};

// Reads a clamped width or precision out of the final specification text and
// writes it to `out` (digits or '*'); returns whether it was a '*'.
bool CopyField(const char*& cursor, std::string& out) {
  if (*cursor == '*') {
    out += '*';
    ++cursor;
    return true;
  }
  if (IsDigit(*cursor)) {
    size_t value = ReadNumber(cursor, kFieldLimit);
    if (value > static_cast<size_t>(kFieldLimit)) value = kFieldLimit;
    out += std::to_string(value);
  }
  return false;
}

int ClampWidth(int value) {
  if (value > kFieldLimit) return kFieldLimit;
  if (value < -kFieldLimit) return -kFieldLimit;
  return value;
}

template <typename Value>
int Convert(char* destination, size_t room, const char* format, const int* stars, size_t star_count,
            Value value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  switch (star_count) {
    case 0:
      return std::snprintf(destination, room, format, value);
    case 1:
      return std::snprintf(destination, room, format, stars[0], value);
    default:
      return std::snprintf(destination, room, format, stars[0], stars[1], value);
  }
#pragma GCC diagnostic pop
}

// Writes `argument` by the collected `spec` into `output`.
void WriteArgument(const FormatArgument& argument, Specification& spec, Output& output) {
  const char* accepted = AcceptedConversions(argument.kind);
  char conversion = accepted[0];
  if (spec.length > 1) {
    const char last = spec.text[spec.length - 1];
    if (std::strchr(accepted, last) != nullptr) {
      conversion = last;
    } else {
      spec.text[spec.length - 1] = conversion;
    }
  } else {
    spec.text[spec.length++] = conversion;  // "%" becomes "%" + default (modifier added below)
  }
  spec.text[spec.length] = '\0';

  // Rebuild the printf directive for snprintf: flags, width and precision as
  // spelled (numbers clamped), the length modifier fixed to the argument's real
  // width, then the conversion.
  std::string format = "%";
  const char* cursor = spec.text + 1;
  while (*cursor != '\0' && std::strchr("-+ #0", *cursor) != nullptr) format += *cursor++;
  int stars[2];
  size_t star_count = 0;
  size_t star_index = 0;
  if (CopyField(cursor, format)) stars[star_count++] = ClampWidth(spec.star_values[star_index++]);
  if (*cursor == '.') {
    format += *cursor++;
    if (CopyField(cursor, format)) {
      const int precision = spec.star_values[star_index++];
      stars[star_count++] = precision > kFieldLimit ? kFieldLimit : precision;
    }
  }
  const std::string spelled_length(cursor, static_cast<const char*>(spec.text + spec.length - 1));

  const bool as_character = conversion == 'c';
  switch (argument.kind) {
    case ArgumentKind::kSigned32:
    case ArgumentKind::kUnsigned32:
    case ArgumentKind::kCharacter:
      // 'h' and "hh" are well-defined on an int argument and stay; the others
      // would read a wider argument than the one passed.
      if (!as_character && (spelled_length == "h" || spelled_length == "hh")) {
        format += spelled_length;
      }
      break;
    case ArgumentKind::kSigned64:
    case ArgumentKind::kUnsigned64:
      if (!as_character) format += "ll";
      break;
    default:
      break;
  }
  format += conversion;

  char* destination = output.end();
  const size_t room = output.room();
  int written = 0;
  switch (argument.kind) {
    case ArgumentKind::kSigned32:
    case ArgumentKind::kCharacter:
      written = Convert(destination, room, format.c_str(), stars, star_count,
                        static_cast<int>(argument.signed_value));
      break;
    case ArgumentKind::kUnsigned32:
      written = Convert(destination, room, format.c_str(), stars, star_count,
                        static_cast<unsigned int>(argument.unsigned_value));
      break;
    case ArgumentKind::kSigned64:
      written = as_character ? Convert(destination, room, format.c_str(), stars, star_count,
                                       ReadAsInt(argument))
                             : Convert(destination, room, format.c_str(), stars, star_count,
                                       static_cast<long long>(argument.signed_value));
      break;
    case ArgumentKind::kUnsigned64:
      written = as_character ? Convert(destination, room, format.c_str(), stars, star_count,
                                       ReadAsInt(argument))
                             : Convert(destination, room, format.c_str(), stars, star_count,
                                       static_cast<unsigned long long>(argument.unsigned_value));
      break;
    case ArgumentKind::kDouble:
      written =
          Convert(destination, room, format.c_str(), stars, star_count, argument.double_value);
      break;
    case ArgumentKind::kText:
      written = Convert(destination, room, format.c_str(), stars, star_count,
                        argument.text != nullptr ? argument.text : "(null)");
      break;
    case ArgumentKind::kString:
      written =
          Convert(destination, room, format.c_str(), stars, star_count, argument.string->c_str());
      break;
    case ArgumentKind::kRendered: {
      const std::string text = argument.render(argument.object);
      written = Convert(destination, room, format.c_str(), stars, star_count, text.c_str());
      break;
    }
  }
  output.Advance(written);
}

}  // namespace

std::string FormatArguments(const char* format, const FormatArgument* arguments, size_t count) {
  if (format == nullptr) return std::string();
  Output output;
  Scanner scanner{arguments, count};
  const char* cursor = format;
  while (*cursor != '\0' && !output.full()) {
    if (*cursor != '%') {
      output.Put(*cursor++);
      continue;
    }
    if (cursor[1] == '%') {
      output.Put('%');
      cursor += 2;
      continue;
    }

    // A placeholder.
    Specification spec;
    spec.Append('%');
    const char* next = cursor + 1;
    size_t number = 0;  // 0: the next sequential argument
    bool bare = false;
    if (*next >= '1' && *next <= '9') {
      const char* digits = next;
      const size_t value = ReadNumber(digits, count);
      if (value <= count) {
        number = value;
        if (*digits == '$') {
          next = digits + 1;
        } else {
          next = digits;
          bare = true;
        }
      }
    }
    if (!bare && !scanner.CollectSpecification(next, spec)) break;
    if (number == 0) number = scanner.next_sequential++;
    if (number > count) break;
    WriteArgument(arguments[number - 1], spec, output);
    cursor = next;
  }
  return output.Take();
}

}  // namespace FormatInternal
}  // namespace Kestrel
