#include "platform/virtual_memory.h"

#include <sys/mman.h>

namespace Kestrel::Platform {

void* ReserveRegion(std::size_t size) {
  void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return region == MAP_FAILED ? nullptr : region;
}

void ReleaseRegion(void* region, std::size_t size) {
  if (region != nullptr) munmap(region, size);
}

}  // namespace Kestrel::Platform
