#include "bench/bench_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "util/counting_allocator.h"

namespace Kestrel::Bench {

namespace {

std::atomic<bool> g_counting{false};

void* Allocate(std::size_t size) {
  if (size == 0) size = 1;
  return g_counting.load(std::memory_order_relaxed) ? CountingAllocate(size) : std::malloc(size);
}

void* AllocateAligned(std::size_t size, std::size_t alignment) {
  if (size == 0) size = 1;
  if (g_counting.load(std::memory_order_relaxed)) return CountingAllocateAligned(size, alignment);
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  void* block = nullptr;
  return posix_memalign(&block, alignment, size) == 0 ? block : nullptr;
}

void Free(void* block) {
  if (g_counting.load(std::memory_order_relaxed)) {
    CountingFree(block);
  } else {
    std::free(block);
  }
}

void* AllocateOrThrow(std::size_t size) {
  void* block = Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* AllocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
  void* block = AllocateAligned(size, static_cast<std::size_t>(alignment));
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

bool IsCounting() {
  return g_counting.load(std::memory_order_relaxed);
}

CountingScope::CountingScope() : previous_(g_counting.exchange(true)) {}

CountingScope::~CountingScope() {
  g_counting.store(previous_);
}

}  // namespace Kestrel::Bench

using Kestrel::Bench::Free;

void* operator new(std::size_t size) {
  return Kestrel::Bench::AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  return Kestrel::Bench::AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Kestrel::Bench::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Kestrel::Bench::Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return Kestrel::Bench::AllocateAlignedOrThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return Kestrel::Bench::AllocateAlignedOrThrow(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Kestrel::Bench::AllocateAligned(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Kestrel::Bench::AllocateAligned(size, static_cast<std::size_t>(alignment));
}

void operator delete(void* block) noexcept {
  Free(block);
}
void operator delete[](void* block) noexcept {
  Free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  Free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  Free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Free(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  Free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  Free(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
  Free(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
  Free(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Free(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Free(block);
}
