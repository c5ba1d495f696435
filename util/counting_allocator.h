// The plugin's one heap allocator: every allocation the library makes goes
// through here (operator new and delete of the library included, see
// operator_new.cpp), and six process-wide counters record what it did.
//
// Sizes are the runtime's real block sizes. A reallocation counts as a free of
// the old block and an allocation of the new one; a string copy counts as an
// allocation; releasing nullptr counts nothing. Counters are updated with
// atomic compare-and-swap, so any thread may allocate.
//
//   void* block = CountingAllocate(64);   // allocations +1, bytes += block size
//   CountingFree(block);                   // frees +1, bytes freed += block size
#ifndef VYN_UTIL_COUNTING_ALLOCATOR_H_
#define VYN_UTIL_COUNTING_ALLOCATOR_H_

#include <cstddef>
#include <cstdint>

namespace Kestrel {

// A snapshot of the allocator's counters, in the order the host reads them.
struct AllocatorCounters {
  uint64_t peak_live_bytes = 0;        // largest allocated - freed seen after an allocation
  uint64_t peak_live_allocations = 0;  // allocations - frees at that peak
  uint64_t bytes_allocated = 0;
  uint64_t allocations = 0;
  uint64_t bytes_freed = 0;
  uint64_t frees = 0;

  // Bytes currently live (allocated - freed).
  uint64_t live_bytes() const { return bytes_allocated - bytes_freed; }
  // Blocks currently live (allocations - frees).
  uint64_t live_allocations() const { return allocations - frees; }
};

// Returns a counted block of at least `size` bytes, or nullptr when the heap is
// exhausted. Thread-safe, as every function here.
void* CountingAllocate(std::size_t size);

// Returns a counted block aligned to `alignment`, or nullptr when the heap is
// exhausted.
void* CountingAllocateAligned(std::size_t size, std::size_t alignment);

// Resizes `block` (nullptr allocates); returns nullptr and leaves `block` live
// and uncounted-as-freed when the heap is exhausted.
void* CountingReallocate(void* block, std::size_t size);

// Releases a counted `block`; nullptr is ignored and not counted.
void CountingFree(void* block);

// Returns a counted copy of the NUL-terminated `text`, or nullptr when `text`
// is nullptr or the heap is exhausted.
char* CountingStringCopy(const char* text);

// Returns the current counters, each read atomically.
AllocatorCounters ReadAllocatorCounters();

// Failure injection for tests of out-of-memory paths: the next `allowed`
// allocations (including reallocations) succeed and every later one fails as
// an exhausted heap does (nullptr; operator new throws std::bad_alloc) until
// `StopFailingAllocations`. Process-wide and thread-safe; never used by the
// library itself.
void FailAllocationsAfter(uint64_t allowed);
// Ends `FailAllocationsAfter`: allocations reach the heap again.
void StopFailingAllocations();

}  // namespace Kestrel

#endif  // VYN_UTIL_COUNTING_ALLOCATOR_H_
