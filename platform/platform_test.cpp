#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>

#include <cerrno>
#endif

#include <cstring>
#include <string>
#include <vector>

#include "platform/debug_output.h"
#include "platform/heap.h"
#include "platform/process_info.h"
#include "platform/system_library.h"
#include "platform/virtual_memory.h"
#include "tests/support/system_function_resolver.h"

namespace Kestrel::Platform {
namespace {

TEST(VirtualMemoryTest, RegionIsZeroedWritableAndReleasedWhole) {
  auto* region = static_cast<unsigned char*>(ReserveRegion(kRegionSize));
  ASSERT_NE(region, nullptr);
  for (std::size_t i = 0; i < kRegionSize; i += 4096) EXPECT_EQ(region[i], 0);
  region[0] = 1;
  region[kRegionSize - 1] = 2;
  ReleaseRegion(region, kRegionSize);
  ReleaseRegion(nullptr, kRegionSize);  // ignored
}

// Whether the region at `region` is still reserved, asked without touching it
// (a fault would be a sanitizer report).
bool IsReserved(unsigned char* region) {
#ifdef _WIN32
  MEMORY_BASIC_INFORMATION info{};
  return VirtualQuery(region, &info, sizeof info) == sizeof info &&
         info.State != static_cast<DWORD>(MEM_FREE);
#else
  // A range that is not mapped answers ENOMEM.
  unsigned char resident = 0;
  return mincore(region + kRegionSize - 4096, 4096, &resident) == 0;
#endif
}

// Three regions, each from `ReserveRegion`, one right after the other: a
// block of three is reserved and given back, then the regions are placed in
// it. The block is reserved by the same call, so its place suits a region.
unsigned char* ThreeAdjacentRegions() {
  for (int attempt = 0; attempt < 8; ++attempt) {
    auto* block = static_cast<unsigned char*>(ReserveRegion(3 * kRegionSize));
    if (block == nullptr) return nullptr;
    ReleaseRegion(block, 3 * kRegionSize);
    bool placed = true;
    for (std::size_t i = 0; i < 3; ++i) {
      unsigned char* want = block + i * kRegionSize;
#ifdef _WIN32
      void* got = VirtualAlloc(want, kRegionSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
      void* got = mmap(want, kRegionSize, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
      if (got == MAP_FAILED) got = nullptr;
#endif
      if (got != want) {
        // Another thread took part of the block meanwhile: try a new one.
        if (got != nullptr) ReleaseRegion(got, kRegionSize);
        for (std::size_t j = 0; j < i; ++j) ReleaseRegion(block + j * kRegionSize, kRegionSize);
        placed = false;
        break;
      }
    }
    if (placed) return block;
  }
  return nullptr;
}

TEST(VirtualMemoryTest, AdjacentRegionsAreReleasedTogether) {
  ReleaseRegions(nullptr, kRegionSize, 2);  // ignored
  unsigned char* first = ThreeAdjacentRegions();
  ASSERT_NE(first, nullptr);
  unsigned char* second = first + kRegionSize;
  unsigned char* third = second + kRegionSize;
  second[0] = 1;
  ReleaseRegions(first, kRegionSize, 2);
  EXPECT_FALSE(IsReserved(first));
  EXPECT_FALSE(IsReserved(second));  // went with the first
  EXPECT_TRUE(IsReserved(third));    // beyond the count: kept, and still writable
  third[kRegionSize - 1] = 1;
  ReleaseRegion(third, kRegionSize);
  EXPECT_FALSE(IsReserved(third));
}

TEST(HeapTest, BlockSizeCoversTheRequestAndNullIsZero) {
  void* block = HeapAllocate(10);
  ASSERT_NE(block, nullptr);
  EXPECT_GE(HeapBlockSize(block), 10u);
  block = HeapReallocate(block, 1000);
  EXPECT_GE(HeapBlockSize(block), 1000u);
  HeapFree(block);
  EXPECT_EQ(HeapBlockSize(nullptr), 0u);
}

TEST(ProcessInfoTest, ExecutablePathNamesThisTestAndTimeIsSane) {
  std::string path = ExecutablePath();
  EXPECT_NE(path.find("platform_test"), std::string::npos) << path;
  EXPECT_NE(CurrentThreadId(), 0u);
  LocalTime now = LocalTimeNow();
  EXPECT_GE(now.year, 2000);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_LT(now.millisecond, 1000);
  int64_t first = HighResolutionCounter();
  EXPECT_LE(first, HighResolutionCounter());
  EXPECT_GT(HighResolutionFrequency(), 0);
}

void Collect(const char* text, void* context) {
  static_cast<std::vector<std::string>*>(context)->push_back(text);
}

TEST(DebugOutputTest, GoesNowhereUntilObserved) {
  WriteDebugOutput("unseen");
  std::vector<std::string> seen;
  SetDebugOutputObserver(&Collect, &seen);
  WriteDebugOutput("line\n");
  WriteDebugOutput(nullptr);
  SetDebugOutputObserver(nullptr, nullptr);
  WriteDebugOutput("unseen again");
  EXPECT_EQ(seen, std::vector<std::string>{"line\n"});
}

int g_marker = 0;
void* FakeResolver(const char* library, const char* symbol) {
  if (std::strcmp(library, "Advapi32.dll") != 0) return nullptr;
  if (symbol == nullptr || std::strcmp(symbol, "EventWrite") == 0) return &g_marker;
  return nullptr;
}

// Windows has the tracing library; Linux has none.
#ifdef _WIN32
constexpr bool kSystemHasTracingLibrary = true;
#else
constexpr bool kSystemHasTracingLibrary = false;
#endif

TEST(SystemLibraryTest, TheSystemLoaderAnswersUntilATestInstallsAResolver) {
  EXPECT_EQ(IsSystemLibraryAvailable("Advapi32.dll"), kSystemHasTracingLibrary);
  EXPECT_EQ(FindSystemFunction("Advapi32.dll", "EventRegister") != nullptr,
            kSystemHasTracingLibrary);
  EXPECT_FALSE(IsSystemLibraryAvailable("vyn-no-such-library.dll"));
  EXPECT_EQ(FindSystemFunction("Advapi32.dll", "VynNoSuchFunction"), nullptr);
  SetSystemFunctionResolverForTesting(&FakeResolver);
  EXPECT_TRUE(IsSystemLibraryAvailable("Advapi32.dll"));
  EXPECT_EQ(FindSystemFunction("Advapi32.dll", "EventWrite"), &g_marker);
  EXPECT_EQ(FindSystemFunction("Advapi32.dll", "EventRegister"), nullptr);
  SetSystemFunctionResolverForTesting(nullptr);
  EXPECT_EQ(IsSystemLibraryAvailable("Advapi32.dll"), kSystemHasTracingLibrary);
}

}  // namespace
}  // namespace Kestrel::Platform
