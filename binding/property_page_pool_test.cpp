#include "binding/property_page_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "platform/virtual_memory.h"

namespace Kestrel {
namespace {

constexpr std::size_t kPage = PropertyPagePool::kPageSize;

uintptr_t Address(void* p) {
  return reinterpret_cast<uintptr_t>(p);
}

TEST(PropertyPagePool, SixteenPagesOfOneRegionTakenFromTheTop) {
  PropertyPagePool pool;
  std::vector<void*> pages;
  for (int i = 0; i < 16; ++i) pages.push_back(pool.TakePage());
  PagePoolCounters counters = pool.ReadCounters();
  EXPECT_EQ(counters.regions_obtained, 1u);
  EXPECT_EQ(counters.regions_held, 1u);
  EXPECT_EQ(counters.pages_taken, 16u);

  // The last free page goes first: pages come in descending order, 4096 apart,
  // and together cover one 64 KiB region.
  for (int i = 0; i < 16; ++i) {
    ASSERT_NE(pages[i], nullptr);
    EXPECT_EQ(Address(pages[i]) % kPage, 0u);
    if (i > 0) {
      EXPECT_EQ(Address(pages[i - 1]) - Address(pages[i]), kPage);
    }
    std::memset(pages[i], 0xA5, kPage);  // every byte is writable
  }

  void* seventeenth = pool.TakePage();
  counters = pool.ReadCounters();
  EXPECT_EQ(counters.regions_obtained, 2u);
  EXPECT_EQ(counters.regions_held, 2u);
  EXPECT_TRUE(Address(seventeenth) < Address(pages[15]) ||
              Address(seventeenth) >= Address(pages[0]) + kPage);

  pool.ReturnPage(seventeenth);
  for (void* page : pages) pool.ReturnPage(page);
  counters = pool.ReadCounters();
  EXPECT_EQ(counters.pages_taken, 0u);
  EXPECT_EQ(counters.regions_held, 0u);
  EXPECT_EQ(counters.regions_released, 2u);
  EXPECT_EQ(counters.total_page_takes, 17u);
  EXPECT_EQ(counters.total_page_returns, 17u);
}

TEST(PropertyPagePool, RegionStaysWhileOnePageIsTaken) {
  PropertyPagePool pool;
  std::vector<void*> pages;
  for (int i = 0; i < 16; ++i) pages.push_back(pool.TakePage());
  for (int i = 0; i < 15; ++i) pool.ReturnPage(pages[i]);
  PagePoolCounters counters = pool.ReadCounters();
  EXPECT_EQ(counters.regions_held, 1u);
  EXPECT_EQ(counters.regions_released, 0u);
  EXPECT_EQ(counters.pages_taken, 1u);

  // A returned page is the next one handed out again.
  void* again = pool.TakePage();
  EXPECT_EQ(again, pages[14]);
  EXPECT_EQ(pool.ReadCounters().regions_obtained, 1u);
  pool.ReturnPage(again);

  pool.ReturnPage(pages[15]);
  counters = pool.ReadCounters();
  EXPECT_EQ(counters.regions_held, 0u);
  EXPECT_EQ(counters.regions_released, 1u);

  // A region given back is obtained anew on the next take.
  void* fresh = pool.TakePage();
  EXPECT_EQ(pool.ReadCounters().regions_obtained, 2u);
  pool.ReturnPage(fresh);
}

TEST(PropertyPagePool, TakesFromTheLowestRegionWithFreePages) {
  PropertyPagePool pool;
  std::vector<void*> pages;
  for (int i = 0; i < 32; ++i) pages.push_back(pool.TakePage());
  ASSERT_EQ(pool.ReadCounters().regions_held, 2u);
  void* lowest = *std::min_element(pages.begin(), pages.end(),
                                   [](void* a, void* b) { return Address(a) < Address(b); });
  void* highest = *std::max_element(pages.begin(), pages.end(),
                                    [](void* a, void* b) { return Address(a) < Address(b); });
  pool.ReturnPage(highest);
  pool.ReturnPage(lowest);
  EXPECT_EQ(pool.TakePage(), lowest);
  EXPECT_EQ(pool.TakePage(), highest);
  for (void* page : pages) pool.ReturnPage(page);
  EXPECT_EQ(pool.ReadCounters().regions_held, 0u);
}

// Regions placed at chosen slots of one block of real memory, so that which
// regions touch is fixed by the test rather than by the system; each release
// is recorded as its first slot and region count.
struct FixedLayout {
  static constexpr std::size_t kSlots = 8;
  std::byte* block = nullptr;
  std::vector<std::size_t> slots;  // slot of each region in order of reservation
  std::size_t reserved = 0;
  std::vector<std::pair<std::size_t, std::size_t>> releases;
};
FixedLayout* g_layout = nullptr;

void* ReserveAtSlot(std::size_t /*size*/) {
  if (g_layout->reserved == g_layout->slots.size()) return nullptr;
  return g_layout->block + g_layout->slots[g_layout->reserved++] * PropertyPagePool::kRegionSize;
}

void RecordRelease(void* first, std::size_t size, std::size_t count) {
  const auto offset = static_cast<std::size_t>(static_cast<std::byte*>(first) - g_layout->block);
  g_layout->releases.emplace_back(offset / size, count);
}

TEST(PropertyPagePool, BatchReleasesItsFreedRegionsTogetherAtItsEnd) {
  using Releases = std::vector<std::pair<std::size_t, std::size_t>>;
  struct Case {
    std::vector<std::size_t> slots;  // of the regions of pages 0-15, 16-31, 32-47, 48
    Releases batch;                  // (first slot, count) of each release call
  };
  const Case cases[] = {
      {{0, 1, 2, 7}, {{0, 3}}},                  // three in a row, ascending
      {{2, 1, 0, 7}, {{0, 3}}},                  // three in a row, descending
      {{0, 2, 1, 7}, {{0, 3}}},                  // three in a row, out of order
      {{0, 2, 3, 7}, {{0, 1}, {2, 2}}},          // a gap after the first
      {{0, 2, 3, 1}, {{0, 1}, {2, 2}}},          // the held region in the gap
      {{0, 1, 3, 2}, {{0, 2}, {3, 1}}},          // the held region before the last
      {{3, 2, 1, 0}, {{1, 3}}},                  // the held region below the run
      {{0, 2, 4, 6}, {{0, 1}, {2, 1}, {4, 1}}},  // no two touch
  };
  auto* block = static_cast<std::byte*>(
      Platform::ReserveRegion(FixedLayout::kSlots * PropertyPagePool::kRegionSize));
  ASSERT_NE(block, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.slots));
    FixedLayout layout{block, c.slots, 0, {}};
    g_layout = &layout;
    {
      PropertyPagePool pool({&ReserveAtSlot, &RecordRelease});
      std::vector<void*> pages;
      for (int i = 0; i < 49; ++i) pages.push_back(pool.TakePage());
      ASSERT_EQ(pool.ReadCounters().regions_held, 4u);
      {
        PropertyPagePool::PageReturn batch(pool);
        for (int i = 0; i < 48; ++i) batch.Return(pages[i]);
        batch.Return(nullptr);  // ignored
        EXPECT_TRUE(layout.releases.empty()) << "released before the batch ended";
      }
      EXPECT_EQ(layout.releases, c.batch);
      PagePoolCounters counters = pool.ReadCounters();
      EXPECT_EQ(counters.regions_held, 1u);  // the fourth keeps page 48
      EXPECT_EQ(counters.regions_released, 3u);
      EXPECT_EQ(counters.release_calls, c.batch.size());
      EXPECT_EQ(counters.pages_taken, 1u);
      EXPECT_EQ(counters.total_page_returns, 48u);

      // The region still held serves pages as before, and goes alone.
      void* again = pool.TakePage();
      EXPECT_EQ(pool.ReadCounters().regions_obtained, 4u);
      layout.releases.clear();
      {
        PropertyPagePool::PageReturn batch(pool);
        batch.Return(again);
        batch.Return(pages[48]);
      }
      EXPECT_EQ(layout.releases, (Releases{{c.slots[3], 1}}));
      EXPECT_EQ(pool.ReadCounters().regions_held, 0u);
    }
    g_layout = nullptr;
  }
  Platform::ReleaseRegion(block, FixedLayout::kSlots * PropertyPagePool::kRegionSize);
}

