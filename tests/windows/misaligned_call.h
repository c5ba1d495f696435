// Calling a cdecl function from a stack that is not 16-byte aligned, as a
// 32-bit Windows host may: such programs keep only 4-byte alignment at a call.
#ifndef VYN_TESTS_WINDOWS_MISALIGNED_CALL_H_
#define VYN_TESTS_WINDOWS_MISALIGNED_CALL_H_

#include <cstdint>
#include <type_traits>

namespace Kestrel::Testing {

// Calls `function` with the `count` 32-bit words at `words` as its arguments,
// with the stack pointer at the call equal to `offset` (0, 4, 8 or 12) modulo
// 16. Returns what the function left in EAX.
uint32_t CallWithStackOffset(const void* function, const uint32_t* words, uint32_t count,
                             uint32_t offset);

// One argument word: a pointer or an integer of at most 32 bits.
template <typename T>
uint32_t ArgumentWord(T value) {
  static_assert(sizeof(T) <= sizeof(uint32_t));
  if constexpr (std::is_pointer_v<T>) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
  } else {
    return static_cast<uint32_t>(value);
  }
}

// `CallWithStackOffset` for arguments that are pointers or integers.
template <typename Function, typename... Args>
uint32_t CallMisaligned(Function function, uint32_t offset, Args... args) {
  const uint32_t words[] = {0u, ArgumentWord(args)...};
  return CallWithStackOffset(reinterpret_cast<const void*>(function), words + 1, sizeof...(Args),
                             offset);
}

}  // namespace Kestrel::Testing

#endif  // VYN_TESTS_WINDOWS_MISALIGNED_CALL_H_
