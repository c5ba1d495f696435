#include "fuzz/fuzz_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "formats/json_reader.h"
#include "formats/json_writer.h"

namespace Kestrel::Fuzz {
namespace {

TEST(FuzzSupport, WithinUlpsCountsRepresentableDoubles) {
  EXPECT_TRUE(WithinUlps(0.0, -0.0, 0));
  const double one = 1.0;
  double next = one;
  for (int i = 0; i < 3; ++i) next = std::nextafter(next, 2.0);
  EXPECT_TRUE(WithinUlps(one, next, 3));
  EXPECT_FALSE(WithinUlps(one, std::nextafter(next, 2.0), 3));
  // Across zero: the smallest positive and negative subnormals are two apart.
  const double tiny = std::numeric_limits<double>::denorm_min();
  EXPECT_TRUE(WithinUlps(tiny, -tiny, 2));
  EXPECT_FALSE(WithinUlps(tiny, -tiny, 1));
  EXPECT_FALSE(WithinUlps(-1.0, 1.0, 3));
  EXPECT_FALSE(WithinUlps(std::nan(""), std::nan(""), 1000));
}

TEST(FuzzSupport, FromJsonComparisonDemandsSameKindsAndValues) {
  BindingProperty original;
  original.Field("a").SetUnsigned(1);
  original.Field("b").At(1).SetString("x");
  original.Field("c").SetDouble(0.1);

  BindingProperty same(original);
  same.Field("c").SetDouble(std::nextafter(0.1, 1.0));
  EXPECT_EQ(CompareRoundTrip(original, same, RoundTrip::kFromJson), "");

  BindingProperty signed_instead(original);
  signed_instead.Field("a").SetSigned(1);
  EXPECT_EQ(CompareRoundTrip(original, signed_instead, RoundTrip::kFromJson),
            ".a: unsigned 1 (written as unsigned, read back as signed)");

  BindingProperty other_element(original);
  other_element.Field("b").At(1).SetString("y");
  EXPECT_EQ(CompareRoundTrip(original, other_element, RoundTrip::kFromJson),
            ".b[1]: string \"x\" read back as \"y\" (written as string, read back as string)");

  BindingProperty longer(original);
  longer.Field("b").Append();
  EXPECT_NE(
      CompareRoundTrip(original, longer, RoundTrip::kFromJson).find("2 elements read back with 3"),
      std::string::npos);

  BindingProperty renamed;
  renamed.Field("a").SetUnsigned(1);
  renamed.Field("b").At(1).SetString("x");
  renamed.Field("d").SetDouble(0.1);
  EXPECT_NE(CompareRoundTrip(original, renamed, RoundTrip::kFromJson)
                .find("field \"c\" read back as \"d\""),
            std::string::npos);

  // "-0" is the one JSON text that reads as a signed 0; written back it is
  // "0", which reads unsigned. Any other signed number keeps its kind.
  BindingProperty minus_zero;
  minus_zero.SetSigned(0);
  BindingProperty unsigned_zero;
  unsigned_zero.SetUnsigned(0);
  EXPECT_EQ(CompareRoundTrip(minus_zero, unsigned_zero, RoundTrip::kFromJson), "");
  PropertyResult minus_zero_list = ParseJson("[1, -0, 4294967295,1, 1.5]");
  ASSERT_TRUE(minus_zero_list.IsValid());
  EXPECT_EQ(CompareRoundTrip(minus_zero_list, ParseJson(WriteJson(minus_zero_list)),
                             RoundTrip::kFromJson),
            "");
  PropertyResult out_of_range = ParseJson("[3e308, -0.0, 5e-324]");
  ASSERT_TRUE(out_of_range.IsValid());
  EXPECT_EQ(
      CompareRoundTrip(out_of_range, ParseJson(WriteJson(out_of_range)), RoundTrip::kFromJson), "");
  BindingProperty signed_one;
  signed_one.SetSigned(1);
  BindingProperty unsigned_one;
  unsigned_one.SetUnsigned(1);
  EXPECT_EQ(CompareRoundTrip(signed_one, unsigned_one, RoundTrip::kFromJson),
            "<root>: signed 1 (written as signed, read back as unsigned)");

  BindingProperty root_scalar;
  root_scalar.SetBool(true);
  EXPECT_EQ(CompareRoundTrip(original, root_scalar, RoundTrip::kFromJson),
            "<root>: structure (written as structure, read back as bool)");
}

TEST(FuzzSupport, OtherFormatComparisonAllowsWhatJsonCannotHold) {
  BindingProperty original;
  original.Field("n").SetSigned(5);
  original.Field("m").SetSigned(-5);
  const std::vector<uint8_t> bytes = {'a', 'b', 'c'};
  original.Field("blob").SetBlob(bytes.data(), bytes.size());
  original.Field("nan").SetDouble(std::nan(""));
  original.Field("s").SetStringFullLength(std::string_view("ab\0cd", 5));

  BindingProperty reread;
  reread.Field("n").SetUnsigned(5);
  reread.Field("m").SetSigned(-5);
  reread.Field("blob").SetString("YWJj");
  reread.Field("nan");
  reread.Field("s").SetString("ab");
  EXPECT_EQ(CompareRoundTrip(original, reread, RoundTrip::kFromOtherFormat), "");
  // None of these allowances holds for a tree that came from JSON.
  EXPECT_NE(CompareRoundTrip(original, reread, RoundTrip::kFromJson), "");

  BindingProperty negative_as_unsigned(reread);
  negative_as_unsigned.Field("m").SetUnsigned(5);
  EXPECT_EQ(CompareRoundTrip(original, negative_as_unsigned, RoundTrip::kFromOtherFormat),
            ".m: signed -5 (written as signed, read back as unsigned)");

  // Trees compared without passing through JSON keep blobs and NaN as they are.
  BindingProperty unchanged(original);
  EXPECT_EQ(CompareRoundTrip(original, unchanged, RoundTrip::kFromOtherFormat), "");
  unchanged.Field("blob").SetBlob(bytes.data(), 2);
  EXPECT_NE(CompareRoundTrip(original, unchanged, RoundTrip::kFromOtherFormat), "");

  BindingProperty wrong_base64(reread);
  wrong_base64.Field("blob").SetString("YWJk");
  EXPECT_NE(CompareRoundTrip(original, wrong_base64, RoundTrip::kFromOtherFormat), "");
}

TEST(FuzzSupport, RoundTripThroughJsonKeepsTrees) {
  BindingProperty tree;
  tree.Field("list").At(0).SetDouble(1e30);
  tree.Field("list").At(1).SetSigned(-3);
  tree.Field("list").At(3).SetString("tab\there");
  tree.Field("flag").SetBool(false);
  tree.Field("big").SetUnsigned(UINT64_MAX);
  CheckJsonRoundTrip(tree, RoundTrip::kFromJson);
  CheckJsonRoundTrip(BindingProperty(), RoundTrip::kFromJson);
  EXPECT_DEATH(CheckNoDifference("x: differs", "tree"), "fuzz check failed: tree: x: differs");
  EXPECT_DEATH(Check(false, "planted"), "fuzz check failed: planted");
}

TEST(FuzzSupport, FuzzInputReadsBigEndianAndStopsAtTheEnd) {
  const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 3, 'a', 'b'};
  FuzzInput input(data, sizeof data);
  EXPECT_EQ(input.ReadU32(), 0x01020304u);
  EXPECT_EQ(input.ReadByte(), 0x05);
  // Length 3 asked for, two bytes left.
  EXPECT_EQ(input.ReadText(10), "ab");
  EXPECT_TRUE(input.empty());
  EXPECT_EQ(input.ReadU64(), 0u);
  EXPECT_EQ(input.ReadText(10), "");
  EXPECT_EQ(input.ReadRest(), "");

  const uint8_t scaled[] = {255, 'x', 'y', 'z'};
  FuzzInput long_text(scaled, sizeof scaled);
  EXPECT_EQ(long_text.ReadText(1000), "xyz");
}

}  // namespace
}  // namespace Kestrel::Fuzz
