#include "platform/virtual_memory.h"

#include <windows.h>

#include <cstddef>

namespace Kestrel::Platform {

void* ReserveRegion(std::size_t size) {
  // Reserved and committed in one call; committed pages read as zero.
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseRegion(void* region, std::size_t size) {
  ReleaseRegions(region, size, 1);
}

void ReleaseRegions(void* first, std::size_t size, std::size_t count) {
  // MEM_RELEASE frees one whole reservation and requires a size of 0, so
  // adjacent regions, each its own reservation, go one call each.
  if (first == nullptr) return;
  for (std::size_t i = 0; i < count; ++i) {
    VirtualFree(static_cast<std::byte*>(first) + i * size, 0, MEM_RELEASE);
  }
}

}  // namespace Kestrel::Platform
