// Storage the compiler assumes aligned, on the 32-bit Windows heap (which
// aligns its own blocks to 8 bytes only): plain operator new for objects up to
// __STDCPP_DEFAULT_NEW_ALIGNMENT__, and the types that carry `alignas`, made
// the ways the library makes them.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "binding/property_store.h"

namespace Kestrel {
namespace {

struct alignas(16) Aligned16 {
  char byte;
};

bool IsAligned(const void* address, std::size_t alignment) {
  return reinterpret_cast<std::uintptr_t>(address) % alignment == 0;
}

TEST(AlignedStorageTest, NewGivesTheAlignmentTheCompilerAssumes) {
  // Blocks of many sizes held at once, so that the heap places them at both
  // of its 8-byte phases.
  std::vector<std::unique_ptr<char[]>> held;
  std::vector<std::unique_ptr<PropertyStore>> stores;
  for (std::size_t size = 1; size <= 200; size += 7) {
    held.emplace_back(new char[size]);
    EXPECT_TRUE(IsAligned(held.back().get(), __STDCPP_DEFAULT_NEW_ALIGNMENT__)) << size;
    stores.push_back(std::make_unique<PropertyStore>());
    EXPECT_TRUE(IsAligned(stores.back().get(), alignof(PropertyStore))) << size;
    auto shared = std::make_shared<Aligned16>();
    EXPECT_TRUE(IsAligned(shared.get(), 16)) << size;
    std::vector<Aligned16> elements(size % 5 + 1);
    EXPECT_TRUE(IsAligned(elements.data(), 16)) << size;
  }
}

}  // namespace
}  // namespace Kestrel
