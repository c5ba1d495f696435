#include "platform/virtual_memory.h"

#include <windows.h>

namespace Kestrel::Platform {

void* ReserveRegion(std::size_t size) {
  // Reserved and committed in one call; committed pages read as zero.
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseRegion(void* region, std::size_t) {
  // MEM_RELEASE frees the whole reservation and requires a size of 0.
  if (region != nullptr) VirtualFree(region, 0, MEM_RELEASE);
}

}  // namespace Kestrel::Platform
