#include "util/failure.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace Kestrel {
namespace {

// Group of tests: Failure.

TEST(FailureTest, DefaultHasCodeZeroAndNoMessage) {
  const Failure failure;
  EXPECT_EQ(failure.code(), 0);
  EXPECT_STREQ(failure.message(), "");
  EXPECT_FALSE(failure.has_message());
  EXPECT_FALSE(failure.owns_message());
  EXPECT_EQ(failure.ToText(), "");
}

TEST(FailureTest, MessageAloneHasCodeZero) {
  const Failure failure("Not found");
  EXPECT_EQ(failure.code(), 0);
  EXPECT_STREQ(failure.message(), "Not found");
  EXPECT_TRUE(failure.has_message());
  EXPECT_TRUE(failure.owns_message());
  EXPECT_EQ(failure.ToText(), "Not found (0)");
}

TEST(FailureTest, MessageIsFormatted) {
  const Failure failure(404, "Couldn't find '%1' in %2 of %3", "x", 3, int64_t{1} << 33);
  EXPECT_EQ(failure.code(), 404);
  EXPECT_STREQ(failure.message(), "Couldn't find 'x' in 3 of 8589934592");
  EXPECT_EQ(failure.ToText(), "Couldn't find 'x' in 3 of 8589934592 (404)");
  EXPECT_EQ(Failure("%1 and %2", "a", "b").ToText(), "a and b (0)");
  EXPECT_EQ(Failure(-5, "Negative").ToText(), "Negative (-5)");
  EXPECT_EQ(Failure(INT32_MIN, "Min").ToText(), "Min (-2147483648)");
}

TEST(FailureTest, EmptyMessageRendersAsEmptyText) {
  const Failure failure(500, "");
  EXPECT_EQ(failure.code(), 500);
  EXPECT_FALSE(failure.has_message());
  EXPECT_EQ(failure.ToText(), "");
}

TEST(FailureTest, StaticTextIsReferencedNotFormatted) {
  static const char kText[] = "100% static";
  const Failure failure(Failure::StaticText(), kText, 3);
  EXPECT_EQ(failure.message(), kText);
  EXPECT_FALSE(failure.owns_message());
  EXPECT_EQ(failure.code(), 3);
  EXPECT_EQ(failure.ToText(), "100% static (3)");
  const Failure without(Failure::StaticText(), nullptr);
  EXPECT_STREQ(without.message(), "");
  EXPECT_EQ(without.ToText(), "");
}

TEST(FailureTest, CopiesAndMovesKeepBothForms) {
  static const char kText[] = "static";
  const Failure owned(1, "owned %1", 1);
  const Failure borrowed(Failure::StaticText(), kText, 2);

  Failure copy_of_owned(owned);
  EXPECT_STREQ(copy_of_owned.message(), "owned 1");
  EXPECT_NE(copy_of_owned.message(), owned.message());
  EXPECT_EQ(copy_of_owned.code(), 1);
  Failure copy_of_borrowed(borrowed);
  EXPECT_EQ(copy_of_borrowed.message(), kText);

  Failure moved(std::move(copy_of_owned));
  EXPECT_STREQ(moved.message(), "owned 1");
  EXPECT_TRUE(moved.owns_message());

  // Assignment across the two forms, both ways, and onto itself.
  Failure target(Failure::StaticText(), kText);
  target = owned;
  EXPECT_STREQ(target.message(), "owned 1");
  EXPECT_TRUE(target.owns_message());
  target = borrowed;
  EXPECT_EQ(target.message(), kText);
  EXPECT_EQ(target.code(), 2);
  EXPECT_FALSE(target.owns_message());
  target = Failure(9, "again");
  EXPECT_STREQ(target.message(), "again");
  target = Failure(10, "over owned");
  EXPECT_STREQ(target.message(), "over owned");
  EXPECT_EQ(target.code(), 10);
  const Failure& alias = target;
  target = alias;
  EXPECT_STREQ(target.message(), "over owned");
  target = Failure();
  EXPECT_FALSE(target.has_message());
  EXPECT_EQ(target.code(), 0);
}

TEST(FailureTest, FormatsAsAnArgument) {
  EXPECT_EQ(FormatText("Request failed: %1", Failure(404, "Not found")),
            "Request failed: Not found (404)");
  const Failure inner(1, "inner");
  EXPECT_EQ(Failure(2, "outer: %1", inner).ToText(), "outer: inner (1) (2)");
}

// Group of tests: MaybeType.

MaybeType<int32_t> ParsePositive(int32_t value) {
  if (value <= 0) return Failure(400, "Not positive: %1", value);
  return value;
}

MaybeType<void> Check(bool ok) {
  if (!ok) return Failure(1, "Check failed");
  return {};
}

TEST(MaybeTypeTest, HoldsAValue) {
  MaybeType<int32_t> result = ParsePositive(5);
  ASSERT_TRUE(result.has_value());
  EXPECT_FALSE(result.is_failure());
  EXPECT_EQ(result.value(), 5);
  result.value() = 6;
  EXPECT_EQ(std::as_const(result).value(), 6);
  EXPECT_EQ(result.ToText(), "Success");
}

TEST(MaybeTypeTest, HoldsAFailure) {
  const MaybeType<int32_t> result = ParsePositive(-1);
  ASSERT_TRUE(result.is_failure());
  EXPECT_FALSE(result.has_value());
  EXPECT_EQ(result.failure().code(), 400);
  EXPECT_STREQ(result.failure().message(), "Not positive: -1");
  EXPECT_EQ(result.ToText(), "Not positive: -1 (400)");
}

TEST(MaybeTypeTest, CopiesMovesAndAssignsAcrossStates) {
  MaybeType<std::string> value(std::string("text"));
  MaybeType<std::string> failure(Failure(3, "bad"));

  MaybeType<std::string> copy(value);
  EXPECT_EQ(copy.value(), "text");
  MaybeType<std::string> moved(std::move(copy));
  EXPECT_EQ(moved.value(), "text");

  moved = failure;
  ASSERT_TRUE(moved.is_failure());
  EXPECT_EQ(moved.ToText(), "bad (3)");
  moved = value;
  ASSERT_TRUE(moved.has_value());
  EXPECT_EQ(moved.value(), "text");
  moved = MaybeType<std::string>(Failure(4, "worse"));
  EXPECT_EQ(moved.failure().code(), 4);
  moved = MaybeType<std::string>(std::string("back"));
  EXPECT_EQ(moved.value(), "back");
  const MaybeType<std::string>& alias = moved;
  moved = alias;
  EXPECT_EQ(moved.value(), "back");
}

// A value whose copy or move throws on request, counting constructions and
// destructions so that a second destruction or a lost object shows.
struct Fragile {
  static inline int constructed = 0;
  static inline int destroyed = 0;
  static inline bool copy_throws = false;
  static inline bool move_throws = false;

