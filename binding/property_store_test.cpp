#include "binding/property_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "binding/property_page_pool.h"
#include "util/counting_allocator.h"
#include "util/fnv1a.h"

namespace Kestrel {
namespace {

uint64_t PoolPagesTaken() {
  return PropertyPagePool::Instance().ReadCounters().pages_taken;
}

TEST(PropertyStoreStrings, CountsReferencesAndRemovesAtZero) {
  PropertyStore store;
  const PooledString* first = store.Intern("alpha");
  const PooledString* second = store.Intern(std::string("alpha"));
  ASSERT_EQ(first, second);
  EXPECT_EQ(first->count, 2u);
  EXPECT_EQ(first->length, 5u);
  EXPECT_EQ(first->hash, Fnv1a32("alpha"));
  EXPECT_STREQ(first->text(), "alpha");
  EXPECT_EQ(store.StringCount(), 1u);

  store.Release(first);
  EXPECT_EQ(store.FindString("alpha"), second);
  EXPECT_EQ(second->count, 1u);
  store.Release(second);
  EXPECT_EQ(store.FindString("alpha"), nullptr);
  EXPECT_EQ(store.StringCount(), 0u);
}

TEST(PropertyStoreStrings, EmptyTextIsNeverPooled) {
  PropertyStore store;
  const PooledString* empty = store.Intern("");
  EXPECT_EQ(empty, PropertyStore::EmptyString());
  EXPECT_EQ(empty->count, 0u);
  EXPECT_EQ(empty->length, 0u);
  EXPECT_STREQ(empty->text(), "");
  EXPECT_EQ(store.StringCount(), 0u);
  store.Release(empty);
  store.Release(nullptr);
  EXPECT_EQ(PropertyStore::EmptyString()->count, 0u);
  EXPECT_EQ(store.FindString(""), nullptr);
}

TEST(PropertyStoreStrings, HoldsSeesADifferenceAtEveryPositionOfEveryLength) {
  // Up to 40 bytes: the word-at-a-time lengths, the word boundaries and the
  // byte-wise comparison past them, such as "abcd1efgh" and "abcd2efgh".
  PropertyStore store;
  for (size_t length = 1; length <= 40; ++length) {
    std::string text(length, 'a');
    for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
    const PooledString* entry = store.Intern(text);
    EXPECT_TRUE(entry->Holds(text)) << text;
    for (size_t position = 0; position < length; ++position) {
      std::string other = text;
      other[position] = '1';
      EXPECT_FALSE(entry->Holds(other)) << text << " against " << other;
    }
    store.Release(entry);
  }
}

TEST(PropertyStoreStrings, TextsWithEmbeddedNulStayDistinct) {
  PropertyStore store;
  const PooledString* abc = store.Intern(std::string_view("a\0b", 3));
  const PooledString* abd = store.Intern(std::string_view("a\0c", 3));
  const PooledString* a = store.Intern("a");
  EXPECT_NE(abc, abd);
  EXPECT_NE(abc, a);
  EXPECT_EQ(abc->view(), std::string_view("a\0b", 3));
  EXPECT_EQ(store.StringCount(), 3u);
  store.Release(abc);
  store.Release(abd);
  store.Release(a);
  EXPECT_EQ(store.StringCount(), 0u);
}

TEST(PropertyStoreStrings, EqualHashesOfDifferentTextsStayDistinct) {
  // Known FNV-1a collisions, of equal and of different lengths.
  for (const auto& [first, second] :
       {std::pair<std::string_view, std::string_view>{"declinate", "macallums"},
        {"costarring", "liquid"},
        {"altarage", "zinke"}}) {
    SCOPED_TRACE(first);
    ASSERT_EQ(Fnv1a32(first), Fnv1a32(second));
    PropertyStore store;
    const PooledString* a = store.Intern(first);
    const PooledString* b = store.Intern(second);
    EXPECT_NE(a, b);
    EXPECT_EQ(store.Intern(second), b);
    EXPECT_EQ(b->count, 2u);
    EXPECT_EQ(a->view(), first);
    EXPECT_EQ(store.FindString(first), a);
  }
}

TEST(PropertyStoreStrings, TableGrowsAndKeepsEveryEntry) {
  PropertyStore store;
  EXPECT_EQ(store.BucketCount(), 8u);
  std::vector<const PooledString*> entries;
  char text[32];
  for (int i = 0; i < 500; ++i) {
    std::snprintf(text, sizeof text, "name-%d", i);
    entries.push_back(store.Intern(text));
  }
  // A long text lives outside the pools.
  const std::string long_text(3000, 'x');
  const PooledString* long_entry = store.Intern(long_text);
  EXPECT_GE(store.BucketCount(), 256u);
  EXPECT_EQ(store.StringCount(), 501u);
  for (int i = 0; i < 500; ++i) {
    std::snprintf(text, sizeof text, "name-%d", i);
    EXPECT_EQ(store.FindString(text), entries[i]) << text;
    EXPECT_STREQ(entries[i]->text(), text);
  }
  EXPECT_EQ(store.FindString(long_text)->length, 3000u);
  for (const PooledString* entry : entries) store.Release(entry);
  store.Release(long_entry);
  EXPECT_EQ(store.StringCount(), 0u);
}

TEST(PropertyStoreBlocks, SizesRoundUpToMultiplesOfFour) {
  PropertyStore store;
  void* one = store.Allocate(1);
  void* four = store.Allocate(4);
  void* five = store.Allocate(5);
  void* zero = store.Allocate(0);
  EXPECT_EQ(store.BlocksInUse(4), 3u);
  EXPECT_EQ(store.BlocksInUse(8), 1u);
  EXPECT_EQ(store.BlocksInUse(7), 1u);
  for (void* block : {one, four, five, zero}) EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4, 0u);
  store.Free(one, 1);
  store.Free(four, 4);
  store.Free(zero, 0);
  store.Free(five, 5);
  EXPECT_EQ(store.BlocksInUse(4), 0u);
  EXPECT_EQ(store.BlocksInUse(8), 0u);
}

TEST(PropertyStoreBlocks, InlinePageServesFirstBlocksAndStaysWhenEmpty) {
  PropertyStore store;
  const uint64_t pool_pages = PoolPagesTaken();
  // Fill the 72-byte pool's inline page: no page is taken for it.
  std::vector<void*> inline_blocks;
  while (store.PagesHeld() == 0) inline_blocks.push_back(store.Allocate(72));
  void* paged = inline_blocks.back();
  inline_blocks.pop_back();
  if (sizeof(void*) == 4) {
    EXPECT_EQ(inline_blocks.size(), 1u);  // 144-byte page, 16-byte header
  }
  EXPECT_EQ(store.PagesHeld(), 1u);
  EXPECT_EQ(PoolPagesTaken(), pool_pages + 1);

  // The 4096-byte page goes back as soon as its only block is freed.
  store.Free(paged, 72);
  EXPECT_EQ(store.PagesHeld(), 0u);
  EXPECT_EQ(PoolPagesTaken(), pool_pages);

  // The inline page stays, and its blocks are served again without a page.
  for (void* block : inline_blocks) store.Free(block, 72);
  EXPECT_EQ(store.BlocksInUse(72), 0u);
  void* again = store.Allocate(72);
  EXPECT_EQ(again, inline_blocks.front());
  EXPECT_EQ(store.PagesHeld(), 0u);
  store.Free(again, 72);
}

TEST(PropertyStoreBlocks, FullPagesComeBackWhenABlockIsFreed) {
  PropertyStore store;
  const uint64_t pool_pages = PoolPagesTaken();
  std::vector<void*> blocks;
  while (store.PagesHeld() < 2) blocks.push_back(store.Allocate(4));
  // The last block opened the second page; all before it filled the inline
  // page and the first page.
  const std::size_t first_page_end = blocks.size() - 1;
  if (sizeof(void*) == 4) {
    EXPECT_EQ(first_page_end, 32u + 1020u);
  }

  // Every block is handed out once, in address order within a page.
  EXPECT_EQ(std::set<void*>(blocks.begin(), blocks.end()).size(), blocks.size());
  EXPECT_TRUE(std::is_sorted(blocks.begin() + 32, blocks.begin() + first_page_end));

  // Free a block in the middle of the (full) first page: it is reused first.
  void* middle = blocks[first_page_end - 100];
  store.Free(middle, 4);
  EXPECT_EQ(store.Allocate(4), middle);

  for (void* block : blocks) store.Free(block, 4);
  EXPECT_EQ(store.PagesHeld(), 0u);
  EXPECT_EQ(store.BlocksInUse(4), 0u);
  EXPECT_EQ(PoolPagesTaken(), pool_pages);
}

TEST(PropertyStoreBlocks, FreedBlocksOfAPartlyUsedPageComeBeforeItsUnusedOnes) {
  PropertyStore store;
  std::vector<void*> blocks;
  while (store.PagesHeld() == 0) blocks.push_back(store.Allocate(40));
  // The last block is the first of a fresh page; take a few more from it.
  for (int i = 0; i < 20; ++i) blocks.push_back(store.Allocate(40));
  void* freed_first = blocks[blocks.size() - 18];
  void* freed_second = blocks[blocks.size() - 3];
  store.Free(freed_first, 40);
  store.Free(freed_second, 40);
  EXPECT_EQ(store.Allocate(40), freed_second);  // last freed, first served
  EXPECT_EQ(store.Allocate(40), freed_first);
  void* next = store.Allocate(40);
  EXPECT_EQ(static_cast<std::byte*>(next), static_cast<std::byte*>(blocks.back()) + 40);
  blocks.push_back(next);
  // Filling the page to its end never hands out a block twice.
  std::set<void*> seen(blocks.begin(), blocks.end());
  while (store.PagesHeld() < 2) {
    void* block = store.Allocate(40);
    EXPECT_TRUE(seen.insert(block).second);
    blocks.push_back(block);
  }
  for (void* block : blocks) store.Free(block, 40);
  EXPECT_EQ(store.BlocksInUse(40), 0u);
  EXPECT_EQ(store.PagesHeld(), 0u);
}

TEST(PropertyStoreBlocks, LargeBlocksUsePagesThenTheHeap) {
  PropertyStore store;
  const uint64_t pool_pages = PoolPagesTaken();
  void* medium = store.Allocate(100);
  EXPECT_EQ(store.BlocksInUse(128), 1u);
  EXPECT_EQ(store.PagesHeld(), 1u);
  EXPECT_EQ(PoolPagesTaken(), pool_pages + 1);

  const AllocatorCounters before = ReadAllocatorCounters();
  void* big = store.Allocate(4000);
  EXPECT_EQ(ReadAllocatorCounters().allocations, before.allocations + 1);
  EXPECT_EQ(store.BlocksInUse(4000), 0u);
  store.Free(big, 4000);
  EXPECT_EQ(ReadAllocatorCounters().frees, before.frees + 1);

  store.Free(medium, 100);
  EXPECT_EQ(store.PagesHeld(), 0u);
  EXPECT_EQ(PoolPagesTaken(), pool_pages);
}

TEST(PropertyStoreBlocks, DestroyingTheStoreFreesHeapBlocksStillAllocated) {
  const AllocatorCounters before = ReadAllocatorCounters();
  {
    PropertyStore store;
    void* first = store.Allocate(2000);
    void* second = store.Allocate(5000);
    void* third = store.Allocate(3000);
    std::memset(second, 0x5A, 5000);
    store.Free(first, 2000);  // unlinked from the head of the list
    EXPECT_NE(store.Intern(std::string(1500, 'q')), nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(second)[4999], 0x5A);
    EXPECT_NE(third, nullptr);
  }
  const AllocatorCounters after = ReadAllocatorCounters();
  EXPECT_EQ(after.live_allocations(), before.live_allocations());
  EXPECT_EQ(after.live_bytes(), before.live_bytes());
}

TEST(PropertyStoreBlocks, RegionsReturnWhenEveryPageIsFree) {
  const PagePoolCounters start = PropertyPagePool::Instance().ReadCounters();
  auto store = std::make_unique<PropertyStore>();
  // 1024-byte blocks: three per page, so 60 blocks need 20 pages, more than a region.
  std::vector<void*> blocks;
  for (int i = 0; i < 60; ++i) blocks.push_back(store->Allocate(1024));
  EXPECT_EQ(store->PagesHeld(), 20u);
  PagePoolCounters during = PropertyPagePool::Instance().ReadCounters();
  EXPECT_EQ(during.pages_taken, start.pages_taken + 20);
  EXPECT_GE(during.regions_held, start.regions_held + 1);

  for (void* block : blocks) store->Free(block, 1024);
  EXPECT_EQ(store->PagesHeld(), 0u);
  PagePoolCounters after = PropertyPagePool::Instance().ReadCounters();
  EXPECT_EQ(after.pages_taken, start.pages_taken);
  EXPECT_EQ(after.regions_held, start.regions_held);
  EXPECT_GT(after.regions_released, start.regions_released);

  // Destroying a store gives back pages whose blocks were never freed.
  for (int i = 0; i < 10; ++i) store->Allocate(512);
  EXPECT_GT(PropertyPagePool::Instance().ReadCounters().pages_taken, start.pages_taken);
  store.reset();
  EXPECT_EQ(PropertyPagePool::Instance().ReadCounters().pages_taken, start.pages_taken);
}

}  // namespace
}  // namespace Kestrel
