// `CallGate`: the door calls pass on their way into a plugin, so that the
// host can replace the plugin between calls.
//
// Calls enter and leave; closing the gate holds back new calls and waits for
// those inside to leave. A call entered again from inside a call on the same
// thread (a plugin that calls back) passes a closed gate, as its outer call
// already holds the plugin. The gate owns only its counts; safe from any
// thread.
//
//   gate.Close();
//   bool drained = gate.WaitEmpty(std::chrono::seconds(5));
//   ... replace the plugin ...
//   gate.Open();
#ifndef VYN_DEVHOST_HOST_CALL_GATE_H_
#define VYN_DEVHOST_HOST_CALL_GATE_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace Kestrel::DevHost {

class CallGate {
 public:
  // Waits while the gate is closed (not for a call entered from inside a
  // call on this thread), then counts the call in. Never fails.
  void Enter();
  // Counts a call out; every `Enter` is matched by one `Leave`.
  void Leave();

  // Holds back calls that enter from now on. Never fails; repeatable.
  void Close();
  // Waits up to `timeout` for every call inside to leave; true when none is.
  bool WaitEmpty(std::chrono::milliseconds timeout);
  // Waits for every call inside to leave, however long they take.
  void WaitEmpty();
  // Lets held and new calls in again.
  void Open();

  bool closed() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  int inside_ = 0;
};

// Enters `gate` for the life of the guard.
class CallGateGuard {
 public:
  explicit CallGateGuard(CallGate& gate) : gate_(gate) { gate_.Enter(); }
  CallGateGuard(const CallGateGuard&) = delete;
  CallGateGuard& operator=(const CallGateGuard&) = delete;
  ~CallGateGuard() { gate_.Leave(); }

 private:
  CallGate& gate_;
};

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_HOST_CALL_GATE_H_
