#include "util/failure.h"

#include <cstdio>
#include <cstdlib>

#include "platform/debug_output.h"

namespace Kestrel {

Failure::Failure(const Failure& other) : code_(other.code_) {
  if (other.owned_flag_) {
    new (&owned_) std::string(other.owned_);
    owned_flag_ = true;
  } else {
    static_text_ = other.static_text_;
  }
}

Failure::Failure(Failure&& other) noexcept : code_(other.code_) {
  if (other.owned_flag_) {
    new (&owned_) std::string(std::move(other.owned_));
    owned_flag_ = true;
  } else {
    static_text_ = other.static_text_;
  }
}

Failure& Failure::operator=(const Failure& other) {
  if (this != &other) {
    if (other.owned_flag_) {
      SetOwned(std::string(other.owned_));
    } else {
      Reset();
      static_text_ = other.static_text_;
    }
    code_ = other.code_;
  }
  return *this;
}

Failure& Failure::operator=(Failure&& other) noexcept {
  if (this != &other) {
    if (other.owned_flag_) {
      SetOwned(std::move(other.owned_));
    } else {
      Reset();
      static_text_ = other.static_text_;
    }
    code_ = other.code_;
  }
  return *this;
}

Failure::~Failure() {
  Reset();
}

std::string Failure::ToText() const {
  if (!has_message()) return std::string();
  return FormatText("%1 (%2)", message(), code_);
}

void Failure::SetOwned(std::string&& text) {
  if (owned_flag_) {
    owned_ = std::move(text);
  } else {
    new (&owned_) std::string(std::move(text));
    owned_flag_ = true;
  }
}

void Failure::Reset() noexcept {
  if (owned_flag_) {
    owned_.~basic_string();
    owned_flag_ = false;
  }
  static_text_ = "";
}

void StopOnWrongMaybeAccess(const char* expression, const char* function, const Failure* held) {
  // A fixed buffer: the report must not depend on the heap, which may be
  // what failed.
  char report[1024];
  if (held != nullptr) {
    std::snprintf(report, sizeof report,
                  "Assertion failed!\n\nFunction: %s\n\nExpression: %s\n\n"
                  "Description: the result holds the failure '%s' (%d)\n",
                  function, expression, held->message(), static_cast<int>(held->code()));
  } else {
    std::snprintf(report, sizeof report,
                  "Assertion failed!\n\nFunction: %s\n\nExpression: %s\n\n"
                  "Description: the result holds a value\n",
                  function, expression);
  }
  Platform::WriteDebugOutput(report);
  std::fputs(report, stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace Kestrel
