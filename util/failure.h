// The error value of the whole system and the result-or-error template.
// Every operation that can fail across a boundary returns a Failure
// or a MaybeType<T>; nothing crosses the host boundary as an exception.
//
//   MaybeType<int32_t> ParsePort(std::string_view text) {
//     if (text.empty()) return Failure(400, "Empty port in '%1'", text);
//     return 8080;
//   }
//   MaybeType<int32_t> port = ParsePort("");
//   port.ToText();               // "Empty port in '' (400)"
//   Failure("Not found").code(); // 0
//
// Both types are [[nodiscard]]: a dropped result is a compile warning.
#ifndef VYN_UTIL_FAILURE_H_
#define VYN_UTIL_FAILURE_H_

#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "util/format_text.h"

namespace Kestrel {

// A signed 32-bit code and a message text. The message is held either as a
// reference to a static text (no allocation; see StaticText) or as an owned
// string; a one-byte flag tells which.
class [[nodiscard]] Failure {
 public:
  // Tag for a message that is a static text (a literal that lives for the
  // life of the library): it is referenced, not copied or formatted.
  struct StaticText {
    explicit StaticText() = default;
  };

  // A failure with code 0 and no message; renders as "".
  Failure() noexcept {}

  // A failure with code 0 whose message is FormatText(format, args...);
  // a null `format` gives an empty message.
  template <typename... Args>
  explicit Failure(const char* format, const Args&... args) : Failure(0, format, args...) {}

  // A failure with `code` whose message is FormatText(format, args...); a null
  // `format` gives an empty message.
  template <typename... Args>
  Failure(int32_t code, const char* format, const Args&... args) : code_(code) {
    SetOwned(FormatText(format, args...));
  }

  // A failure whose message is the static `text` itself, referenced and not
  // formatted ('%' stays as it is). `text` must live for the life of the
  // library; nullptr means no message.
  Failure(StaticText, const char* text, int32_t code = 0) noexcept
      : code_(code), static_text_(text != nullptr ? text : "") {}

  Failure(const Failure& other);
  Failure(Failure&& other) noexcept;
  Failure& operator=(const Failure& other);
  Failure& operator=(Failure&& other) noexcept;
  ~Failure();

  int32_t code() const { return code_; }

  // The message; never nullptr ("" when there is none).
  const char* message() const { return owned_flag_ ? owned_.c_str() : static_text_; }

  // Whether the message text is non-empty.
  bool has_message() const { return message()[0] != '\0'; }

  // Whether the message is an owned string (false: a static text).
  bool owns_message() const { return owned_flag_; }

  // "%1 (%2)" of the message and the code, e.g. "Not found (404)"; "" when
  // there is no message text.
  std::string ToText() const;

 private:
  void SetOwned(std::string&& text);
  void Reset() noexcept;

  int32_t code_ = 0;
  union {
    const char* static_text_ = "";
    std::string owned_;
  };
  bool owned_flag_ = false;
};

// FormatText rule: a Failure is formatted as its ToText().
inline std::string ToFormatText(const Failure& failure) {
  return failure.ToText();
}

// Writes an assertion report (what was expected, where, and the failure the
// result holds, when given) to the debugger output and to standard error, then
// stops the process with std::abort. Called when a `MaybeType` is read as what
// it does not hold, in every build. `expression` and `function` are never
// null; `held` may be (nothing held to show). Never returns; allocates
// nothing; any thread.
[[noreturn]] void StopOnWrongMaybeAccess(const char* expression, const char* function,
                                         const Failure* held);

// Holds either a value of T or a Failure, with a one-byte flag after the union
// that is set when it holds the failure. Both constructors are implicit so that
// `return value;` and `return Failure(...);` work in a function returning it.
// Reading the value of a failure, or the failure of a value, is a contract
// violation that stops the process (StopOnWrongMaybeAccess), in release builds
// as in debug builds.
template <typename T>
class [[nodiscard]] MaybeType {
 public:
  MaybeType(T value) : failure_flag_(false) { new (&value_) T(std::move(value)); }
  MaybeType(Failure failure) : failure_flag_(true) { new (&failure_) Failure(std::move(failure)); }
  // Holds a T made from `arguments` where it is kept: no T is moved.
  template <class... Arguments>
  explicit MaybeType(std::in_place_t, Arguments&&... arguments) : failure_flag_(false) {
    new (&value_) T(std::forward<Arguments>(arguments)...);
  }

