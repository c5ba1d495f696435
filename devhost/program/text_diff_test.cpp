#include "devhost/program/text_diff.h"

#include <gtest/gtest.h>

namespace Kestrel::DevHost {
namespace {

TEST(UnifiedDiffTest, HunksAsDiffPrintsThem) {
  struct Case {
    const char* what;
    const char* before;
    const char* after;
    const char* diff;  // after the two header lines
  };
  const Case cases[] = {
      {"same lines", "a\nb\n", "a\nb", ""},
      {"one line changed", "a\nb\nc\n", "a\nx\nc\n", "@@ -1,3 +1,3 @@\n a\n-b\n+x\n c\n"},
      {"added at the start", "a\n", "x\na\n", "@@ -1,1 +1,2 @@\n+x\n a\n"},
      {"removed at the end", "a\nb\nc\nd\ne\n", "a\nb\nc\nd\n",
       "@@ -2,4 +2,3 @@\n b\n c\n d\n-e\n"},
      {"everything replaced", "a\n", "b\n", "@@ -1,1 +1,1 @@\n-a\n+b\n"},
      {"two changes far apart", "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n", "x\n2\n3\n4\n5\n6\n7\n8\n9\ny\n",
       "@@ -1,4 +1,4 @@\n-1\n+x\n 2\n 3\n 4\n@@ -7,4 +7,4 @@\n 7\n 8\n 9\n-10\n+y\n"},
      {"two changes near", "1\n2\n3\n4\n5\n6\n", "x\n2\n3\n4\n5\ny\n",
       "@@ -1,6 +1,6 @@\n-1\n+x\n 2\n 3\n 4\n 5\n-6\n+y\n"},
      {"changes two contexts apart", "1\n2\n3\n4\n5\n6\n7\n8\n", "x\n2\n3\n4\n5\n6\n7\ny\n",
       "@@ -1,8 +1,8 @@\n-1\n+x\n 2\n 3\n 4\n 5\n 6\n 7\n-8\n+y\n"},
      {"added to nothing", "", "a\n", "@@ -0,0 +1,1 @@\n+a\n"},
      {"all removed", "a\n", "", "@@ -1,1 +0,0 @@\n-a\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string diff = UnifiedDiff(c.before, c.after, "old", "new");
    EXPECT_EQ(diff, c.diff[0] == '\0' ? "" : std::string("--- old\n+++ new\n") + c.diff);
  }
}

}  // namespace
}  // namespace Kestrel::DevHost
