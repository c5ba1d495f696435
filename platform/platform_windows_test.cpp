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

TEST(HeapWindowsTest, BlockSizeIsWhatTheRuntimeHeapHoldsForTheBlock) {
  // The C runtime's own heap, asked directly: its size for each block is the
  // size the counting allocator must see.
  HANDLE runtime_heap = reinterpret_cast<HANDLE>(_get_heap_handle());
  for (std::size_t size : {1u, 10u, 1000u, 100000u}) {
    void* block = HeapAllocate(size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(HeapBlockSize(block), HeapSize(runtime_heap, 0, block)) << size;
    EXPECT_GE(HeapBlockSize(block), size);
    block = HeapReallocate(block, size * 3);
    EXPECT_EQ(HeapBlockSize(block), HeapSize(runtime_heap, 0, block)) << size;
    HeapFree(block);
  }
  // Alignments beyond the heap's own are refused rather than handed out as
  // blocks that HeapFree cannot release.
  void* aligned = HeapAllocateAligned(32, 8);
  ASSERT_NE(aligned, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 8, 0u);
  HeapFree(aligned);
  EXPECT_EQ(HeapAllocateAligned(32, 64), nullptr);
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
