#include "util/path_template.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/path_template_cases.h"

namespace Kestrel {
namespace {

TEST(PathTemplateTest, AgreesWithTheSharedTableOfCases) {
  for (const Testing::PathTemplateCase& c : Testing::kPathTemplateCases) {
    EXPECT_EQ(PathMatchesTemplate(c.path_template, c.path), c.matches)
        << "template '" << c.path_template << "' path '" << c.path << "'";
  }
}

// Matching keeps one bit per path byte and never recurses, so a path of a
// megabyte needs no deeper stack than a short one.
TEST(PathTemplateTest, MegabytePathsAreMatchedWithoutRecursion) {
  const std::string value(1024 * 1024, 'a');
  EXPECT_TRUE(PathMatchesTemplate("/items/{id}", "/items/" + value));
  EXPECT_FALSE(PathMatchesTemplate("/items/{id}", "/items/" + value + "/"));

  std::string nested = "/files/" + value;
  for (std::size_t i = 7; i < nested.size(); i += 1000) nested[i] = '/';
  EXPECT_TRUE(PathMatchesTemplate("/files/{+path}/{name}", nested + "/last"));
  EXPECT_FALSE(PathMatchesTemplate("/files/{+path}/end", nested));
  EXPECT_TRUE(PathMatchesTemplate("/p{#f}", "/p#" + value));
}

}  // namespace
}  // namespace Kestrel
