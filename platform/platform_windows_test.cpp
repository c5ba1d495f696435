// The Windows services observed through the system itself: the memory
// manager, the C runtime's heap and the debugger channel (through the
// vectored exception handler of DebugOutputCapture).
#include <windows.h>

#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/debug_output_capture.h"
#include "platform/heap.h"
#include "platform/virtual_memory.h"
#include "platform/windows_text.h"

namespace Kestrel::Platform {
namespace {

TEST(VirtualMemoryWindowsTest, RegionIsOneCommittedReservationAndReleasedRegionIsFree) {
  void* region = ReserveRegion(kRegionSize);
  ASSERT_NE(region, nullptr);
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_EQ(VirtualQuery(region, &info, sizeof(info)), sizeof(info));
  EXPECT_EQ(info.AllocationBase, region);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
  EXPECT_EQ(info.RegionSize, kRegionSize);
  ReleaseRegion(region, kRegionSize);
  ASSERT_EQ(VirtualQuery(region, &info, sizeof(info)), sizeof(info));
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
}

// The runtime block a block sits in: its address is in the word before it.
void* RuntimeBlockOf(void* block) {
  return static_cast<void**>(block)[-1];
}

// Checks that `block` of `size` bytes is aligned to `alignment` and lies inside
// its runtime block, whose size as the C runtime's own heap gives it is the
// size the counting allocator must see.
void ExpectPlacedInRuntimeBlock(void* block, std::size_t size, std::size_t alignment) {
  HANDLE runtime_heap = reinterpret_cast<HANDLE>(_get_heap_handle());
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignment, 0u) << size;
  char* raw = static_cast<char*>(RuntimeBlockOf(block));
  const SIZE_T runtime_size = HeapSize(runtime_heap, 0, raw);
  EXPECT_EQ(HeapBlockSize(block), runtime_size) << size;
  EXPECT_GT(static_cast<char*>(block), raw);
  EXPECT_LE(static_cast<char*>(block) + size, raw + runtime_size) << size;
}

TEST(HeapWindowsTest, BlocksAreAlignedForNewAndCountedWholeAndKeepTheirContent) {
  for (std::size_t size : {1u, 10u, 24u, 1000u, 100000u}) {
    auto* block = static_cast<unsigned char*>(HeapAllocate(size));
    ExpectPlacedInRuntimeBlock(block, size, __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    for (std::size_t i = 0; i < size; ++i) block[i] = static_cast<unsigned char>(i * 7);
    // Growing and shrinking keep the content, wherever the aligned start falls.
    for (std::size_t resized : {size * 3 + 5, size, size / 2 + 1}) {
      block = static_cast<unsigned char*>(HeapReallocate(block, resized));
      ExpectPlacedInRuntimeBlock(block, resized, __STDCPP_DEFAULT_NEW_ALIGNMENT__);
      for (std::size_t i = 0; i < size && i < resized; ++i) {
        ASSERT_EQ(block[i], static_cast<unsigned char>(i * 7)) << size << " " << resized;
      }
    }
    HeapFree(block);
  }
  for (std::size_t alignment : {8u, 16u, 64u, 4096u}) {
    void* aligned = HeapAllocateAligned(32, alignment);
    ExpectPlacedInRuntimeBlock(aligned, 32, alignment < 16 ? 16 : alignment);
    HeapFree(aligned);
  }
}

TEST(DebugOutputWindowsTest, TextReachesOutputDebugStringA) {
  ASSERT_TRUE(DebugOutputCapture::IsSupported());
  std::vector<std::string> texts;
  {
    DebugOutputCapture capture;
    WriteDebugOutput("first line\n");
    WriteDebugOutput(nullptr);
    WriteDebugOutput("second line\n");
    texts = capture.texts();
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"first line\n", "second line\n"}));
}

TEST(WindowsTextTest, Utf8AndUtf16RoundTripAndErrorTextsHaveNoLineEnd) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, e-acute, euro, emoji
  const std::wstring wide = WidenUtf8(text);
  EXPECT_EQ(wide, (std::wstring{L'a', 0xE9, 0x20AC, 0xD83D, 0xDE00}));
  EXPECT_EQ(NarrowToUtf8(wide), text);
  EXPECT_EQ(WidenUtf8(""), L"");
  EXPECT_EQ(NarrowToUtf8(L""), "");

  const std::string message = SystemErrorText(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(message.empty());
  EXPECT_NE(message.back(), '\n');
  EXPECT_NE(message.back(), '\r');
}

}  // namespace
}  // namespace Kestrel::Platform
