// `WorkStack<T, N>`: the explicit stack of the tree walks of `BindingProperty`
// (release, copy, visiting), so that none of them recurses. It keeps its first
// N entries in place and spills to the heap only for deep or wide trees. It
// owns its entries; one thread at a time.
//
//   WorkStack<const BindingProperty*, 32> work;
//   work.Push(&root);
//   while (!work.Empty()) { const BindingProperty* next = work.Top(); work.Pop(); ... }
#ifndef VYN_BINDING_WORK_STACK_H_
#define VYN_BINDING_WORK_STACK_H_

#include <array>
#include <cstddef>
#include <vector>

namespace Kestrel {

template <class T, std::size_t N>
class WorkStack {
 public:
  // May throw std::bad_alloc once more than N entries are held.
  void Push(const T& value) {
    if (size_ < N) {
      inline_[size_] = value;
    } else {
      spill_.push_back(value);
    }
    ++size_;
  }
  // The newest entry; the stack must not be empty.
  T& Top() { return size_ <= N ? inline_[size_ - 1] : spill_.back(); }
  void Pop() {
    if (size_ > N) spill_.pop_back();
    --size_;
  }
  bool Empty() const { return size_ == 0; }

 private:
  std::array<T, N> inline_{};
  std::vector<T> spill_;
  std::size_t size_ = 0;
};

}  // namespace Kestrel

#endif  // VYN_BINDING_WORK_STACK_H_
