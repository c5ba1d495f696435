// The benchmark program's operator new and delete, switchable between the
// plugin's counting allocator and the plain C heap.
//
// The plugin routes every allocation through the counting allocator, so our
// side of each figure runs with it, as in the product. The libraries we are
// compared with run on the plain heap, as in a program that uses them, so that
// the counters' atomic updates never slow them down. Both modes allocate from
// the same C heap (`malloc`), so a block may be freed in either mode; only the
// counters differ. Memory figures read the counters around work done entirely
// in counting mode.
//
//   {
//     CountingScope counting;            // our code from here on
//     PropertyResult tree = ParseJson(text);
//   }                                    // plain heap again
#ifndef VYN_BENCH_BENCH_ALLOCATOR_H_
#define VYN_BENCH_BENCH_ALLOCATOR_H_

namespace Kestrel::Bench {

// True while allocations go through the counting allocator.
bool IsCounting();

// Switches to the counting allocator for its lifetime and restores the
// previous mode afterwards. Scopes nest. One thread at a time.
class CountingScope {
 public:
  CountingScope();
  ~CountingScope();
  CountingScope(const CountingScope&) = delete;
  CountingScope& operator=(const CountingScope&) = delete;

 private:
  bool previous_;
};

}  // namespace Kestrel::Bench

#endif  // VYN_BENCH_BENCH_ALLOCATOR_H_
