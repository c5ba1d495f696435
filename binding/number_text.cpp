#include "binding/number_text.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "util/format_text.h"

namespace Kestrel {
namespace {

// A NUL-terminated copy of a text for the strto* family: short texts (every
// real number) stay on the stack, longer ones go to the heap.
class TerminatedText {
 public:
  explicit TerminatedText(std::string_view text) : size_(text.size()) {
    if (text.size() < sizeof(small_)) {
      if (!text.empty()) std::memcpy(small_, text.data(), text.size());
      small_[text.size()] = '\0';
      data_ = small_;
    } else {
      large_.assign(text.data(), text.size());
      data_ = large_.c_str();
    }
  }
  TerminatedText(const TerminatedText&) = delete;
  TerminatedText& operator=(const TerminatedText&) = delete;

  const char* c_str() const { return data_; }
  // True when `end` (from a strto* call) is past every character of the text.
  bool ConsumedAt(const char* end) const { return end == data_ + size_; }

 private:
  char small_[64];
  std::string large_;
  const char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Keeps the caller's errno: the parse reads errno, the caller never sees it.
class ErrnoScope {
 public:
  ErrnoScope() : saved_(errno) { errno = 0; }
  ~ErrnoScope() { errno = saved_; }
  ErrnoScope(const ErrnoScope&) = delete;
  ErrnoScope& operator=(const ErrnoScope&) = delete;

 private:
  int saved_;
};

// True when the first character after leading white space is '-'. strtoull
// accepts " -1" and negates it into a huge value, so the sign is checked where
// the parser would see it, not only at the very first character.
bool StartsNegative(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  return *text == '-';
}

}  // namespace

NumberTextStatus ScanSignedText(std::string_view text, const SignedRange& range, int64_t* value) {
  *value = 0;
  const TerminatedText terminated(text);
  ErrnoScope errno_scope;
  char* end = nullptr;
  const long long parsed = std::strtoll(terminated.c_str(), &end, 0);
  if (!terminated.ConsumedAt(end)) return NumberTextStatus::kIncorrectFormat;
  if (errno == ERANGE || parsed < range.min || parsed > range.max) {
    return NumberTextStatus::kOutOfRange;
  }
  *value = parsed;
  return NumberTextStatus::kOk;
}

NumberTextStatus ScanUnsignedText(std::string_view text, const UnsignedRange& range,
                                  uint64_t* value) {
  *value = 0;
  const TerminatedText terminated(text);
  ErrnoScope errno_scope;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(terminated.c_str(), &end, 0);
  if (!terminated.ConsumedAt(end)) return NumberTextStatus::kIncorrectFormat;
  if (errno == ERANGE || StartsNegative(terminated.c_str()) || parsed < range.min ||
      parsed > range.max) {
    return NumberTextStatus::kOutOfRange;
  }
  *value = parsed;
  return NumberTextStatus::kOk;
}

NumberTextStatus ScanDoubleText(std::string_view text, const DoubleRange& range, double* value) {
  *value = 0.0;
  const TerminatedText terminated(text);
  ErrnoScope errno_scope;
  char* end = nullptr;
  const double parsed = std::strtod(terminated.c_str(), &end);
  if (!terminated.ConsumedAt(end)) return NumberTextStatus::kIncorrectFormat;
  if (errno == ERANGE || parsed < range.min || parsed > range.max) {
    return NumberTextStatus::kOutOfRange;
  }
  *value = parsed;
  return NumberTextStatus::kOk;
}

std::string NumberTextMessage(NumberTextStatus status, std::string_view text, std::string_view path,
                              const char* type_name) {
  const char* type = type_name != nullptr ? type_name : "";
  switch (status) {
    case NumberTextStatus::kOk:
      break;
    case NumberTextStatus::kIncorrectFormat:
      return FormatText("Value %1 for '%2' of type %3 is in an incorrect format", text, path, type);
    case NumberTextStatus::kOutOfRange:
      return FormatText("Value %1 for '%2' of type %3 is out of range", text, path, type);
  }
  return std::string();
}

int64_t ParseSignedText(PropertyResult& status, std::string_view text, const SignedRange& range,
                        std::string_view path) {
  if (!status.IsValid()) return 0;
  int64_t value = 0;
  const NumberTextStatus scanned = ScanSignedText(text, range, &value);
  if (scanned != NumberTextStatus::kOk) {
    status.SetError(NumberTextMessage(scanned, text, path, range.type_name));
  }
  return value;
}

uint64_t ParseUnsignedText(PropertyResult& status, std::string_view text,
                           const UnsignedRange& range, std::string_view path) {
  if (!status.IsValid()) return 0;
  uint64_t value = 0;
  const NumberTextStatus scanned = ScanUnsignedText(text, range, &value);
  if (scanned != NumberTextStatus::kOk) {
    status.SetError(NumberTextMessage(scanned, text, path, range.type_name));
  }
  return value;
}

double ParseDoubleText(PropertyResult& status, std::string_view text, const DoubleRange& range,
                       std::string_view path) {
  if (!status.IsValid()) return 0.0;
  double value = 0.0;
  const NumberTextStatus scanned = ScanDoubleText(text, range, &value);
  if (scanned != NumberTextStatus::kOk) {
    status.SetError(NumberTextMessage(scanned, text, path, range.type_name));
  }
  return value;
}

}  // namespace Kestrel
