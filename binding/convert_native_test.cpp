#include "binding/convert_native.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/assign_native.h"
#include "binding/type_building.h"
#include "util/counting_allocator.h"

namespace ConvertProbe {
enum class Color : int16_t { kRed = 1, kGreen = 2 };
enum class Wide : int64_t { kLow = 1 };
struct Point {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const Point&) const = default;
};
// Registered with b before a.
struct Reversed {
  int32_t b = 1;
  int32_t a = 2;
};
struct Sparse {
  int32_t count = 0;
  std::string text;
  std::vector<int32_t> list;
  bool flag = false;
  double ratio = 0.0;
  Color color{};
};
struct Unregistered {
  int32_t x = 0;
};
struct HoldsUnregistered {
  int32_t first = 0;
  Unregistered nested;
};
struct Everything {
  bool flag = false;
  int8_t i8 = 0;
  uint8_t u8 = 0;
  int16_t i16 = 0;
  uint16_t u16 = 0;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  float f = 0;
  double d = 0;
  std::string text;
  Kestrel::BindingProperty object;
  std::vector<uint8_t> blob;
  std::vector<int32_t> numbers;
  std::vector<bool> bits;
  std::vector<std::string> texts;
  std::vector<std::vector<uint8_t>> blobs;
  Color color = Color::kRed;
  Wide wide = Wide::kLow;
  Point point;
  std::unordered_map<std::string, int64_t> counts;
  std::vector<Point> points;
  std::vector<Color> colors;
  std::vector<std::vector<uint16_t>> grid;
  std::unordered_map<std::string, Point> named_points;
};
}  // namespace ConvertProbe

VYN_STATIC_TYPE(ConvertProbe::Color, "enum ConvertProbe::Color");
VYN_STATIC_TYPE(ConvertProbe::Wide, "enum ConvertProbe::Wide");
VYN_STATIC_TYPE(ConvertProbe::Point, "struct ConvertProbe::Point");
VYN_STATIC_TYPE(ConvertProbe::Reversed, "struct ConvertProbe::Reversed");
VYN_STATIC_TYPE(ConvertProbe::Sparse, "struct ConvertProbe::Sparse");
VYN_STATIC_TYPE(ConvertProbe::Unregistered, "struct ConvertProbe::Unregistered");
VYN_STATIC_TYPE(ConvertProbe::HoldsUnregistered, "struct ConvertProbe::HoldsUnregistered");
VYN_STATIC_TYPE(ConvertProbe::Everything, "struct ConvertProbe::Everything");

namespace Kestrel {
namespace {

using namespace ConvertProbe;
using ::testing::ElementsAre;

void RegisterProbes(TypeRegistry& registry) {
  registry.RegisterEnum<Color>("Color").AddValue("Red", 1).AddValue("Green", 2);
  registry.RegisterEnum<Wide>("Wide").AddValue("Low", 1);
  registry.RegisterStruct<Point>("Point").AddField("x", &Point::x).AddField("y", &Point::y);
  registry.RegisterStruct<Reversed>("Reversed")
      .AddField("b", &Reversed::b)
      .AddField("a", &Reversed::a);
  registry.RegisterStruct<Sparse>("Sparse")
      .AddField("count", &Sparse::count, "", kFieldOmitIfZero)
      .AddField("text", &Sparse::text, "", kFieldOmitIfZero)
      .AddField("list", &Sparse::list, "", kFieldOmitIfZero)
      .AddField("flag", &Sparse::flag)
      .AddField("ratio", &Sparse::ratio, "", kFieldOmitIfZero)
      .AddField("color", &Sparse::color, "", kFieldOmitIfZero);
  registry.RegisterStruct<HoldsUnregistered>("HoldsUnregistered")
      .AddField("first", &HoldsUnregistered::first)
      .AddField("nested", &HoldsUnregistered::nested);
  registry.RegisterStruct<Everything>("Everything")
      .AddField("flag", &Everything::flag)
      .AddField("i8", &Everything::i8)
      .AddField("u8", &Everything::u8)
      .AddField("i16", &Everything::i16)
      .AddField("u16", &Everything::u16)
      .AddField("i32", &Everything::i32)
      .AddField("u32", &Everything::u32)
      .AddField("i64", &Everything::i64)
      .AddField("u64", &Everything::u64)
      .AddField("f", &Everything::f)
      .AddField("d", &Everything::d)
      .AddField("text", &Everything::text)
      .AddField("object", &Everything::object)
      .AddField("blob", &Everything::blob)
      .AddField("numbers", &Everything::numbers)
      .AddField("bits", &Everything::bits)
      .AddField("texts", &Everything::texts)
      .AddField("blobs", &Everything::blobs)
      .AddField("color", &Everything::color)
      .AddField("wide", &Everything::wide)
      .AddField("point", &Everything::point)
      .AddField("counts", &Everything::counts)
      .AddField("points", &Everything::points)
      .AddField("colors", &Everything::colors)
      .AddField("grid", &Everything::grid)
      .AddField("namedPoints", &Everything::named_points);
}

void ExpectNoLeak(const std::function<void()>& body) {
  body();
  const uint64_t before = ReadAllocatorCounters().live_bytes();
  body();
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), before);
}

