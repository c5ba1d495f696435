#include "binding/property_store.h"

#include <bit>
#include <cstring>
#include <new>
#include <stdexcept>

#include "binding/property_page_pool.h"
#include "util/counting_allocator.h"
#include "util/fnv1a.h"

namespace Kestrel {

namespace {

constexpr std::size_t kPageSize = PropertyPagePool::kPageSize;
constexpr std::size_t kLargeBlockSizes[PropertyStore::kLargePoolCount] = {128, 256, 512, 1024};

// The shared entry of the empty text; `text()` never reads past it.
constexpr PooledString kEmptyString = {nullptr, 0, 0, 0};

void WriteIndex(std::byte* block, uint16_t index) {
  std::memcpy(block, &index, sizeof index);
}

// String entries take blocks of a multiple of the entry's alignment (4 bytes
// on a 32-bit target, from 20 up): they never share a pool with member
// values and structure records (16 bytes there) or the other control records
// (12), so the inline pages of those pools serve the first members of every
// small structure whatever the lengths of its texts; and texts of different
// lengths spread over the odd-sized pools, whose inline pages nothing else
// uses.
constexpr std::size_t kEntryGranularity = alignof(PooledString);

std::size_t EntrySize(std::size_t length) {
  const std::size_t size = sizeof(PooledString) + length + 1;
  return (size + kEntryGranularity - 1) & ~(kEntryGranularity - 1);
}

// Copies the `size` bytes of a new text into its entry. Texts of 4 to 32
// bytes (most names and words) go a word at a time in place, the last word
// stored where the text ends; the library call would pay its own size
// dispatch on every new text.
void CopyText(char* to, const char* from, std::size_t size) {
  if (size < 4 || size > 32) {
    std::memcpy(to, from, size);
    return;
  }
  uint32_t word;
  std::memcpy(&word, from + size - 4, sizeof word);
  for (std::size_t i = 0; i + 4 < size; i += 4) std::memcpy(to + i, from + i, 4);
  std::memcpy(to + size - 4, &word, sizeof word);
}

}  // namespace

constexpr PropertyStore::Pools PropertyStore::NewPools() {
  Pools pools;
  for (std::size_t i = 0; i < kSmallPoolCount; ++i) {
    pools.small[i].block_size = static_cast<uint16_t>(4 * (i + 1));
    pools.small[i].inline_index = static_cast<uint8_t>(i);
    pools.small[i].ordinal = static_cast<uint8_t>(i);
  }
  for (std::size_t i = 0; i < kLargePoolCount; ++i) {
    pools.large[i].block_size = static_cast<uint16_t>(kLargeBlockSizes[i]);
    pools.large[i].ordinal = static_cast<uint8_t>(kSmallPoolCount + i);
  }
  return pools;
}

PropertyStore::PropertyStore() {
  // Every store starts from one constant image: a copy instead of a loop per
  // pool. Pools start with an empty list; `AllocateFrom` formats the inline
  // page and puts it at the head of the list on the pool's first allocation.
  static constexpr Pools kNewPools = NewPools();
  pools_ = kNewPools;
  bucket_count_ = kInitialBucketCount;
  buckets_ = inline_buckets_;
  std::memset(inline_buckets_, 0, sizeof inline_buckets_);
}

PropertyStore::~PropertyStore() {
  // Heap blocks (long texts, large element arrays) still allocated go first;
  // everything else goes with the pages.
  for (HeapBlock* block = heap_blocks_; block != nullptr;) {
    HeapBlock* next = block->next;
    CountingFree(block);
    block = next;
  }
  // The bucket array and the entries live in those blocks or in the pages.
  // Only pools that took pages have any to give back, all in one batch so
  // that freed neighbouring regions go back to the system together.
  if (pools_with_pages_ == 0) return;
  PropertyPagePool::PageReturn pages(PropertyPagePool::Instance());
  for (uint32_t with_pages = pools_with_pages_; with_pages != 0; with_pages &= with_pages - 1) {
    const auto ordinal = static_cast<std::size_t>(std::countr_zero(with_pages));
    BlockPool& pool =
        ordinal < kSmallPoolCount ? pools_.small[ordinal] : pools_.large[ordinal - kSmallPoolCount];
    const PageHeader* inline_page = InlinePage(pool);
    for (PageHeader* head : {pool.available, pool.full}) {
      while (head != nullptr) {
        PageHeader* next = head->next;
        if (head != inline_page) pages.Return(head);
        head = next;
      }
    }
  }
}

const PooledString* PropertyStore::EmptyString() {
  return &kEmptyString;
}

const PooledString* PropertyStore::Intern(std::string_view text) {
  if (text.empty()) return &kEmptyString;
  if (text.size() > UINT32_MAX - 64) throw std::length_error("PropertyStore::Intern");
  const uint32_t hash = Fnv1a32(text);
  PooledString*& bucket = buckets_[hash & (bucket_count_ - 1)];
  for (PooledString* entry = bucket; entry != nullptr; entry = entry->next) {
    if (entry->hash == hash && entry->Holds(text)) {
      ++entry->count;
      return entry;
    }
  }
  auto* entry = static_cast<PooledString*>(Allocate(EntrySize(text.size())));
  entry->next = bucket;
  entry->hash = hash;
  entry->length = static_cast<uint32_t>(text.size());
  entry->count = 1;
  char* bytes = reinterpret_cast<char*>(entry + 1);
  CopyText(bytes, text.data(), text.size());
  bytes[text.size()] = '\0';
  bucket = entry;
  if (++string_count_ > bucket_count_) GrowBuckets();
  return entry;
}

void PropertyStore::Release(const PooledString* entry) {
  if (entry == nullptr || entry == &kEmptyString) return;
  auto* owned = const_cast<PooledString*>(entry);
  if (--owned->count > 0) return;
  for (PooledString** link = &buckets_[owned->hash & (bucket_count_ - 1)]; *link != nullptr;
       link = &(*link)->next) {
    if (*link == owned) {
      *link = owned->next;
      break;
    }
  }
  --string_count_;
  Free(owned, EntrySize(owned->length));
}

const PooledString* PropertyStore::FindString(std::string_view text) const {
  if (text.empty()) return nullptr;
  const uint32_t hash = Fnv1a32(text);
  for (PooledString* entry = buckets_[hash & (bucket_count_ - 1)]; entry != nullptr;
       entry = entry->next) {
    if (entry->hash == hash && entry->Holds(text)) return entry;
  }
  return nullptr;
}

void PropertyStore::GrowBuckets() {
  const std::size_t count = bucket_count_ * 2;
  PooledString** const old = buckets_;
  PooledString* first_heads[kInlineBucketCount / 2];
  PooledString** from = old;
  PooledString** buckets;
  if (count <= kInlineBucketCount) {
    // The inline array takes the doubled table: its heads move aside first.
    std::memcpy(first_heads, old, bucket_count_ * sizeof(PooledString*));
    from = first_heads;
    buckets = inline_buckets_;
  } else {
    buckets = static_cast<PooledString**>(Allocate(count * sizeof(PooledString*)));
  }
  std::memset(buckets, 0, count * sizeof(PooledString*));
  for (std::size_t b = 0; b < bucket_count_; ++b) {
    for (PooledString* entry = from[b]; entry != nullptr;) {
      PooledString* next = entry->next;
      PooledString*& head = buckets[entry->hash & (count - 1)];
      entry->next = head;
      head = entry;
      entry = next;
    }
  }
  if (old != inline_buckets_) Free(old, bucket_count_ * sizeof(PooledString*));
  buckets_ = buckets;
  bucket_count_ = count;
}

PropertyStore::BlockPool* PropertyStore::PoolFor(std::size_t size) {
  return const_cast<BlockPool*>(static_cast<const PropertyStore*>(this)->PoolFor(size));
}

const PropertyStore::BlockPool* PropertyStore::PoolFor(std::size_t size) const {
  if (size == 0) size = 4;
  if (size <= kLargestSmallBlock) return &pools_.small[(size + 3) / 4 - 1];
  if (size <= kLargestPooledBlock) {
    // 73..128 -> 0, 129..256 -> 1, 257..512 -> 2, 513..1024 -> 3.
    return &pools_.large[std::bit_width(size - 1) - 7];
  }
  return nullptr;
}

void* PropertyStore::AllocateSlow(std::size_t size) {
  if (BlockPool* pool = PoolFor(size)) return AllocateFrom(*pool);
  if (size > SIZE_MAX - sizeof(HeapBlock)) throw std::bad_alloc();
  auto* block = static_cast<HeapBlock*>(CountingAllocate(sizeof(HeapBlock) + size));
  if (block == nullptr) throw std::bad_alloc();
  block->prev = nullptr;
  block->next = heap_blocks_;
  if (heap_blocks_ != nullptr) heap_blocks_->prev = block;
  heap_blocks_ = block;
  return block + 1;
}

void PropertyStore::Free(void* block, std::size_t size) {
  if (block == nullptr) return;
  if (BlockPool* pool = PoolFor(size)) {
    FreeTo(*pool, block);
    return;
  }
  HeapBlock* heap_block = static_cast<HeapBlock*>(block) - 1;
  if (heap_block->prev != nullptr) {
    heap_block->prev->next = heap_block->next;
  } else {
    heap_blocks_ = heap_block->next;
  }
  if (heap_block->next != nullptr) heap_block->next->prev = heap_block->prev;
  CountingFree(heap_block);
}

std::size_t PropertyStore::PagesHeld() const {
  std::size_t pages = 0;
  for (const BlockPool& pool : pools_.small) pages += pool.pages_held;
  for (const BlockPool& pool : pools_.large) pages += pool.pages_held;
  return pages;
}

std::size_t PropertyStore::BlocksInUse(std::size_t size) const {
  const BlockPool* pool = PoolFor(size);
  return pool == nullptr ? 0 : pool->blocks_in_use;
}

void PropertyStore::FormatPage(PageHeader* page, std::size_t page_size, uint16_t block_size) {
  page->next = nullptr;
  page->prev = nullptr;
  page->used = 0;
  page->first_free = 0;
  // Blocks sit at multiples of the block size; the first one past the header.
  const std::size_t first = (sizeof(PageHeader) + block_size - 1) / block_size;
  const std::size_t end = page_size / block_size;
  page->end = static_cast<uint16_t>(end);
  page->fresh = static_cast<uint16_t>(first < end ? first : end);
}

void PropertyStore::Unlink(PageHeader*& head, PageHeader* page) {
  if (page->prev != nullptr) {
    page->prev->next = page->next;
  } else {
    head = page->next;
  }
  if (page->next != nullptr) page->next->prev = page->prev;
  page->next = nullptr;
  page->prev = nullptr;
}

void PropertyStore::Push(PageHeader*& head, PageHeader* page) {
  page->prev = nullptr;
  page->next = head;
  if (head != nullptr) head->prev = page;
  head = page;
}

void* PropertyStore::AllocateFrom(BlockPool& pool) {
  if (!pool.inline_formatted && pool.inline_index != BlockPool::kNoInlinePage) {
    PageHeader* inline_page = InlinePage(pool);
    FormatPage(inline_page, kInlinePageSize, pool.block_size);
    pool.inline_formatted = true;
    Push(pool.available, inline_page);
  } else if (pool.available == nullptr) {
    auto* page = static_cast<PageHeader*>(PropertyPagePool::Instance().TakePage());
    if (page == nullptr) throw std::bad_alloc();
    FormatPage(page, kPageSize, pool.block_size);
    Push(pool.available, page);
    if (pool.pages_held++ == 0) pools_with_pages_ |= uint32_t{1} << pool.ordinal;
  }
  return TakeBlock(pool);
}

void PropertyStore::FreeTo(BlockPool& pool, void* block) {
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  PageHeader* const inline_page = InlinePage(pool);
  const auto inline_start = reinterpret_cast<std::uintptr_t>(inline_page);
  PageHeader* page;
  if (inline_page != nullptr && address >= inline_start &&
      address < inline_start + kInlinePageSize) {
    page = inline_page;
  } else {
    // Pages of the page pool are aligned to their size.
    page = reinterpret_cast<PageHeader*>(address & ~static_cast<std::uintptr_t>(kPageSize - 1));
  }
  const auto index =
      static_cast<uint16_t>((address - reinterpret_cast<std::uintptr_t>(page)) / pool.block_size);
  const bool was_full = page->first_free == 0 && page->fresh == page->end;
  WriteIndex(static_cast<std::byte*>(block), page->first_free);
  page->first_free = index;
  --page->used;
  --pool.blocks_in_use;
  if (was_full) {
    Unlink(pool.full, page);
    Push(pool.available, page);
  }
  if (page->used == 0 && page != inline_page) {
    Unlink(pool.available, page);
    PropertyPagePool::Instance().ReturnPage(page);
    if (--pool.pages_held == 0) pools_with_pages_ &= ~(uint32_t{1} << pool.ordinal);
  }
}

}  // namespace Kestrel
