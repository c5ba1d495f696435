// `PropertyStore`: the owner of every part of one property tree that does not
// fit in a `BindingProperty`'s 8-byte payload.
//
// A store interns the tree's strings (one counted entry per distinct text, in
// a hash table whose first buckets live in the store itself) and serves fixed-size blocks from 18
// small pools (4 to 72 bytes, each starting with a 144-byte inline page) plus four larger pools (up
// to 1024 bytes) for element vectors and long texts; their 4096-byte pages come from the
// process-wide `PropertyPagePool` and go back to it as soon as they empty.
// Anything larger comes from the counting heap, linked into a list of the store
// so that destroying the store frees it too. The top-level property of a tree
// owns the store; the store is used by one thread at a time.
//
//   PropertyStore store;
//   const PooledString* name = store.Intern("name");  // count 1
//   void* node = store.Allocate(40);                   // from the 40-byte pool
//   store.Free(node, 40);
//   store.Release(name);                               // entry removed
#ifndef VYN_BINDING_PROPERTY_STORE_H_
#define VYN_BINDING_PROPERTY_STORE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace Kestrel {

// One interned text of a store's string pool, followed in memory by its bytes
// and a terminating NUL. Owned by the store; live while its count is above 0.
struct PooledString {
  PooledString* next;  // next entry of the same hash bucket
  uint32_t hash;       // FNV-1a (32-bit) of the text
  uint32_t length;     // byte count, NUL excluded
  uint32_t count;      // references held by values of the tree

  // The text, NUL-terminated at text()[length]. Never nullptr.
  const char* text() const { return length == 0 ? "" : reinterpret_cast<const char*>(this + 1); }
  std::string_view view() const { return {text(), length}; }
  // Whether the entry holds exactly `text`, byte for byte. Never fails.
  bool Holds(std::string_view text) const {
    const std::size_t size = text.size();
    if (length != size) return false;
    const char* a = reinterpret_cast<const char*>(this + 1);
    const char* b = text.data();
    // Short texts (most names and words) are compared a word at a time in
    // place, the differences gathered without a branch per word, the last
    // word read where the texts end; the library call would pay its own size
    // dispatch on every lookup.
    if (size > 32) return std::memcmp(a, b, size) == 0;
    if (size < 4) {
      for (std::size_t i = 0; i < size; ++i) {
        if (a[i] != b[i]) return false;
      }
      return true;
    }
    uint32_t difference = LoadWord(a + size - 4) ^ LoadWord(b + size - 4);
    for (std::size_t i = 0; i + 4 < size; i += 4) difference |= LoadWord(a + i) ^ LoadWord(b + i);
    return difference == 0;
  }

 private:
  static uint32_t LoadWord(const char* bytes) {
    uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
  }
};
static_assert(sizeof(void*) != 4 || sizeof(PooledString) == 16);

class PropertyStore {
 public:
  static constexpr std::size_t kSmallPoolCount = 18;
  static constexpr std::size_t kLargestSmallBlock = 72;  // 4 * kSmallPoolCount
  static constexpr std::size_t kInlinePageSize = 144;
  static constexpr std::size_t kLargePoolCount = 4;  // 128, 256, 512, 1024 bytes
  static constexpr std::size_t kLargestPooledBlock = 1024;
  static constexpr std::size_t kInitialBucketCount = 8;
  // Buckets the store holds in itself: the table at creation and once doubled
  // (up to 16 texts) take no block of the pools.
  static constexpr std::size_t kInlineBucketCount = 2 * kInitialBucketCount;

  PropertyStore();
  // Returns every page still held to the page pool and frees the string table
  // and every heap block still allocated.
  ~PropertyStore();
  PropertyStore(const PropertyStore&) = delete;
  PropertyStore& operator=(const PropertyStore&) = delete;

  // The shared entry of the empty text: never pooled, counted or freed. Never
  // nullptr.
  static const PooledString* EmptyString();

  // Returns the entry of `text` (all its bytes, NULs included) with its count
  // raised by 1, inserting it when absent; the empty text gives `EmptyString()`.
  // Throws std::bad_alloc when memory is exhausted. Never nullptr.
  const PooledString* Intern(std::string_view text);

  // Raises the count of `entry` (never null), an entry of this store from
  // `Intern` that is still counted; the shared empty entry is ignored. Never fails.
  void Retain(const PooledString* entry) {
    if (entry->length != 0) ++const_cast<PooledString*>(entry)->count;
  }

  // Lowers the count of `entry` and removes it at 0; nullptr and the shared
  // empty entry are ignored.
  void Release(const PooledString* entry);

  // Returns the entry of `text` without counting, or nullptr when not pooled.
  const PooledString* FindString(std::string_view text) const;

  // Number of distinct texts pooled (the shared empty entry not included).
  std::size_t StringCount() const { return string_count_; }
  // Number of hash buckets of the string table (8 at creation).
  std::size_t BucketCount() const { return bucket_count_; }

