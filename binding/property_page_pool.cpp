#include "binding/property_page_pool.h"

#include <algorithm>

#include "platform/virtual_memory.h"

namespace Kestrel {

static_assert(PropertyPagePool::kRegionSize == Platform::kRegionSize);

namespace {

// Frees the process's pool at exit, or when the library holding it is
// unloaded (a host may load and unload a plugin many times; a pool left behind
// would be lost each time). It is made right after the pool, so every static
// object that began using pages later is destroyed before it. A static object
// made earlier may still hold pages then; in that case the pool is left alive
// rather than pulled from under it.
struct ProcessPoolReleaser {
  PropertyPagePool* pool;
  ~ProcessPoolReleaser() {
    if (pool->ReadCounters().pages_taken == 0) delete pool;
  }
};

}  // namespace

PropertyPagePool& PropertyPagePool::Instance() {
  static PropertyPagePool* const pool = new PropertyPagePool();
  static const ProcessPoolReleaser releaser{pool};
  return *pool;
}

PropertyPagePool::PropertyPagePool()
    : PropertyPagePool(RegionSource{&Platform::ReserveRegion, &Platform::ReleaseRegions}) {}

PropertyPagePool::~PropertyPagePool() {
  for (Region& region : regions_) source_.release(region.base, kRegionSize, 1);
}

std::size_t PropertyPagePool::FindRegion(const std::byte* page) const {
  // The last region whose base is not above `page`.
  auto after = std::upper_bound(regions_.begin(), regions_.end(), page,
                                [](const std::byte* p, const Region& r) { return p < r.base; });
  if (after == regions_.begin()) return regions_.size();
  const std::size_t index = static_cast<std::size_t>(after - regions_.begin()) - 1;
  const Region& region = regions_[index];
  return page < region.base + kRegionSize ? index : regions_.size();
}

void* PropertyPagePool::TakePage() {
  std::lock_guard<std::mutex> lock(mutex_);
  auto region = std::find_if(regions_.begin(), regions_.end(),
                             [](const Region& r) { return r.free_count > 0; });
  if (region == regions_.end()) {
    auto* base = static_cast<std::byte*>(source_.reserve(kRegionSize));
    if (base == nullptr) return nullptr;
    Region fresh;
    fresh.base = base;
    fresh.free_count = kPagesPerRegion;
    for (std::size_t i = 0; i < kPagesPerRegion; ++i) fresh.free_pages[i] = static_cast<uint8_t>(i);
    region = regions_.insert(
        std::upper_bound(regions_.begin(), regions_.end(), base,
                         [](const std::byte* p, const Region& r) { return p < r.base; }),
        fresh);
    ++counters_.regions_obtained;
    ++counters_.regions_held;
  }
  const uint8_t page = region->free_pages[--region->free_count];
  ++counters_.pages_taken;
  ++counters_.total_page_takes;
  return region->base + page * kPageSize;
}

std::size_t PropertyPagePool::PutBack(void* page) {
  if (page == nullptr) return regions_.size();
  auto* bytes = static_cast<std::byte*>(page);
  const std::size_t index = FindRegion(bytes);
  if (index == regions_.size()) return index;  // not one of ours: leave it alone
  Region& region = regions_[index];
  region.free_pages[region.free_count++] =
      static_cast<uint8_t>(static_cast<std::size_t>(bytes - region.base) / kPageSize);
  --counters_.pages_taken;
  ++counters_.total_page_returns;
  return region.free_count == kPagesPerRegion ? index : regions_.size();
}

void PropertyPagePool::ReturnPage(void* page) {
  if (page == nullptr) return;
  std::lock_guard<std::mutex> lock(mutex_);
  // Regions go back as soon as they are free, so the freed one has no free
  // neighbour to go with: one release call, as a batch of one.
  if (PutBack(page) != regions_.size()) ReleaseFreeRegions();
}

void PropertyPagePool::ReleaseFreeRegions() {
  // `regions_` is ordered by address, so neighbours in memory are neighbours
  // here; each run of free regions that touch goes back in one call.
  auto is_free = [](const Region& r) { return r.free_count == kPagesPerRegion; };
  for (std::size_t first = 0; first < regions_.size();) {
    if (!is_free(regions_[first])) {
      ++first;
      continue;
    }
    std::size_t end = first + 1;
    while (end < regions_.size() && is_free(regions_[end]) &&
           regions_[end].base == regions_[end - 1].base + kRegionSize) {
      ++end;
    }
    source_.release(regions_[first].base, kRegionSize, end - first);
    counters_.regions_held -= end - first;
    counters_.regions_released += end - first;
    ++counters_.release_calls;
    first = end;
  }
  regions_.erase(std::remove_if(regions_.begin(), regions_.end(), is_free), regions_.end());
}

PropertyPagePool::PageReturn::PageReturn(PropertyPagePool& pool)
    : pool_(pool), lock_(pool.mutex_) {}

PropertyPagePool::PageReturn::~PageReturn() {
  if (freed_region_) pool_.ReleaseFreeRegions();
}

void PropertyPagePool::PageReturn::Return(void* page) {
  if (pool_.PutBack(page) != pool_.regions_.size()) freed_region_ = true;
}

PagePoolCounters PropertyPagePool::ReadCounters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counters_;
}

}  // namespace Kestrel
