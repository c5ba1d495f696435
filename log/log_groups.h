// The process-wide table of log group names.
//
// Bit i of a group mask is group i; its name is the i-th entry of a table of
// 64 three-letter names. Bits 0-7 are named at start ("DBG", "GEN", "XTR",
// "PRF", "MEM", "DSK", "NET", "TST"); every other entry reads "???" until
// `GroupFromName` registers a name there. The table lives for the process and
// is independent of the logger's life.
//
//   uint64_t net = GroupFromName("NET");          // kLogGroupNet
//   char text[kGroupNamesBufferSize];
//   GroupNames(text, sizeof(text), kLogGroupDbg | net);   // "DBG;NET"
#ifndef VYN_LOG_LOG_GROUPS_H_
#define VYN_LOG_LOG_GROUPS_H_

#include <cstddef>
#include <cstdint>

namespace Kestrel {

// Number of entries in the name table: one per bit of a group mask.
inline constexpr int kMaxLogGroups = 64;

// A buffer of this size holds `GroupNames` of any mask (64 names, 63
// separators, the NUL).
inline constexpr std::size_t kGroupNamesBufferSize = kMaxLogGroups * 4;

// Writes the names of the set bits of `groups`, lowest bit first, separated by
// ";" into `buffer` (cut to `size`, always NUL-terminated when `size` > 0) and
// returns the number of characters written. An empty mask gives "". A nullptr
// `buffer` or a 0 `size` writes nothing and returns 0.
std::size_t GroupNames(char* buffer, std::size_t size, uint64_t groups);

// Returns the mask of the group whose name equals the first three characters of
// `name`, registering those characters as a new group when none matches.
// Returns 0 (no group) when `name` is nullptr or empty, or when it is new and
// all 64 entries are already in use: names past the 64th are never registered.
// Any thread may call it.
uint64_t GroupFromName(const char* name);

// Returns the index of the highest registered group (7 until a name is added,
// at most 63).
int HighestUsedGroupIndex();

}  // namespace Kestrel

#endif  // VYN_LOG_LOG_GROUPS_H_