std::vector<std::string> FieldNames(const BindingProperty& structure) {
  std::vector<std::string> names;
  structure.ForEachField(
      [&](std::string_view name, const BindingProperty&) { names.emplace_back(name); });
  return names;
}

Everything MakeEverything() {
  Everything value;
  value.flag = true;
  value.i8 = -128;
  value.u8 = 255;
  value.i16 = -32768;
  value.u16 = 65535;
  value.i32 = -2147483647 - 1;
  value.u32 = 4294967295u;
  value.i64 = -9223372036854775807 - 1;
  value.u64 = 18446744073709551615ull;
  value.f = 1.5f;
  value.d = -2.25e300;
  value.text = "text";
  value.object.Field("k").At(1).SetString("deep");
  value.blob = {0, 1, 255};
  value.numbers = {3, -4};
  value.bits = {true, false, true};
  value.texts = {"a", ""};
  value.blobs = {{9}, {}};
  value.color = Color::kGreen;
  value.wide = Wide::kLow;
  value.point = {5, -6};
  value.counts = {{"z", 1}, {"a", -2}};
  value.points = {{1, 2}, {3, 4}};
  value.colors = {Color::kRed, Color::kGreen};
  value.grid = {{1}, {}, {2, 3}};
  value.named_points = {{"p", {7, 8}}};
  return value;
}

void ExpectSameEverything(const Everything& got, const Everything& want) {
  EXPECT_EQ(got.flag, want.flag);
  EXPECT_EQ(got.i8, want.i8);
  EXPECT_EQ(got.u8, want.u8);
  EXPECT_EQ(got.i16, want.i16);
  EXPECT_EQ(got.u16, want.u16);
  EXPECT_EQ(got.i32, want.i32);
  EXPECT_EQ(got.u32, want.u32);
  EXPECT_EQ(got.i64, want.i64);
  EXPECT_EQ(got.u64, want.u64);
  EXPECT_EQ(got.f, want.f);
  EXPECT_EQ(got.d, want.d);
  EXPECT_EQ(got.text, want.text);
  EXPECT_EQ(got.object.GetField("k").GetAt(1).GetString(), "deep");
  EXPECT_EQ(got.object.GetField("k").Size(), 2u);
  EXPECT_EQ(got.blob, want.blob);
  EXPECT_EQ(got.numbers, want.numbers);
  EXPECT_EQ(got.bits, want.bits);
  EXPECT_EQ(got.texts, want.texts);
  EXPECT_EQ(got.blobs, want.blobs);
  EXPECT_EQ(got.color, want.color);
  EXPECT_EQ(got.wide, want.wide);
  EXPECT_EQ(got.point, want.point);
  EXPECT_EQ(got.counts, want.counts);
  EXPECT_EQ(got.points, want.points);
  EXPECT_EQ(got.colors, want.colors);
  EXPECT_EQ(got.grid, want.grid);
  EXPECT_EQ(got.named_points, want.named_points);
}

