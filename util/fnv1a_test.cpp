#include "util/fnv1a.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace Kestrel {
namespace {

// A byte-at-a-time FNV-1a written from the definition, so that the four-bytes-
// a-step loop is checked against something other than itself.
uint32_t ReferenceFnv(std::string_view text) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
  return hash;
}

static_assert(Fnv1a32("") == 0x811C9DC5u, "usable in constant expressions");

TEST(Fnv1a32, MatchesPublishedValues) {
  struct Case {
    std::string_view text;
    uint32_t hash;
  };
  constexpr Case kCases[] = {
      {"", 0x811C9DC5u},
      {"a", 0xE40C292Cu},
      {"foobar", 0xBF9CF968u},
      {"\xFF", (0x811C9DC5u ^ 0xFFu) * 0x01000193u},  // bytes above 0x7F count unsigned
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(Fnv1a32(c.text), c.hash);
  }
}

TEST(Fnv1a32, EveryLengthAroundTheFourByteStepMatchesTheByteLoop) {
  // Lengths 0 to 12 cover the whole steps and every tail length; the text has
  // high bytes and an embedded NUL, which is hashed like any other byte.
  const std::string text("ab\xFF\x80\0cdefghi\x7F", 13);
  for (std::size_t length = 0; length <= text.size(); ++length) {
    SCOPED_TRACE(length);
    const std::string_view prefix(text.data(), length);
    EXPECT_EQ(Fnv1a32(prefix), ReferenceFnv(prefix));
  }
}

}  // namespace
}  // namespace Kestrel
