#include "util/counting_allocator.h"

#include <atomic>
#include <cstring>

#include "platform/heap.h"

namespace Kestrel {
namespace {

// Plain atomics with static storage: constant-initialised, so they are usable
// by allocations made during static initialisation of any translation unit.
std::atomic<uint64_t> g_peak_live_bytes{0};
std::atomic<uint64_t> g_peak_live_allocations{0};
std::atomic<uint64_t> g_bytes_allocated{0};
std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_bytes_freed{0};
std::atomic<uint64_t> g_frees{0};
// Allocations left before injected failures start; negative when none are set.
std::atomic<int64_t> g_allowed_allocations{-1};

void AddTo(std::atomic<uint64_t>& counter, uint64_t amount) {
  uint64_t seen = counter.load(std::memory_order_relaxed);
  while (!counter.compare_exchange_weak(seen, seen + amount, std::memory_order_relaxed)) {
  }
}

void CountAllocation(const void* block) {
  AddTo(g_bytes_allocated, Platform::HeapBlockSize(block));
  AddTo(g_allocations, 1);
}

void CountFree(const void* block) {
  AddTo(g_bytes_freed, Platform::HeapBlockSize(block));
  AddTo(g_frees, 1);
}

// Raises the peak when the live bytes now exceed it; the peak count is taken
// at the same moment. Two racing threads may each publish a peak; the larger
// one wins because the exchange only ever moves the peak upwards.
void UpdatePeak() {
  uint64_t live = g_bytes_allocated.load() - g_bytes_freed.load();
  uint64_t peak = g_peak_live_bytes.load();
  while (live > peak) {
    if (g_peak_live_bytes.compare_exchange_weak(peak, live)) {
      g_peak_live_allocations.store(g_allocations.load() - g_frees.load());
      return;
    }
  }
}

// Whether an injected failure stands for this allocation (see FailAllocationsAfter).
bool InjectedFailure() {
  int64_t left = g_allowed_allocations.load(std::memory_order_relaxed);
  while (left > 0) {
    if (g_allowed_allocations.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
      return false;
    }
  }
  return left == 0;
}

}  // namespace

void* CountingAllocate(std::size_t size) {
  if (InjectedFailure()) return nullptr;
  void* block = Platform::HeapAllocate(size);
  if (block == nullptr) return nullptr;
  CountAllocation(block);
  UpdatePeak();
  return block;
}

void* CountingAllocateAligned(std::size_t size, std::size_t alignment) {
  if (InjectedFailure()) return nullptr;
  void* block = Platform::HeapAllocateAligned(size, alignment);
  if (block == nullptr) return nullptr;
  CountAllocation(block);
  UpdatePeak();
  return block;
}

void* CountingReallocate(void* block, std::size_t size) {
  if (block == nullptr) return CountingAllocate(size);
  if (InjectedFailure()) return nullptr;
  std::size_t old_size = Platform::HeapBlockSize(block);
  void* resized = Platform::HeapReallocate(block, size);
  if (resized == nullptr) return nullptr;
  AddTo(g_bytes_freed, old_size);
  AddTo(g_frees, 1);
  CountAllocation(resized);
  UpdatePeak();
  return resized;
}

void CountingFree(void* block) {
  if (block == nullptr) return;
  CountFree(block);
  Platform::HeapFree(block);
}

char* CountingStringCopy(const char* text) {
  if (text == nullptr) return nullptr;
  std::size_t length = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(CountingAllocate(length));
  if (copy != nullptr) std::memcpy(copy, text, length);
  return copy;
}

AllocatorCounters ReadAllocatorCounters() {
  AllocatorCounters counters;
  counters.peak_live_bytes = g_peak_live_bytes.load();
  counters.peak_live_allocations = g_peak_live_allocations.load();
  counters.bytes_allocated = g_bytes_allocated.load();
  counters.allocations = g_allocations.load();
  counters.bytes_freed = g_bytes_freed.load();
  counters.frees = g_frees.load();
  return counters;
}

void FailAllocationsAfter(uint64_t allowed) {
  const uint64_t limit = static_cast<uint64_t>(INT64_MAX);
  g_allowed_allocations.store(static_cast<int64_t>(allowed < limit ? allowed : limit));
}

void StopFailingAllocations() {
  g_allowed_allocations.store(-1);
}

}  // namespace Kestrel
