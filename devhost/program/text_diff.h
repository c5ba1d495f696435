// The unified diff of two texts, line by line, as `diff -u` prints it: what
// `vyn-devhost replay` shows for a call answered differently. A longest
// common subsequence of the lines that differ, after the common first and
// last lines are set aside; when that middle is too large to compare line
// by line (over about four million pairs of lines), it is shown as removed
// whole and added whole. Pure function, safe from any thread.
//
//   UnifiedDiff("a\nb\n", "a\nc\n", "recorded", "replayed");
//   // "--- recorded\n+++ replayed\n@@ -1,2 +1,2 @@\n a\n-b\n+c\n"
#ifndef VYN_DEVHOST_PROGRAM_TEXT_DIFF_H_
#define VYN_DEVHOST_PROGRAM_TEXT_DIFF_H_

#include <string>
#include <string_view>

namespace Kestrel::DevHost {

// The diff from `before` to `after` with `context` unchanged lines around
// each change, headed by the two names; "" when the texts have the same
// lines (a missing newline at the end of either is not a difference). Throws
// std::bad_alloc only.
std::string UnifiedDiff(std::string_view before, std::string_view after,
                        std::string_view before_name, std::string_view after_name,
                        size_t context = 3);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_PROGRAM_TEXT_DIFF_H_
