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

TEST(VirtualMemoryTest, AdjacentRegionsAreReleasedTogether) {
  ReleaseRegions(nullptr, kRegionSize, 2);  // ignored
  // Fresh regions usually land right beside one another; find such a pair.
  std::vector<unsigned char*> held;
  unsigned char* first = nullptr;
  for (int i = 0; i < 8 && first == nullptr; ++i) {
    held.push_back(static_cast<unsigned char*>(ReserveRegion(kRegionSize)));
    ASSERT_NE(held.back(), nullptr);
    for (unsigned char* other : held) {
      if (other + kRegionSize == held.back()) first = other;
      if (held.back() + kRegionSize == other) first = held.back();
    }
  }
  if (first == nullptr) GTEST_SKIP() << "no two regions were placed side by side";
  unsigned char* second = first + kRegionSize;
  std::erase_if(held, [&](unsigned char* r) { return r == first || r == second; });
  second[0] = 1;
  ReleaseRegions(first, kRegionSize, 2);
  // The second region went with the first.
#ifdef _WIN32
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_EQ(VirtualQuery(second, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
#else
  // Asked without touching it (a fault would be a sanitizer report): a range
  // that is not mapped answers ENOMEM.
  unsigned char resident = 0;
  EXPECT_EQ(mincore(second + kRegionSize - 4096, 4096, &resident), -1);
  EXPECT_EQ(errno, ENOMEM);
#endif
  for (unsigned char* region : held) ReleaseRegion(region, kRegionSize);
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
