#include "bench/memory_figures.h"

#include <rapidjson/document.h>

#include <new>

#include "bench/bench_allocator.h"
#include "bench/bench_corpus.h"
#include "binding/property_page_pool.h"
#include "formats/json_reader.h"
#include "util/counting_allocator.h"

namespace Kestrel::Bench {

namespace {

// RapidJSON's document with its memory pool (default chunk size) and its parse
// stack, both drawing from the counted heap.
using CountedDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>,
                               rapidjson::MemoryPoolAllocator<JsonInternal::HeapAllocator>,
                               JsonInternal::HeapAllocator>;

uint64_t RegionsHeld() {
  return PropertyPagePool::Instance().ReadCounters().regions_held;
}

}  // namespace

uint64_t MeasurePeakHeapBytes(const std::function<void()>& work) {
  CountingScope counting;
  const AllocatorCounters before = ReadAllocatorCounters();
  void* ballast = nullptr;
  if (before.peak_live_bytes > before.live_bytes()) {
    ballast =
        CountingAllocate(static_cast<std::size_t>(before.peak_live_bytes - before.live_bytes()));
    if (ballast == nullptr) throw std::bad_alloc();
  }
  const uint64_t base = ReadAllocatorCounters().live_bytes();
  work();
  const uint64_t peak = ReadAllocatorCounters().peak_live_bytes;
  CountingFree(ballast);
  return peak > base ? peak - base : 0;
}

ParseAllocations CountParseAllocations(const std::string& json) {
  CountingScope counting;
  const uint64_t before = ReadAllocatorCounters().allocations;
  const PropertyResult tree = ParseJson(json);
  const uint64_t after = ReadAllocatorCounters().allocations;
  if (!tree.IsValid()) return {};
  return {after - before, CountValues(tree)};
}

TreePeak MeasureTreePeak(const std::string& json) {
  TreePeak figure;
  figure.ours_heap_bytes = MeasurePeakHeapBytes([&] {
    const uint64_t regions_before = RegionsHeld();
    const PropertyResult tree = ParseJson(json);
    const uint64_t regions_after = RegionsHeld();
    if (regions_after > regions_before) {
      figure.ours_page_bytes = (regions_after - regions_before) * PropertyPagePool::kRegionSize;
    }
  });
  figure.peer_heap_bytes = MeasurePeakHeapBytes([&] {
    CountedDocument tree;
    tree.Parse<rapidjson::kParseDefaultFlags>(json.data(), json.size());
  });
  return figure;
}

}  // namespace Kestrel::Bench
