#include "tests/windows/misaligned_call.h"

// cdecl, so the caller's frame (EBP) restores the stack whatever the callee did.
// Arguments: function, words, count, offset.
asm(R"(
  .text
  .globl _VynCallWithStackOffset
_VynCallWithStackOffset:
  pushl %ebp
  movl %esp, %ebp
  pushl %esi
  pushl %edi
  movl 16(%ebp), %ecx
  leal 0(,%ecx,4), %eax
  movl %esp, %edx
  subl %eax, %edx
  andl $-16, %edx
  subl $16, %edx
  addl 20(%ebp), %edx
  movl %edx, %esp
  movl 12(%ebp), %esi
  movl %esp, %edi
  cld
  rep movsl
  call *8(%ebp)
  leal -8(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebp
  ret
)");

extern "C" uint32_t VynCallWithStackOffset(const void* function, const uint32_t* words,
                                           uint32_t count, uint32_t offset);

namespace Kestrel::Testing {

uint32_t CallWithStackOffset(const void* function, const uint32_t* words, uint32_t count,
                             uint32_t offset) {
  return VynCallWithStackOffset(function, words, count, offset & 12u);
}

}  // namespace Kestrel::Testing
