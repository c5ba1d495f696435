#include "platform/virtual_memory.h"

#include <sys/mman.h>

namespace Kestrel::Platform {

void* ReserveRegion(std::size_t size) {
  // Committed in the same call (MAP_POPULATE): the pool hands out every page
  // of a region soon after taking it, and one call is far cheaper than a page
  // fault per page.
  void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  return region == MAP_FAILED ? nullptr : region;
}

void ReleaseRegion(void* region, std::size_t size) {
  if (region != nullptr) munmap(region, size);
}

}  // namespace Kestrel::Platform
