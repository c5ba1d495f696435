#include "platform/heap.h"

#include <malloc.h>

#include <cstdlib>

namespace Kestrel::Platform {
namespace {

// The C runtime DLL's heap aligns every block to 8 bytes on 32-bit Windows.
constexpr std::size_t kHeapAlignment = 8;

}  // namespace

void* HeapAllocate(std::size_t size) {
  return std::malloc(size);
}

void* HeapReallocate(void* block, std::size_t size) {
  return std::realloc(block, size);
}

void* HeapAllocateAligned(std::size_t size, std::size_t alignment) {
  // Blocks of _aligned_malloc must go back through _aligned_free, which
  // HeapFree cannot tell apart, so only the heap's own alignment is offered.
  if (alignment > kHeapAlignment) return nullptr;
  return std::malloc(size);
}

void HeapFree(void* block) {
  std::free(block);
}

std::size_t HeapBlockSize(const void* block) {
  // _msize asks the runtime heap that owns the block; HeapSize on the process
  // heap would ask the wrong heap.
  return block == nullptr ? 0 : _msize(const_cast<void*>(block));
}

}  // namespace Kestrel::Platform
