#include "devhost/host/record_window.h"

#include <gtest/gtest.h>

#include <string>

namespace Kestrel::DevHost {
namespace {

TEST(RecordWindowTest, KeptRecordsKeepTheirNumbersAfterOthersAreDropped) {
  RecordWindow<std::string> window;
  for (const char* record : {"first", "second", "third"}) window.Add(record, 1, 2, 0);
  EXPECT_EQ(window.first_number(), 1u);
  EXPECT_EQ(window.end_number(), 3u);
  EXPECT_EQ(window.at_number(1), "second");
  EXPECT_EQ(window.at_number(2), "third");
  window.Clear();
  window.Add("fourth", 1, 2, 0);
  EXPECT_EQ(window.first_number(), 3u);
  EXPECT_EQ(window.at_number(3), "fourth");
}

}  // namespace
}  // namespace Kestrel::DevHost
