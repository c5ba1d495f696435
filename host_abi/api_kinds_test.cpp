#include "host_abi/api_kinds.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "host_abi/host_records.h"

namespace Kestrel {
namespace {

// What the host records carry, as host_records.h documents each field.
constexpr uint32_t kFirstRecordKind = 1;
constexpr uint32_t kLastRecordKind = 19;
constexpr uint32_t kLastRecordLocation = 5;

// Every number up to well past the ranges, and the far end of the field.
std::vector<uint32_t> NumbersToTry() {
  std::vector<uint32_t> numbers;
  for (uint32_t n = 0; n < 300; ++n) numbers.push_back(n);
  for (uint32_t n : {0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    numbers.push_back(n);
  }
  return numbers;
}

bool IsWireName(const std::string& name) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (!std::islower(static_cast<unsigned char>(c)) &&
        !std::isdigit(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

TEST(NativeKind, EveryKindARecordCarriesHasItsOwnNameAndRoundTrips) {
  std::set<std::string> names;
  for (const uint32_t number : NumbersToTry()) {
    SCOPED_TRACE(number);
    const bool carried = number >= kFirstRecordKind && number <= kLastRecordKind;
    const NativeKind kind = NativeKindFromValue(number);
    Client::CoreTypeId record{};
    record.kind = NativeKindRecordValue(static_cast<NativeKind>(number));
    if (!carried) {
      EXPECT_EQ(kind, NativeKind::kNone);
      EXPECT_EQ(record.kind, 0u);
      EXPECT_STREQ(NativeKindName(number), "");
      continue;
    }
    EXPECT_EQ(record.kind, number);
    EXPECT_EQ(NativeKindRecordValue(kind), number);
    EXPECT_EQ(NativeKindFromValue(record.kind), kind);
    const std::string name = NativeKindName(record.kind);
    EXPECT_TRUE(IsWireName(name)) << '"' << name << '"';
    EXPECT_EQ(name, NativeKindName(kind));
    EXPECT_TRUE(names.insert(name).second) << name << " names two kinds";
  }
  EXPECT_EQ(names.size(), kLastRecordKind - kFirstRecordKind + 1);
  EXPECT_EQ(kNativeKindCount, kLastRecordKind + 1);
  EXPECT_STREQ(NativeKindName(NativeKind::kNone), "");
}

TEST(ArgumentLocation, EveryLocationARecordCarriesRoundTripsAndThreeHasNoName) {
  std::set<std::string> names;
  for (const uint32_t number : NumbersToTry()) {
    SCOPED_TRACE(number);
    const bool carried = number <= kLastRecordLocation;
    Client::CoreArgumentLocationEntry entry{};
    entry.location = ArgumentLocationRecordValue(static_cast<ArgumentLocation>(number));
    EXPECT_EQ(entry.location, carried ? number : kLocationAny);
    const std::string name = ArgumentLocationName(number);
    // 3 is carried but means nothing, so it has no name.
    if (!carried || number == 3) {
      EXPECT_EQ(name, "");
      continue;
    }
    EXPECT_TRUE(IsWireName(name)) << '"' << name << '"';
    EXPECT_EQ(name, ArgumentLocationName(entry.location));
    EXPECT_TRUE(names.insert(name).second) << name << " names two locations";
  }
  EXPECT_EQ(names, (std::set<std::string>{"any", "query", "path", "header", "body"}));
  EXPECT_STREQ(ArgumentLocationName(kLocationHeader), "header");
}

}  // namespace
}  // namespace Kestrel
