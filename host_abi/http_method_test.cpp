#include "host_abi/http_method.h"

#include <gtest/gtest.h>

namespace Kestrel {
namespace {

TEST(HttpMethodTest, ValuesAboveEightReadAsNoneAndTextsFollowTheNumbering) {
  EXPECT_EQ(HttpMethodFromValue(6), HttpMethod::kPost);
  EXPECT_EQ(HttpMethodFromValue(8), HttpMethod::kCustom);
  EXPECT_EQ(HttpMethodFromValue(9), HttpMethod::kNone);
  EXPECT_EQ(HttpMethodFromValue(0xFFFFFFFFu), HttpMethod::kNone);
  EXPECT_STREQ(HttpMethodText(HttpMethod::kDelete), "DELETE");
  EXPECT_STREQ(HttpMethodText(HttpMethod::kOptions), "OPTIONS");
  EXPECT_STREQ(HttpMethodText(HttpMethod::kPut), "PUT");
  EXPECT_STREQ(HttpMethodText(HttpMethod::kNone), "");
  EXPECT_STREQ(HttpMethodText(static_cast<HttpMethod>(42)), "");
  EXPECT_STREQ(HttpMethodLowerText(HttpMethod::kOptions), "options");
  EXPECT_STREQ(HttpMethodLowerText(HttpMethod::kCustom), "");
  EXPECT_EQ(HttpMethodRecordValue(HttpMethod::kCustom), 8u);
  EXPECT_EQ(HttpMethodRecordValue(static_cast<HttpMethod>(9)), 0u);
  // A record's custom method carries its own name; only that method uses it.
  EXPECT_EQ(HttpMethodRecordText(kMethodCustom, "FETCH"), "FETCH");
  EXPECT_EQ(HttpMethodRecordText(kMethodGet, "FETCH"), "GET");
  EXPECT_EQ(HttpMethodRecordText(9, "FETCH"), "");
}

TEST(HttpMethodTest, TextsReadBackOnlyInUpperCase) {
  EXPECT_EQ(HttpMethodFromText("DELETE"), HttpMethod::kDelete);
  EXPECT_EQ(HttpMethodFromText("PUT"), HttpMethod::kPut);
  EXPECT_EQ(HttpMethodFromText("post"), HttpMethod::kNone);
  EXPECT_EQ(HttpMethodFromText(""), HttpMethod::kNone);
  EXPECT_EQ(HttpMethodFromText("CONNECT"), HttpMethod::kNone);
}

}  // namespace
}  // namespace Kestrel