  MaybeType(const MaybeType& other) : failure_flag_(other.failure_flag_) {
    if (failure_flag_) {
      new (&failure_) Failure(other.failure_);
    } else {
      new (&value_) T(other.value_);
    }
  }
  MaybeType(MaybeType&& other) noexcept(std::is_nothrow_move_constructible_v<T>)
      : failure_flag_(other.failure_flag_) {
    if (failure_flag_) {
      new (&failure_) Failure(std::move(other.failure_));
    } else {
      new (&value_) T(std::move(other.value_));
    }
  }
  // Builds the copy first: when copying T throws, this result keeps what it held.
  MaybeType& operator=(const MaybeType& other) {
    if (this != &other) {
      MaybeType copy(other);
      Replace(std::move(copy));
    }
    return *this;
  }
  // When moving T throws, this result keeps what it held (see Replace).
  MaybeType& operator=(MaybeType&& other) noexcept(std::is_nothrow_move_constructible_v<T>) {
    if (this != &other) Replace(std::move(other));
    return *this;
  }
  ~MaybeType() { Destroy(); }

  bool has_value() const { return !failure_flag_; }
  bool is_failure() const { return failure_flag_; }

  // The value. Requires has_value(); on a failure, stops the process.
  T& value() {
    if (failure_flag_) [[unlikely]]
      StopOnWrongMaybeAccess("has_value()", "MaybeType::value", &failure_);
    return value_;
  }
  const T& value() const {
    if (failure_flag_) [[unlikely]]
      StopOnWrongMaybeAccess("has_value()", "MaybeType::value", &failure_);
    return value_;
  }
  // Moves the value out; requires has_value() (else stops the process). The
  // held value is left moved-from.
  T TakeValue() {
    if (failure_flag_) [[unlikely]] {
      StopOnWrongMaybeAccess("has_value()", "MaybeType::TakeValue", &failure_);
    }
    return std::move(value_);
  }

  // The failure. Requires is_failure(); on a value, stops the process.
  const Failure& failure() const {
    if (!failure_flag_) [[unlikely]] {
      StopOnWrongMaybeAccess("is_failure()", "MaybeType::failure", nullptr);
    }
    return failure_;
  }

  // "Success" when it holds a value, else the failure's ToText().
  std::string ToText() const { return failure_flag_ ? failure_.ToText() : std::string("Success"); }

 private:
  void Destroy() noexcept {
    if (failure_flag_) {
      failure_.~Failure();
    } else {
      value_.~T();
    }
  }

  // Takes over the content of `other`, moved; never destroys anything twice.
  // Moving a Failure never throws. When moving T may throw, a failure held
  // here is set aside and put back if it does, and a value held here takes
  // the new one by T's own move assignment.
  void Replace(MaybeType&& other) noexcept(std::is_nothrow_move_constructible_v<T>) {
    if (other.failure_flag_) {
      if (failure_flag_) {
        failure_ = std::move(other.failure_);
      } else {
        value_.~T();
        new (&failure_) Failure(std::move(other.failure_));
        failure_flag_ = true;
      }
    } else if constexpr (std::is_nothrow_move_constructible_v<T>) {
      Destroy();
      new (&value_) T(std::move(other.value_));
      failure_flag_ = false;
    } else if (failure_flag_) {
      Failure held(std::move(failure_));
      failure_.~Failure();
      try {
        new (&value_) T(std::move(other.value_));
      } catch (...) {
        new (&failure_) Failure(std::move(held));
        throw;
      }
      failure_flag_ = false;
    } else {
      value_ = std::move(other.value_);
    }
  }

  union {
    T value_;
    Failure failure_;
  };
  bool failure_flag_;
};

// Success without a value, or a Failure. MaybeType<void>() is success.
template <>
class [[nodiscard]] MaybeType<void> {
 public:
  MaybeType() noexcept {}
  MaybeType(Failure failure) : failure_(std::move(failure)), failure_flag_(true) {}

  bool has_value() const { return !failure_flag_; }
  bool is_failure() const { return failure_flag_; }

  // The failure. Requires is_failure(); on success, stops the process.
  const Failure& failure() const {
    if (!failure_flag_) [[unlikely]] {
      StopOnWrongMaybeAccess("is_failure()", "MaybeType::failure", nullptr);
    }
    return failure_;
  }

  // "Success", or the failure's ToText().
  std::string ToText() const { return failure_flag_ ? failure_.ToText() : std::string("Success"); }

 private:
  Failure failure_;
  bool failure_flag_ = false;
};

// FormatText rule: a MaybeType is formatted as its ToText().
template <typename T>
std::string ToFormatText(const MaybeType<T>& maybe) {
  return maybe.ToText();
}

}  // namespace Kestrel

#endif  // VYN_UTIL_FAILURE_H_
