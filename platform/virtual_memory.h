// Whole regions of read-write memory straight from the operating system.
//
// The property page pool takes its memory 64 KiB at a time through these
// calls: a region is reserved and committed in one call and released whole,
// alone or together with the regions right beside it. The caller owns a region
// until it hands it back to `ReleaseRegion` or `ReleaseRegions`.
#ifndef VYN_PLATFORM_VIRTUAL_MEMORY_H_
#define VYN_PLATFORM_VIRTUAL_MEMORY_H_

#include <cstddef>

namespace Kestrel::Platform {

// Size of the regions the page pool works with.
inline constexpr std::size_t kRegionSize = 64 * 1024;

// Returns `size` bytes of zeroed read-write memory aligned to the system page
// size, or nullptr when the system refuses.
void* ReserveRegion(std::size_t size);

// Gives a whole region obtained from `ReserveRegion` back; `region` may be
// nullptr (ignored).
void ReleaseRegion(void* region, std::size_t size);

// Gives back `count` whole regions of `size` bytes, each from `ReserveRegion`,
// that lie one right after the other from `first`: in one system call where
// the system can release them together (POSIX), else one at a time. `first`
// may be nullptr; it and a count of 0 are ignored. Never fails; any thread.
void ReleaseRegions(void* first, std::size_t size, std::size_t count);

}  // namespace Kestrel::Platform

#endif  // VYN_PLATFORM_VIRTUAL_MEMORY_H_
