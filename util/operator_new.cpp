// operator new and delete routed through the counting allocator.
//
// This file is linked into the plugin library (where the version script keeps
// these symbols local, so the host process keeps its own operator new) and
// into test programs (so that tests see every allocation of the code they
// drive). It is an object library, never part of a static archive, because an
// archive member defining operator new would only be picked up by chance.
#include <cstddef>
#include <new>

#include "util/counting_allocator.h"

namespace {

void* AllocateOrThrow(std::size_t size) {
  if (size == 0) size = 1;
  void* block = Kestrel::CountingAllocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* AllocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
  if (size == 0) size = 1;
  void* block = Kestrel::CountingAllocateAligned(size, static_cast<std::size_t>(alignment));
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Kestrel::CountingAllocate(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Kestrel::CountingAllocate(size == 0 ? 1 : size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAlignedOrThrow(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Kestrel::CountingAllocateAligned(size == 0 ? 1 : size,
                                          static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Kestrel::CountingAllocateAligned(size == 0 ? 1 : size,
                                          static_cast<std::size_t>(alignment));
}

void operator delete(void* block) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete[](void* block) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete(void* block, std::size_t) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Kestrel::CountingFree(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Kestrel::CountingFree(block);
}
