// `PropertyPagePool`: the process-wide source of 4096-byte pages for the block
// pools of every `PropertyStore`.
//
// The pool takes memory from the operating system 64 KiB at a time
// (`Platform::ReserveRegion`), splits each region into 16 pages and gives a
// region back whole as soon as all 16 of its pages are free again. A page
// taken from the pool belongs to the caller until it returns it; the pool owns
// its regions. Every public call holds the pool's mutex for its whole length;
// a `PageReturn` holds it for its lifetime.
//
//   void* page = PropertyPagePool::Instance().TakePage();  // 4096 bytes or nullptr
//   PropertyPagePool::Instance().ReturnPage(page);
//
//   {
//     PropertyPagePool::PageReturn batch(PropertyPagePool::Instance());
//     for (void* page : pages) batch.Return(page);
//   }  // freed regions released here, neighbours in one system call
#ifndef VYN_BINDING_PROPERTY_PAGE_POOL_H_
#define VYN_BINDING_PROPERTY_PAGE_POOL_H_

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace Kestrel {

// Counters of a page pool, read together under its mutex.
struct PagePoolCounters {
  uint64_t pages_taken = 0;         // pages currently handed out
  uint64_t regions_held = 0;        // regions currently reserved from the system
  uint64_t regions_obtained = 0;    // regions reserved since the pool was made
  uint64_t regions_released = 0;    // regions given back since the pool was made
  uint64_t total_page_takes = 0;    // successful `TakePage` calls since the pool was made
  uint64_t total_page_returns = 0;  // pages given back since the pool was made
  uint64_t release_calls = 0;       // system calls that gave regions back
};

class PropertyPagePool {
 public:
  static constexpr std::size_t kPageSize = 4096;
  static constexpr std::size_t kRegionSize = 64 * 1024;
  static constexpr std::size_t kPagesPerRegion = kRegionSize / kPageSize;
  static_assert(kPagesPerRegion == 16);

  // The process's pool, made on first use. It is freed at exit (or when the
  // library holding it is unloaded) if no page is taken then, else kept.
  // Never fails.
  static PropertyPagePool& Instance();

  // Where a pool's regions come from and go back to: the system's virtual
  // memory (platform/virtual_memory.h), or a test's stand-in that places
  // regions where it chooses. `reserve` returns a `kRegionSize` region or
  // nullptr; `release` gives back `count` regions that lie one right after
  // the other from `first`. Neither is nullptr; both are called under the
  // pool's mutex.
  struct RegionSource {
    void* (*reserve)(std::size_t size);
    void (*release)(void* first, std::size_t size, std::size_t count);
  };

  // A private pool (tests) over the system's regions, or over `source`; its
  // destructor releases every region it still holds, so every page taken from
  // it must be returned first.
  PropertyPagePool();
  explicit PropertyPagePool(RegionSource source) : source_(source) {}
  ~PropertyPagePool();
  PropertyPagePool(const PropertyPagePool&) = delete;
  PropertyPagePool& operator=(const PropertyPagePool&) = delete;

  // Returns a 4096-byte page aligned to 4096 bytes, or nullptr when the system
  // refuses a new region. The page's content is unspecified.
  void* TakePage();

  // Gives back a page taken from this pool; nullptr is ignored. Releases the
  // page's region to the system when all its pages are free.
  void ReturnPage(void* page);

  // Returns a snapshot of the counters. Never fails.
  PagePoolCounters ReadCounters() const;

  // Gives back many pages under one hold of the pool's mutex (a store giving
  // back all its pages at once). A region whose pages are all free is released
  // when the batch ends, before its destructor returns, together with the freed
  // regions right beside it. The thread holding a batch must not call the
  // pool otherwise until the batch ends.
  class PageReturn {
   public:
    // Takes the pool's mutex. Never fails.
    explicit PageReturn(PropertyPagePool& pool);
    // Releases the regions the batch freed, then the mutex. Never fails.
    ~PageReturn();
    PageReturn(const PageReturn&) = delete;
    PageReturn& operator=(const PageReturn&) = delete;

    // Gives back a page taken from the batch's pool; nullptr and foreign pages
    // are ignored, as by `ReturnPage`.
    void Return(void* page);

   private:
    PropertyPagePool& pool_;
    std::lock_guard<std::mutex> lock_;
    bool freed_region_ = false;
  };

 private:
  // One 64 KiB region: its base address and a stack of its free page numbers.
  struct Region {
    std::byte* base = nullptr;
    uint8_t free_count = 0;
    uint8_t free_pages[kPagesPerRegion] = {};
  };

  // Index in `regions_` of the region holding `page` (never null), or
  // regions_.size().
  std::size_t FindRegion(const std::byte* page) const;
  // Puts `page` (never null) back on its region's free list (the mutex held). Returns the
  // region's index when all its pages are free now, else regions_.size().
  std::size_t PutBack(void* page);
  // Releases every region whose pages are all free, adjacent ones in one
  // system call, and drops them from `regions_` (the mutex held).
  void ReleaseFreeRegions();

  RegionSource source_;
  mutable std::mutex mutex_;
  std::vector<Region> regions_;  // ordered by base address
  PagePoolCounters counters_;
};

}  // namespace Kestrel

#endif  // VYN_BINDING_PROPERTY_PAGE_POOL_H_
