#include "log/log_groups.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace Kestrel {
namespace {

constexpr int kFirstFreeIndex = 8;

// Entries 0..g_highest_used are readable without a lock: a new name is written
// into its slot before the raised index is published (release/acquire), so a
// reader never sees an index whose name is still being written.
char g_names[kMaxLogGroups][4] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
std::atomic<int> g_highest_used{kFirstFreeIndex - 1};

// Serialises writers only, so that two threads registering the same new name
// get the same bit instead of two.
std::mutex g_register_lock;

int FindName(const char* name, int highest) {
  for (int index = 0; index <= highest; ++index) {
    if (std::strncmp(g_names[index], name, 3) == 0) return index;
  }
  return -1;
}

}  // namespace

std::size_t GroupNames(char* buffer, std::size_t size, uint64_t groups) {
  if (buffer == nullptr || size == 0) return 0;
  const int highest = g_highest_used.load(std::memory_order_acquire);
  std::size_t length = 0;
  bool first = true;
  for (int bit = 0; bit < kMaxLogGroups; ++bit) {
    if ((groups & (uint64_t{1} << bit)) == 0) continue;
    const char* name = bit <= highest ? g_names[bit] : "???";
    if (!first && length + 1 < size) buffer[length++] = ';';
    first = false;
    for (const char* c = name; *c != '\0' && length + 1 < size; ++c) buffer[length++] = *c;
  }
  buffer[length] = '\0';
  return length;
}

uint64_t GroupFromName(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  int index = FindName(name, g_highest_used.load(std::memory_order_acquire));
  if (index < 0) {
    std::lock_guard<std::mutex> guard(g_register_lock);
    const int highest = g_highest_used.load(std::memory_order_acquire);
    index = FindName(name, highest);
    if (index < 0) {
      if (highest + 1 >= kMaxLogGroups) return 0;
      index = highest + 1;
      std::strncpy(g_names[index], name, 3);
      g_names[index][3] = '\0';
      g_highest_used.store(index, std::memory_order_release);
    }
  }
  return uint64_t{1} << index;
}

int HighestUsedGroupIndex() {
  return g_highest_used.load(std::memory_order_acquire);
}

}  // namespace Kestrel
