#include "util/counting_allocator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>

#include "platform/heap.h"

namespace Kestrel {
namespace {

TEST(CountingAllocatorTest, AllocationAndReleaseMoveCountersByTheBlockSize) {
  AllocatorCounters before = ReadAllocatorCounters();
  void* block = CountingAllocate(100);
  ASSERT_NE(block, nullptr);
  const uint64_t size = Platform::HeapBlockSize(block);
  AllocatorCounters during = ReadAllocatorCounters();
  EXPECT_EQ(during.bytes_allocated - before.bytes_allocated, size);
  EXPECT_EQ(during.allocations - before.allocations, 1u);
  EXPECT_EQ(during.bytes_freed, before.bytes_freed);
  EXPECT_EQ(during.frees, before.frees);
  CountingFree(block);
  AllocatorCounters after = ReadAllocatorCounters();
  EXPECT_EQ(after.bytes_freed - before.bytes_freed, size);
  EXPECT_EQ(after.frees - before.frees, 1u);
  EXPECT_EQ(after.live_bytes(), before.live_bytes());
}

TEST(CountingAllocatorTest, PeakRisesOnlyWhenLiveBytesExceedIt) {
  AllocatorCounters start = ReadAllocatorCounters();
  // Far above anything the test runner holds, so this allocation sets the peak.
  const std::size_t big = static_cast<std::size_t>(start.peak_live_bytes) + (1 << 20);
  void* block = CountingAllocate(big);
  ASSERT_NE(block, nullptr);
  AllocatorCounters peak = ReadAllocatorCounters();
  EXPECT_EQ(peak.peak_live_bytes, peak.live_bytes());
  EXPECT_EQ(peak.peak_live_allocations, peak.live_allocations());
  CountingFree(block);
  void* small = CountingAllocate(16);
  AllocatorCounters later = ReadAllocatorCounters();
  EXPECT_EQ(later.peak_live_bytes, peak.peak_live_bytes);
  EXPECT_EQ(later.peak_live_allocations, peak.peak_live_allocations);
  CountingFree(small);
}

TEST(CountingAllocatorTest, ReallocationCountsAFreeAndAnAllocation) {
  void* block = CountingAllocate(8);
  const uint64_t old_size = Platform::HeapBlockSize(block);
  AllocatorCounters before = ReadAllocatorCounters();
  block = CountingReallocate(block, 4000);
  ASSERT_NE(block, nullptr);
  AllocatorCounters after = ReadAllocatorCounters();
  EXPECT_EQ(after.frees - before.frees, 1u);
  EXPECT_EQ(after.bytes_freed - before.bytes_freed, old_size);
  EXPECT_EQ(after.allocations - before.allocations, 1u);
  EXPECT_EQ(after.bytes_allocated - before.bytes_allocated, Platform::HeapBlockSize(block));
  CountingFree(block);
}

TEST(CountingAllocatorTest, StringCopyCountsAndNullCountsNothing) {
  AllocatorCounters before = ReadAllocatorCounters();
  char* copy = CountingStringCopy("kestrel");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "kestrel");
  EXPECT_EQ(ReadAllocatorCounters().allocations - before.allocations, 1u);
  CountingFree(copy);
  CountingFree(nullptr);
  EXPECT_EQ(CountingStringCopy(nullptr), nullptr);
  AllocatorCounters after = ReadAllocatorCounters();
  EXPECT_EQ(after.frees - before.frees, 1u);
  EXPECT_EQ(after.live_bytes(), before.live_bytes());
}

TEST(CountingAllocatorTest, OperatorNewOfThisProgramIsCounted) {
  AllocatorCounters before = ReadAllocatorCounters();
  auto value = std::make_unique<long long[]>(32);
  EXPECT_EQ(ReadAllocatorCounters().allocations - before.allocations, 1u);
  value.reset();
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), before.live_bytes());
}

TEST(CountingAllocatorTest, InjectedFailuresStartAfterTheAllowedAllocationsAndStopOnRequest) {
  void* kept = CountingAllocate(8);
  ASSERT_NE(kept, nullptr);
  FailAllocationsAfter(1);
  void* allowed = CountingAllocate(16);
  void* refused = CountingAllocate(16);
  void* refused_aligned = CountingAllocateAligned(16, 64);
  void* refused_resize = CountingReallocate(kept, 4000);
  bool new_threw = false;
  try {
    ::operator delete(::operator new(16));  // a direct call: never elided
  } catch (const std::bad_alloc&) {
    new_threw = true;
  }
  StopFailingAllocations();
  void* after = CountingAllocate(16);
  EXPECT_NE(allowed, nullptr);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(refused_aligned, nullptr);
  EXPECT_EQ(refused_resize, nullptr);  // `kept` stays live
  EXPECT_TRUE(new_threw);
  EXPECT_NE(after, nullptr);
  CountingFree(after);
  CountingFree(allowed);
  CountingFree(kept);
}

}  // namespace
}  // namespace Kestrel