  explicit Fragile(int id) : id(id) { ++constructed; }
  Fragile(const Fragile& other) : id(other.id) {
    if (copy_throws) throw std::runtime_error("copy");
    ++constructed;
  }
  Fragile(Fragile&& other) noexcept(false) : id(other.id) {
    if (move_throws) throw std::runtime_error("move");
    ++constructed;
  }
  Fragile& operator=(const Fragile&) = default;
  Fragile& operator=(Fragile&&) = default;
  ~Fragile() { ++destroyed; }

  int id;
};

TEST(MaybeTypeTest, AssignmentWhoseCopyOrMoveThrowsKeepsTheTargetAndDestroysEachObjectOnce) {
  struct Case {
    const char* name;
    bool target_holds_value;
    bool by_move;  // else by copy
  };
  const Case kCases[] = {
      {"copy over a value", true, false},
      {"copy over a failure", false, false},
      {"move over a failure", false, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Fragile::constructed = Fragile::destroyed = 0;
    {
      MaybeType<Fragile> source(Fragile(2));
      MaybeType<Fragile> target = c.target_holds_value ? MaybeType<Fragile>(Fragile(1))
                                                       : MaybeType<Fragile>(Failure(7, "old"));
      (c.by_move ? Fragile::move_throws : Fragile::copy_throws) = true;
      if (c.by_move) {
        EXPECT_THROW(target = std::move(source), std::runtime_error);
      } else {
        EXPECT_THROW(target = source, std::runtime_error);
      }
      Fragile::copy_throws = Fragile::move_throws = false;
      ASSERT_EQ(target.has_value(), c.target_holds_value);
      if (c.target_holds_value) {
        EXPECT_EQ(target.value().id, 1);
      } else {
        EXPECT_EQ(target.ToText(), "old (7)");
      }
      EXPECT_EQ(source.value().id, 2);
      // Assignments that succeed still replace the content.
      target = source;
      EXPECT_EQ(target.value().id, 2);
      target = MaybeType<Fragile>(Failure(8, "new"));
      EXPECT_EQ(target.ToText(), "new (8)");
    }
    EXPECT_EQ(Fragile::destroyed, Fragile::constructed);
  }
}

// Each pattern matches within one line of the report: the simple regular
// expressions of the Windows build do not match across lines.
TEST(MaybeTypeDeathTest, ReadingWhatIsNotHeldStopsWithAReport) {
  const MaybeType<int32_t> failure = ParsePositive(-1);
  EXPECT_DEATH((void)failure.value(), "Function: MaybeType::value");
  EXPECT_DEATH((void)failure.value(),
               "Description: the result holds the failure 'Not positive: -1' \\(400\\)");
  MaybeType<int32_t> taken = ParsePositive(0);
  EXPECT_DEATH((void)taken.TakeValue(), "Function: MaybeType::TakeValue");
  const MaybeType<int32_t> value = ParsePositive(3);
  EXPECT_DEATH((void)value.failure(), "Expression: is_failure\\(\\)");
  EXPECT_DEATH((void)value.failure(), "Description: the result holds a value");
  const MaybeType<void> success;
  EXPECT_DEATH((void)success.failure(), "Expression: is_failure\\(\\)");
}

TEST(MaybeTypeTest, TakeValueMovesOut) {
  MaybeType<std::unique_ptr<int>> result(std::make_unique<int>(7));
  std::unique_ptr<int> taken = result.TakeValue();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(*taken, 7);
  EXPECT_EQ(result.value(), nullptr);

  MaybeType<std::vector<int>> vector(std::vector<int>{1, 2, 3});
  EXPECT_EQ(vector.TakeValue().size(), 3u);
}

TEST(MaybeTypeTest, VoidIsSuccessOrFailure) {
  const MaybeType<void> success;
  EXPECT_TRUE(success.has_value());
  EXPECT_FALSE(success.is_failure());
  EXPECT_EQ(success.ToText(), "Success");
  EXPECT_TRUE(Check(true).has_value());
  const MaybeType<void> failure = Check(false);
  ASSERT_TRUE(failure.is_failure());
  EXPECT_EQ(failure.failure().code(), 1);
  EXPECT_EQ(failure.ToText(), "Check failed (1)");
  MaybeType<void> copy = failure;
  EXPECT_EQ(copy.ToText(), "Check failed (1)");
  copy = success;
  EXPECT_TRUE(copy.has_value());
}

TEST(MaybeTypeTest, FailureWithoutMessageRendersEmpty) {
  const MaybeType<int> result{Failure()};
  EXPECT_TRUE(result.is_failure());
  EXPECT_EQ(result.ToText(), "");
}

TEST(MaybeTypeTest, FlagFollowsTheUnion) {
  // The one-byte flag after the union: no larger than the union plus padding
  // to the union's alignment (8 for int64_t on Windows, 4 on i386 Linux).
  EXPECT_LE(sizeof(MaybeType<int64_t>), std::max(sizeof(int64_t), sizeof(Failure)) +
                                            std::max(alignof(int64_t), alignof(Failure)));
  static_assert(std::is_nothrow_move_constructible_v<Failure>);
  static_assert(std::is_nothrow_move_constructible_v<MaybeType<int>>);
}

}  // namespace
}  // namespace Kestrel