TEST(ConvertNative, StructFieldsComeOutInNameOrderWithTheirKinds) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    PropertyResult reversed;
    ConvertNative(reversed, Reversed{}, registry);
    ASSERT_TRUE(reversed.IsValid());
    EXPECT_THAT(FieldNames(reversed), ElementsAre("a", "b"));
    EXPECT_EQ(reversed.GetField("a").GetSigned(), 2);

    Everything value = MakeEverything();
    value.i8 = -1;
    value.u8 = 200;
    value.text = std::string("ab\0cd", 5);
    PropertyResult output;
    ConvertNative(output, value, registry);
    ASSERT_TRUE(output.IsValid()) << output.GetError();
    EXPECT_EQ(output.Size(), 26u);
    EXPECT_EQ(output.GetField("i8").kind(), PropertyKind::kSigned);
    EXPECT_EQ(output.GetField("i8").GetSigned(), -1);
    EXPECT_EQ(output.GetField("u8").kind(), PropertyKind::kUnsigned);
    EXPECT_EQ(output.GetField("u8").GetUnsigned(), 200u);
    EXPECT_EQ(output.GetField("f").GetDouble(), 1.5);
    EXPECT_EQ(output.GetField("text").GetString(), "ab");  // up to the first NUL
    EXPECT_EQ(output.GetField("blob").kind(), PropertyKind::kBlob);
    // A vector of uint8 inside a vector of blobs stays a blob; bits become bools.
    EXPECT_EQ(output.GetField("blobs").GetAt(0).kind(), PropertyKind::kBlob);
    EXPECT_EQ(output.GetField("bits").GetAt(1).kind(), PropertyKind::kBool);
    EXPECT_EQ(output.GetField("numbers").GetAt(1).GetSigned(), -4);
    EXPECT_EQ(output.GetField("grid").GetAt(2).GetAt(1).GetUnsigned(), 3u);
    EXPECT_THAT(FieldNames(output.GetField("counts")), ElementsAre("a", "z"));
    EXPECT_EQ(output.GetField("points").GetAt(1).GetField("y").GetSigned(), 4);
    EXPECT_EQ(output.GetField("namedPoints").GetField("p").GetField("x").GetSigned(), 7);
    EXPECT_EQ(output.GetField("object").GetField("k").GetAt(1).GetString(), "deep");

    // Enums keep the identity of their type.
    const EnumValue color = output.GetField("color").GetEnum();
    EXPECT_EQ(color.value, 2);
    ASSERT_NE(color.type, nullptr);
    EXPECT_EQ(color.type->hash_code, StaticType::HashCode<Color>().hash_code);
    EXPECT_EQ(output.GetField("colors").GetAt(0).GetEnum().value, 1);
    EXPECT_EQ(output.GetField("colors").GetAt(0).GetEnum().type->hash_code,
              StaticType::HashCode<Color>().hash_code);
  });
}

// Container fields and elements are built in the output's own tree, not
// copied into it: every value below the root shares its store, and texts in
// vectors are still cut at their first NUL.
TEST(ConvertNative, ContainersAreBuiltInTheOutputsTree) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    Everything value = MakeEverything();
    value.texts = {"plain", std::string("b\0c", 3)};
    PropertyResult output;
    ConvertNative(output, value, registry);
    ASSERT_TRUE(output.IsValid()) << output.GetError();
    EXPECT_EQ(output.GetField("texts").GetAt(1).GetString(), "b");
    for (const char* name : {"texts", "points", "namedPoints", "grid", "object", "counts"}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(output.GetField(name).store(), output.store());
    }
    EXPECT_EQ(output.GetField("points").GetAt(1).store(), output.store());

    // A value of another tree is moved as by assignment.
    BindingProperty other;
    other.SetString("elsewhere");
    BindingProperty holder;
    holder.Field("m").AdoptFromSameTree(other);
    EXPECT_EQ(holder.GetField("m").GetString(), "elsewhere");
    EXPECT_TRUE(other.IsEmpty());
  });
}

TEST(ConvertNative, OmitIfZeroLeavesOutZeroValuesOnly) {
  TypeRegistry registry;
  RegisterProbes(registry);
  PropertyResult zero;
  ConvertNative(zero, Sparse{}, registry);
  ASSERT_TRUE(zero.IsValid());
  // The unflagged false bool stays.
  EXPECT_THAT(FieldNames(zero), ElementsAre("flag"));

  Sparse filled;
  filled.count = 1;
  filled.text = "x";
  filled.list = {0};
  filled.ratio = std::nan("");  // NaN is not zero
  filled.color = Color::kRed;
  PropertyResult full;
  ConvertNative(full, filled, registry);
  EXPECT_THAT(FieldNames(full), ElementsAre("color", "count", "flag", "list", "ratio", "text"));
  EXPECT_EQ(full.Field("color").GetEnum().value, 1);
  EXPECT_EQ(full.Field("text").GetString(), "x");

  Sparse negative_zero;
  negative_zero.ratio = -0.0;
  PropertyResult still_zero;
  ConvertNative(still_zero, negative_zero, registry);
  EXPECT_THAT(FieldNames(still_zero), ElementsAre("flag"));
}

