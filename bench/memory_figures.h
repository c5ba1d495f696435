// Memory figures of the benchmark program: heap allocations of a JSON parse and
// the peak memory of a parsed tree against RapidJSON's `Document`, both read
// from the plugin's counting allocator (util/counting_allocator.h).
//
// A peak is measured exactly even though the allocator's peak counter never
// goes down: before the measured work, a ballast block (allocated, never
// touched) lifts the live bytes to the peak seen so far, so every byte the work
// adds shows as a new peak.
//
//   ParseAllocations counted = CountParseAllocations(citm.json);
//   TreePeak canada_peak = MeasureTreePeak(canada.json);
#ifndef VYN_BENCH_MEMORY_FIGURES_H_
#define VYN_BENCH_MEMORY_FIGURES_H_

#include <cstdint>
#include <functional>
#include <string>

namespace Kestrel::Bench {

// Heap allocations `ParseJson` made while parsing one text (the tree's release
// not included) and the values of the tree it built.
struct ParseAllocations {
  uint64_t allocations = 0;
  uint64_t values = 0;
};

// Peak memory of parsing one text and holding the tree, for both sides.
struct TreePeak {
  uint64_t ours_heap_bytes = 0;  // peak counted heap bytes, our parse
  uint64_t ours_page_bytes = 0;  // bytes of the page-pool regions our tree took
  uint64_t peer_heap_bytes = 0;  // peak counted heap bytes, RapidJSON Document
  uint64_t ours_total() const { return ours_heap_bytes + ours_page_bytes; }
};

// Runs `work` in counting mode and returns the largest number of counted heap
// bytes that were live at once because of it. Throws std::bad_alloc when the
// ballast block cannot be had.
uint64_t MeasurePeakHeapBytes(const std::function<void()>& work);

// Counts the heap allocations of `ParseJson(json)`. Returns zeros for a text
// that does not parse.
ParseAllocations CountParseAllocations(const std::string& json);

// Measures the peak bytes of `ParseJson(json)` with its tree alive (heap plus
// the 64 KiB page-pool regions obtained for it), and of RapidJSON's
// `Document::Parse` with its memory pool and parse stack on the counted heap.
TreePeak MeasureTreePeak(const std::string& json);

}  // namespace Kestrel::Bench

#endif  // VYN_BENCH_MEMORY_FIGURES_H_