TEST(PropertyPagePool, BatchReleasesRegionsThatDoNotTouchInCallsOfTheirOwn) {
  // Three full regions; the middle one by address goes back first, so the
  // other two, given back in one batch, cannot touch.
  PropertyPagePool pool;
  std::vector<void*> pages;
  for (int i = 0; i < 48; ++i) pages.push_back(pool.TakePage());
  ASSERT_EQ(pool.ReadCounters().regions_held, 3u);
  // Pages 16 * r to 16 * r + 15 fill region r; its last page is its base.
  int by_address[] = {0, 1, 2};
  std::sort(std::begin(by_address), std::end(by_address), [&](int a, int b) {
    return Address(pages[16 * a + 15]) < Address(pages[16 * b + 15]);
  });
  const int middle = by_address[1];
  for (int i = 0; i < 16; ++i) pool.ReturnPage(pages[16 * middle + i]);
  EXPECT_EQ(pool.ReadCounters().release_calls, 1u);
  {
    PropertyPagePool::PageReturn batch(pool);
    for (int i = 0; i < 48; ++i) {
      if (i / 16 != middle) batch.Return(pages[i]);
    }
  }
  PagePoolCounters counters = pool.ReadCounters();
  EXPECT_EQ(counters.release_calls, 3u);
  EXPECT_EQ(counters.regions_released, 3u);
  EXPECT_EQ(counters.regions_held, 0u);
}

