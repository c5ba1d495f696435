// `CoreHost`'s records: what each kind holds in bytes for the windows'
// bounds, and the accessors that copy them out.
#include <chrono>

#include "devhost/host/core_host.h"
#include "devhost/host/core_host_parts.h"
#include "host_abi/core_value.h"

namespace Kestrel::DevHost {

std::string TextOrEmpty(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

size_t RecordBytes(const RecordedRequest& request) {
  size_t bytes = sizeof(request) + request.path.size();
  for (const RecordedArgument& argument : request.arguments) {
    bytes += sizeof(argument) + argument.name.size() + CoreValueBytes(argument.value.get());
  }
  return bytes;
}
size_t RecordBytes(const RecordedEvent& event) {
  return sizeof(event) + event.name.size() + CoreValueBytes(event.payload.get());
}
size_t RecordBytes(const std::string& text) {
  return sizeof(text) + text.size();
}
size_t RecordBytes(const LogLine& line) {
  return sizeof(line) + line.text.size();
}
size_t RecordBytes(const CallRecord& call) {
  size_t bytes = sizeof(call) + call.request.path.size() + call.request.content_type.size() +
                 call.outcome.error_text.size() + call.outcome.content_type.size() +
                 call.outcome.stream_text.size() + CoreValueBytes(call.outcome.value.get());
  if (call.request.body.has_value()) bytes += call.request.body->size();
  for (const auto& [name, value] : call.request.headers) bytes += name.size() + value.size();
  for (const RecordedArgument& argument : call.request.arguments) {
    bytes += sizeof(argument) + argument.name.size() + CoreValueBytes(argument.value.get());
  }
  return bytes;
}
size_t RecordBytes(const Subscription& subscription) {
  return sizeof(subscription) + subscription.name.size();
}
size_t RecordBytes(const Unsubscription& unsubscription) {
  return sizeof(unsubscription) + unsubscription.name.size();
}

// ---------------------------------------------------------------------------
// Records

int64_t LiveBytes(const MemoryStats& stats) {
  return static_cast<int64_t>(stats.bytes_allocated - stats.bytes_freed);
}

int64_t LiveAllocations(const MemoryStats& stats) {
  return static_cast<int64_t>(stats.allocations - stats.frees);
}

int64_t CallRecord::AllocationsMade() const {
  return static_cast<int64_t>(memory_after.allocations - memory_before.allocations);
}

int64_t CallRecord::LiveBytesChange() const {
  return LiveBytes(memory_after) - LiveBytes(memory_before);
}

int64_t CallRecord::LiveAllocationsChange() const {
  return LiveAllocations(memory_after) - LiveAllocations(memory_before);
}

std::vector<RecordedRequest> CoreHost::requests() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return requests_.Copy();
}

std::vector<RecordedEvent> CoreHost::events() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return events_.Copy();
}

std::vector<RecordedEvent> CoreHost::delivered_events() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return delivered_events_.Copy();
}

std::vector<Subscription> CoreHost::subscriptions() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return subscriptions_.Copy();
}

std::vector<Subscription> CoreHost::active_subscriptions() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return active_subscriptions_;
}

std::vector<Unsubscription> CoreHost::unsubscriptions() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return unsubscriptions_.Copy();
}

std::vector<std::string> CoreHost::wait_labels() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return wait_labels_.Copy();
}

int CoreHost::end_wait_count() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return end_wait_count_;
}

int CoreHost::yield_count() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return yield_count_;
}

std::vector<LogLine> CoreHost::log_lines() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return log_lines_.Copy();
}

std::vector<CallRecord> CoreHost::calls() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return calls_.Copy();
}

std::optional<CallRecord> CoreHost::FindCall(uint64_t number) const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  const CallRecord* call =
      calls_.FindNewest([number](const CallRecord& kept) { return kept.number == number; });
  if (call == nullptr) return std::nullopt;
  return *call;
}

size_t CoreHost::pending_event_count() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return pending_events_.size();
}

std::vector<RecordedEvent> CoreHost::pending_events() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return std::vector<RecordedEvent>(pending_events_.begin(), pending_events_.end());
}

void CoreHost::ClearRecords() {
  std::lock_guard<std::mutex> lock(state_mutex_);
  requests_.Clear();
  events_.Clear();
  delivered_events_.Clear();
  subscriptions_.Clear();
  unsubscriptions_.Clear();
  wait_labels_.Clear();
  end_wait_count_ = 0;
  yield_count_ = 0;
  log_lines_.Clear();
  calls_.Clear();
}

}  // namespace Kestrel::DevHost
