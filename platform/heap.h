// The runtime library's heap, as the counting allocator sees it.
//
// These are thin wrappers over malloc/realloc/free that also expose the
// runtime's real block size, so the allocator can count the bytes a block
// actually occupies rather than the bytes that were asked for. Every block is
// aligned as the compiler assumes plain operator new aligns
// (__STDCPP_DEFAULT_NEW_ALIGNMENT__); where the runtime heap aligns less (8
// bytes on 32-bit Windows), each block sits inside a larger runtime block,
// whose whole size is the block size.
#ifndef VYN_PLATFORM_HEAP_H_
#define VYN_PLATFORM_HEAP_H_

#include <cstddef>

namespace Kestrel::Platform {

// Returns a block of at least `size` bytes, aligned as above, or nullptr when
// the heap is exhausted. Thread-safe, as every function here.
void* HeapAllocate(std::size_t size);

// Resizes `block` (which may be nullptr); returns nullptr and leaves `block`
// untouched when the heap is exhausted.
void* HeapReallocate(void* block, std::size_t size);

// Returns a block of at least `size` bytes aligned to `alignment` (a power of
// two), or nullptr when the heap is exhausted. Released by `HeapFree` like any
// other block.
void* HeapAllocateAligned(std::size_t size, std::size_t alignment);

// Releases `block`, which may be nullptr (ignored).
void HeapFree(void* block);

// Returns the usable size of a live `block` (which may be nullptr: 0).
std::size_t HeapBlockSize(const void* block);

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_HEAP_H_