TEST(PropertyPagePool, IgnoresNullAndForeignPages) {
  PropertyPagePool pool;
  pool.ReturnPage(nullptr);
  alignas(4096) static std::byte foreign[4096];
  pool.ReturnPage(foreign);
  const PagePoolCounters counters = pool.ReadCounters();
  EXPECT_EQ(counters.total_page_returns, 0u);
  EXPECT_EQ(counters.pages_taken, 0u);
}

TEST(PropertyPagePool, ThreadsShareOnePoolWithoutLosingPages) {
  PropertyPagePool pool;
  auto worker = [&pool] {
    std::vector<void*> held;
    for (int round = 0; round < 50; ++round) {
      for (int i = 0; i < 20; ++i) held.push_back(pool.TakePage());
      for (void* page : held) std::memset(page, round, 64);
      for (void* page : held) pool.ReturnPage(page);
      held.clear();
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back(worker);
  for (std::thread& thread : threads) thread.join();
  const PagePoolCounters counters = pool.ReadCounters();
  EXPECT_EQ(counters.pages_taken, 0u);
  EXPECT_EQ(counters.regions_held, 0u);
  EXPECT_EQ(counters.total_page_takes, 4u * 50u * 20u);
  EXPECT_EQ(counters.regions_obtained, counters.regions_released);
}

TEST(PropertyPagePool, ProcessPoolIsOneObject) {
  EXPECT_EQ(&PropertyPagePool::Instance(), &PropertyPagePool::Instance());
  std::set<void*> distinct;
  void* a = PropertyPagePool::Instance().TakePage();
  void* b = PropertyPagePool::Instance().TakePage();
  distinct.insert(a);
  distinct.insert(b);
  EXPECT_EQ(distinct.size(), 2u);
  PropertyPagePool::Instance().ReturnPage(a);
  PropertyPagePool::Instance().ReturnPage(b);
}

}  // namespace
}  // namespace Kestrel
