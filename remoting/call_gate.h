// `CallGate`: keeps a module alive while the host's calls into it are in
// progress, so that the host may shut the module down at any time, also from
// inside a call that waits (in its `Yield` or `SendRequest`) or from another
// thread.
//
// The gate counts references in one atomic word: one that the host holds from
// load until shutdown, and one per call in progress at every entry point the
// host calls (descriptor call-backs, event call-backs, the entry table). The
// release that brings the count to zero destroys the owner, on the releasing
// thread: at shutdown when no call is in progress, otherwise when the last
// call leaves. Entering and the decision to destroy use the same word, so a
// call that enters while shutdown releases the host's reference either keeps
// the owner alive until it leaves, or comes after the owner is gone (a host
// that calls after shutdown returned with no call in progress is at fault).
//
// Closing is separate from the count: a call that enters a closed gate still
// counts, but answers "Finalizing" and runs nothing. A call already inside
// when the gate closes runs to its end.
//
//   CallGate::Call call(gate);           // at an entry point; gate may be null
//   if (!call.open()) return AnswerFinalizing(response);
//   ...                                  // the owner stays alive until `call` ends
#ifndef VYN_REMOTING_CALL_GATE_H_
#define VYN_REMOTING_CALL_GATE_H_

#include <atomic>
#include <cstdint>

namespace Kestrel {

// The answer of a call that came after shutdown, and the failure of a
// service-proxy call that shutdown ended.
inline constexpr char kFinalizingText[] = "Finalizing";

class CallGate {
 public:
  // Destroys the owner; called once, by the last release. Must not throw.
  using Destroy = void (*)(void* owner);

  // Starts open, with the host's reference taken. `destroy` must not be
  // null; `owner` (may be null) is what it receives.
  CallGate(Destroy destroy, void* owner) : destroy_(destroy), owner_(owner) {}
  CallGate(const CallGate&) = delete;
  CallGate& operator=(const CallGate&) = delete;

  // Counts a call in progress; returns false when the gate is closed (the
  // call still counts and must `Leave`). Thread-safe.
  [[nodiscard]] bool Enter() noexcept {
    references_.fetch_add(1);
    return !closed();
  }
  // Counts a call out; the last release destroys the owner. Thread-safe.
  void Leave() noexcept {
    if (references_.fetch_sub(1) == 1) destroy_(owner_);
  }
  // Closes the gate: later calls answer "Finalizing". Idempotent.
  void Close() noexcept { closed_.store(true); }
  bool closed() const noexcept { return closed_.load(); }
  // Releases the host's reference; call once, at shutdown.
  void ReleaseHostReference() noexcept { Leave(); }

  // One call in progress for the scope of the object. A null gate counts
  // nothing and is open.
  class Call {
   public:
    // Enters `gate`, which may be null (counts nothing, open).
    explicit Call(CallGate* gate) noexcept : gate_(gate), open_(gate == nullptr || gate->Enter()) {}
    ~Call() {
      if (gate_ != nullptr) gate_->Leave();
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    bool open() const { return open_; }

   private:
    CallGate* gate_;
    bool open_;
  };

 private:
  std::atomic<uint32_t> references_{1};
  std::atomic<bool> closed_{false};
  Destroy destroy_;
  void* owner_;
};

}  // namespace Kestrel

#endif  // VYN_REMOTING_CALL_GATE_H_