TEST(ConvertNative, EnumsWithoutAnEnumeratorStillConvert) {
  TypeRegistry registry;
  RegisterProbes(registry);
  PropertyResult output;
  ConvertNative(output, static_cast<Color>(9), registry);
  ASSERT_TRUE(output.IsValid());
  EXPECT_EQ(output.GetEnum().value, 9);

  // Eight-byte enums give their low 32 bits; sign extension from narrower ones.
  PropertyResult wide;
  ConvertNative(wide, static_cast<Wide>((int64_t{5} << 32) | 3), registry);
  EXPECT_EQ(wide.GetEnum().value, 3);
  PropertyResult narrow;
  ConvertNative(narrow, static_cast<Color>(-2), registry);
  EXPECT_EQ(narrow.GetEnum().value, -2);

  unsigned char bytes[8] = {0xFE, 0xFF, 0xFF, 0xFF, 0x07, 0, 0, 0};
  EXPECT_EQ(ReadEnumNumber(bytes, 1), -2);
  EXPECT_EQ(ReadEnumNumber(bytes, 2), -2);
  EXPECT_EQ(ReadEnumNumber(bytes, 4), -2);
  EXPECT_EQ(ReadEnumNumber(bytes, 8), -2);
  EXPECT_EQ(ReadEnumNumber(bytes, 3), 0);
}

TEST(ConvertNative, UnregisteredStructFailsTheWholeConversion) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    const std::string message = kUnregisteredConvertMessage;
    EXPECT_EQ(message, "Couldn't convert native value because it's an unregistered structure.");

    PropertyResult top;
    ConvertNative(top, Unregistered{}, registry);
    EXPECT_FALSE(top.IsValid());
    EXPECT_EQ(top.GetError(), message);

    PropertyResult nested;
    ConvertNative(nested, HoldsUnregistered{}, registry);
    EXPECT_FALSE(nested.IsValid());
    EXPECT_EQ(nested.GetError(), message);

    PropertyResult in_vector;
    ConvertNative(in_vector, std::vector<HoldsUnregistered>(2), registry);
    EXPECT_EQ(in_vector.GetError(), message);

    PropertyResult in_map;
    ConvertNative(in_map, std::unordered_map<std::string, Unregistered>{{"k", {}}}, registry);
    EXPECT_EQ(in_map.GetError(), message);

    // Empty containers of unregistered structs have nothing to fail on.
    PropertyResult empty_vector;
    ConvertNative(empty_vector, std::vector<Unregistered>{}, registry);
    EXPECT_TRUE(empty_vector.IsValid());
    EXPECT_EQ(empty_vector.kind(), PropertyKind::kCollection);
  });
}

TEST(ConvertNative, RoundTripThroughAPropertyIsUnchanged) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    const Everything original = MakeEverything();
    PropertyResult output;
    ConvertNative(output, original, registry);
    ASSERT_TRUE(output.IsValid()) << output.GetError();
    BindingProperty property = std::move(output);

    PropertyResult status;
    Everything copy;
    AssignNative(status, copy, property, "<value>", registry);
    ASSERT_TRUE(status.IsValid()) << status.GetError();
    ExpectSameEverything(copy, original);
  });
}

TEST(ConvertNative, FieldConversionByRecord) {
  TypeRegistry registry;
  RegisterProbes(registry);
  const TypeRecord* everything = registry.FindType<Everything>();
  ASSERT_NE(everything, nullptr);
  const Everything value = MakeEverything();
  const auto* base = reinterpret_cast<const unsigned char*>(&value);

  PropertyResult output;
  output.SetError("stale");
  const FieldRecord* color = everything->FindField("color");
  ConvertField(output, base + color->offset, *color, registry);
  ASSERT_TRUE(output.IsValid());  // made valid first
  EXPECT_EQ(output.GetEnum().value, 2);

  const FieldRecord* u16 = everything->FindField("u16");
  ConvertField(output, base + u16->offset, *u16, registry);
  EXPECT_EQ(output.GetUnsigned(), 65535u);

  ConvertStruct(output, &value, nullptr, registry);
  EXPECT_EQ(output.GetError(), kUnregisteredConvertMessage);
}

}  // namespace
}  // namespace Kestrel