  // Returns a block of at least `size` bytes (0 counts as 4), aligned to 4 bytes
  // and to any type whose size is a multiple of its alignment and equals the
  // request. Throws std::bad_alloc when memory is exhausted. Never nullptr.
  void* Allocate(std::size_t size) {
    if (size <= kLargestSmallBlock) {
      BlockPool& pool = pools_.small[size == 0 ? 0 : (size - 1) / 4];
      if (pool.available != nullptr) return TakeBlock(pool);
    }
    return AllocateSlow(size);
  }

  // Gives back `block` obtained from `Allocate(size)` with the same `size`;
  // nullptr is ignored.
  void Free(void* block, std::size_t size);

  // Blob values of the tree that are alive. A tree without blobs holds nothing
  // outside the store, so it can be dropped with the store alone.
  std::size_t BlobCount() const { return blob_count_; }
  void AddBlob() { ++blob_count_; }
  void RemoveBlob() { --blob_count_; }

  // 4096-byte pages this store holds from the page pool (all pools together).
  std::size_t PagesHeld() const;
  // Blocks in use in the pool that serves requests of `size` bytes; 0 for sizes
  // served by the heap.
  std::size_t BlocksInUse(std::size_t size) const;

 private:
  // Header at the start of every page of a pool (the inline page included).
  // Blocks are numbered by their offset in the page over the block size.
  // A page hands out the blocks given back to it (a list threaded through
  // them) before the blocks it never handed out (from `fresh` on), so a new
  // page is ready without a pass over its blocks.
  struct PageHeader {
    PageHeader* next;
    PageHeader* prev;
    uint16_t end;         // one past the last block
    uint16_t used;        // blocks in use
    uint16_t first_free;  // the first block given back, 0 when none
    uint16_t fresh;       // the first block never handed out (`end` when none)
  };
  static_assert(sizeof(void*) != 4 || sizeof(PageHeader) == 16);

  // Blocks of one size, from an optional inline page and from 4096-byte pages.
  // Holds no pointer into its store until it is used, so a new store's pools
  // are copied from one constant image.
  struct BlockPool {
    static constexpr uint8_t kNoInlinePage = 0xFF;

    PageHeader* available = nullptr;  // pages with free blocks, inline page first
    PageHeader* full = nullptr;       // pages without free blocks
    std::size_t pages_held = 0;       // 4096-byte pages only
    std::size_t blocks_in_use = 0;
    uint16_t block_size = 0;
    uint8_t inline_index = kNoInlinePage;  // row of `inline_pages_`, or none
    uint8_t ordinal = 0;                   // bit of the pool in `pools_with_pages_`
    // The inline page is formatted when the pool first hands out a block, so
    // a small tree pays only for the few pools it uses.
    bool inline_formatted = false;
  };
  struct Pools {
    BlockPool small[kSmallPoolCount];
    BlockPool large[kLargePoolCount];
  };
  static constexpr Pools NewPools();

  // Prefix of a heap block: links of the store's list of heap blocks. Padded
  // so that the block keeps the heap's alignment.
  struct alignas(16) HeapBlock {
    HeapBlock* next;
    HeapBlock* prev;
  };

  static void FormatPage(PageHeader* page, std::size_t page_size, uint16_t block_size);
  static void Unlink(PageHeader*& head, PageHeader* page);
  static void Push(PageHeader*& head, PageHeader* page);
  // Takes a free block of the pool's first available page.
  void* TakeBlock(BlockPool& pool) {
    PageHeader* page = pool.available;
    std::byte* block;
    if (page->first_free != 0) {
      block = reinterpret_cast<std::byte*>(page) + page->first_free * pool.block_size;
      std::memcpy(&page->first_free, block, sizeof page->first_free);
    } else {
      block = reinterpret_cast<std::byte*>(page) + page->fresh++ * pool.block_size;
    }
    ++page->used;
    ++pool.blocks_in_use;
    if (page->first_free == 0 && page->fresh == page->end) {
      Unlink(pool.available, page);
      Push(pool.full, page);
    }
    return block;
  }
  void* AllocateSlow(std::size_t size);
  void* AllocateFrom(BlockPool& pool);
  void FreeTo(BlockPool& pool, void* block);
  BlockPool* PoolFor(std::size_t size);
  const BlockPool* PoolFor(std::size_t size) const;
  void GrowBuckets();

  // The inline page of `pool`, nullptr for a pool without one.
  PageHeader* InlinePage(const BlockPool& pool) {
    return pool.inline_index == BlockPool::kNoInlinePage
               ? nullptr
               : reinterpret_cast<PageHeader*>(inline_pages_[pool.inline_index]);
  }

  Pools pools_;
  // Bit i set: pool i of `pools_` (small ones first) holds 4096-byte pages.
  uint32_t pools_with_pages_ = 0;
  static_assert(kSmallPoolCount + kLargePoolCount <= 32);
  alignas(16) std::byte inline_pages_[kSmallPoolCount][kInlinePageSize];
  PooledString* inline_buckets_[kInlineBucketCount];
  PooledString** buckets_ = nullptr;
  std::size_t bucket_count_ = 0;
  std::size_t string_count_ = 0;
  std::size_t blob_count_ = 0;
  HeapBlock* heap_blocks_ = nullptr;
};

}  // namespace Kestrel

#endif  // VYN_BINDING_PROPERTY_STORE_H_
