// `CallResult`: what a function handler fills for one call, and
// `ResponseStream`, a body the host reads piece by piece after the call.
//
// A `CallResult` lives for one call inside the transport. It owns its outcome
// (value or failure message), its texts and headers and, until the response
// takes it over, its stream. `SetFailure` makes the call failed and drops any
// stream, so a failed response never carries one.
//
// A typed handler's returned native value is kept as it is (`native`) while
// `outcome` stays empty and valid: the response is written from it without a
// property tree in between. Code that reads the outcome's value calls
// `MaterializeOutcome` first.
//
//   CallResult result;
//   result.outcome.SetString("done");            // a value for the response
//   SetFailure(result, "Unsupported body content type");  // or a failure
#ifndef VYN_REMOTING_CALL_RESULT_H_
#define VYN_REMOTING_CALL_RESULT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "binding/binding_property.h"
#include "binding/convert_native.h"
#include "binding/native_walker.h"

namespace Kestrel {

// A response body produced on demand. The host reads it through the
// response's stream functions and releases it when done; the response owns it
// from `WriteResponse` until then. Operations in fixed slot order.
class ResponseStream {
 public:
  // Reads up to `*length` bytes into `buffer`, sets `*length` to the bytes
  // read and `*more` to 1 while data remains. Returns non-zero on success.
  // None of the three pointers may be null.
  virtual uint8_t Read(char* buffer, uint32_t* length, uint8_t* more) = 0;  // slot 0
  // The total size in bytes, as far as known.
  virtual uint32_t Size() = 0;          // slot 1
  virtual ~ResponseStream() = default;  // slot 2
};

// A handler's returned native value, owned until the response is written.
class NativeOutcome {
 public:
  virtual ~NativeOutcome() = default;
  // The walk of the held value (native_walker.h); valid while this object lives.
  virtual NativeWalk Walk() const = 0;
  // Converts the held value into `output` as `ConvertNative` does; fails only
  // for an unregistered struct.
  virtual void Convert(PropertyResult& output) const = 0;
};

// The one `NativeOutcome` a call may hold, or none. An outcome of at most
// `kInlineBytes` lives inside the slot, so that the common answer takes no
// heap block between the handler's return and the response; a larger one is
// allocated. The slot owns what it holds.
class NativeOutcomeSlot {
 public:
  static constexpr std::size_t kInlineBytes = 128;
  // A fixed number rather than `alignof(std::max_align_t)`: the Windows
  // toolchain's headers define `max_align_t` with 8- or 16-byte alignment
  // depending on what a source includes first, which would give this class
  // two layouts in one program. Outcomes aligned more strictly go to the heap.
  static constexpr std::size_t kInlineAlignment = 8;

  NativeOutcomeSlot() = default;
  ~NativeOutcomeSlot() { reset(); }
  NativeOutcomeSlot(const NativeOutcomeSlot&) = delete;
  NativeOutcomeSlot& operator=(const NativeOutcomeSlot&) = delete;

  // Destroys what the slot holds, then makes an `Outcome` from `arguments`
  // and holds it. When the construction throws, the slot holds nothing.
  template <class Outcome, class... Arguments>
  Outcome& emplace(Arguments&&... arguments) {
    static_assert(std::is_base_of_v<NativeOutcome, Outcome>);
    reset();
    Outcome* made;
    if constexpr (sizeof(Outcome) <= kInlineBytes && alignof(Outcome) <= kInlineAlignment) {
      made = new (static_cast<void*>(storage_)) Outcome(std::forward<Arguments>(arguments)...);
      inline_ = true;
    } else {
      made = new Outcome(std::forward<Arguments>(arguments)...);
      inline_ = false;
    }
    held_ = made;
    return *made;
  }
  // Destroys what the slot holds; harmless when empty.
  void reset() {
    NativeOutcome* held = held_;
    if (held == nullptr) return;
    held_ = nullptr;
    if (inline_) {
      held->~NativeOutcome();
    } else {
      delete held;
    }
  }
  // The held outcome, or nullptr.
  NativeOutcome* get() const { return held_; }
  // The held outcome; nullptr when empty, so test first.
  NativeOutcome* operator->() const { return held_; }
  bool operator==(std::nullptr_t) const { return held_ == nullptr; }

 private:
  alignas(kInlineAlignment) unsigned char storage_[kInlineBytes];
  NativeOutcome* held_ = nullptr;
  bool inline_ = false;
};

// Response headers of a call: name to value.
using HeaderMap = std::unordered_map<std::string, std::string>;

// The result of one call, filled by the transport and the handler.
struct CallResult {
  // The value of a successful call; an invalid result carries the message.
  PropertyResult outcome;
  // Passed through to the response unchanged.
  uint8_t result_flag = 0;
  // 1 JSON, 2 YAML, 3 MessagePack; any other value reaches the host as 0.
  uint32_t body_encoding = 0;
  // HTTP status; 0 means not set.
  uint32_t status_code = 0;
  // Empty when none.
  std::string content_type;
  HeaderMap headers;
  // Null unless the handler streams its body.
  std::unique_ptr<ResponseStream> stream;
  // The value of a successful typed handler while `outcome` is empty and
  // valid; null otherwise.
  NativeOutcomeSlot native;

  bool IsGood() const { return outcome.IsValid(); }
};

// Converts a held native value into `outcome` (which may then be a failure)
// and drops it; does nothing without one. May throw std::bad_alloc.
void MaterializeOutcome(CallResult& result);

// Makes `result` failed with `message` and destroys any stream and native
// value it holds. Never fails.
void SetFailure(CallResult& result, std::string_view message);

// Makes `result` failed with the failed parse `parsed` (copied, so its message
// is kept) and destroys any stream and native value. A valid `parsed` is copied as it is.
void TakeFailedParse(CallResult& result, const PropertyResult& parsed);

}  // namespace Kestrel

#endif  // VYN_REMOTING_CALL_RESULT_H_
