#include "platform/heap.h"

#include <malloc.h>

#include <cstdlib>

namespace Kestrel::Platform {

void* HeapAllocate(std::size_t size) {
  return std::malloc(size);
}

void* HeapReallocate(void* block, std::size_t size) {
  return std::realloc(block, size);
}

void* HeapAllocateAligned(std::size_t size, std::size_t alignment) {
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  void* block = nullptr;
  return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
}

void HeapFree(void* block) {
  std::free(block);
}

std::size_t HeapBlockSize(const void* block) {
  return block == nullptr ? 0 : malloc_usable_size(const_cast<void*>(block));
}

}  // namespace Kestrel::Platform
