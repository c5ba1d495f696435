#include "devhost/host/call_gate.h"

namespace Kestrel::DevHost {
namespace {

// How deep the current thread is inside gated calls, over every gate: a
// thread inside one call already holds its plugin, so it never waits.
thread_local int calls_on_this_thread = 0;

}  // namespace

void CallGate::Enter() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (calls_on_this_thread == 0) changed_.wait(lock, [this] { return !closed_; });
  ++inside_;
  ++calls_on_this_thread;
}

void CallGate::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  --inside_;
  --calls_on_this_thread;
  changed_.notify_all();
}

void CallGate::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
}

bool CallGate::WaitEmpty(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return inside_ == 0; });
}

void CallGate::WaitEmpty() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return inside_ == 0; });
}

bool CallGate::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

void CallGate::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = false;
  changed_.notify_all();
}

}  // namespace Kestrel::DevHost
