#include "platform/heap.h"

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace Kestrel::Platform {
namespace {

// The C runtime DLL's heap aligns its blocks to 8 bytes on 32-bit Windows,
// while the compiler assumes that plain operator new gives 16
// (__STDCPP_DEFAULT_NEW_ALIGNMENT__) and places `alignas(16)` objects there.
// So every block handed out is placed inside a runtime block `alignment`
// bytes larger, at the first suitably aligned address after one word, and
// that word holds the runtime block's address: `HeapFree` and `HeapBlockSize`
// find the runtime block of any block, whatever its alignment, and the
// counted size is the runtime block's true size.
constexpr std::size_t kRuntimeAlignment = 8;
constexpr std::size_t kBlockAlignment = 16;
static_assert(sizeof(void*) <= kRuntimeAlignment);

// Where a block aligned to `alignment` starts inside the runtime block `raw`.
// As `raw` is 8-aligned and `alignment` a multiple of 8, this is at most
// `alignment` bytes in.
char* AlignedStart(void* raw, std::size_t alignment) {
  const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
  return reinterpret_cast<char*>((first + alignment - 1) & ~(alignment - 1));
}

void* Place(void* raw, std::size_t alignment) {
  if (raw == nullptr) return nullptr;
  char* block = AlignedStart(raw, alignment);
  std::memcpy(block - sizeof(void*), &raw, sizeof(void*));
  return block;
}

void* RuntimeBlockOf(const void* block) {
  void* raw;
  std::memcpy(&raw, static_cast<const char*>(block) - sizeof(void*), sizeof(void*));
  return raw;
}

// `size` plus the room for any placement; nothing when that overflows.
bool RuntimeSize(std::size_t size, std::size_t alignment, std::size_t* total) {
  if (size > SIZE_MAX - alignment) return false;
  *total = size + alignment;
  return true;
}

}  // namespace

void* HeapAllocate(std::size_t size) {
  return HeapAllocateAligned(size, kBlockAlignment);
}

void* HeapReallocate(void* block, std::size_t size) {
  if (block == nullptr) return HeapAllocate(size);
  void* raw = RuntimeBlockOf(block);
  const std::size_t offset = static_cast<char*>(block) - static_cast<char*>(raw);
  const std::size_t old_usable = _msize(raw) - offset;
  std::size_t total = 0;
  if (!RuntimeSize(size, kBlockAlignment, &total)) return nullptr;
  void* resized = std::realloc(raw, total);
  if (resized == nullptr) return nullptr;  // the old block stays as it was
  // The runtime kept the bytes at their offset; the aligned start may differ
  // in the new block, so the content moves before the word before it is set.
  char* start = AlignedStart(resized, kBlockAlignment);
  char* kept = static_cast<char*>(resized) + offset;
  if (start != kept) std::memmove(start, kept, old_usable < size ? old_usable : size);
  return Place(resized, kBlockAlignment);
}

void* HeapAllocateAligned(std::size_t size, std::size_t alignment) {
  if (alignment < kBlockAlignment) alignment = kBlockAlignment;
  std::size_t total = 0;
  if (!RuntimeSize(size, alignment, &total)) return nullptr;
  return Place(std::malloc(total), alignment);
}

void HeapFree(void* block) {
  if (block != nullptr) std::free(RuntimeBlockOf(block));
}

std::size_t HeapBlockSize(const void* block) {
  // _msize asks the runtime heap that owns the block; HeapSize on the process
  // heap would ask the wrong heap.
  return block == nullptr ? 0 : _msize(RuntimeBlockOf(block));
}

}  // namespace Kestrel::Platform
