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
#include "tests/support/every_kind.h"
#include "util/counting_allocator.h"

namespace ConvertProbe {
enum class Color : int16_t { kRed = 1, kGreen = 2 };
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
}  // namespace ConvertProbe

VYN_STATIC_TYPE(ConvertProbe::Color, "enum ConvertProbe::Color");
VYN_STATIC_TYPE(ConvertProbe::Reversed, "struct ConvertProbe::Reversed");
VYN_STATIC_TYPE(ConvertProbe::Sparse, "struct ConvertProbe::Sparse");
VYN_STATIC_TYPE(ConvertProbe::Unregistered, "struct ConvertProbe::Unregistered");
VYN_STATIC_TYPE(ConvertProbe::HoldsUnregistered, "struct ConvertProbe::HoldsUnregistered");

namespace Kestrel {
namespace {

using namespace ConvertProbe;
using ::testing::ElementsAre;
using Testing::EveryKind;
using Testing::FilledEveryKind;
using ::testing::IsEmpty;
using Testing::Level;
using Testing::Wide;

void RegisterProbes(TypeRegistry& registry) {
  registry.RegisterEnum<Color>("Color").AddValue("Red", 1).AddValue("Green", 2);
  Testing::RegisterEveryKind(registry);
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

TEST(ConvertNative, StructFieldsComeOutInNameOrderWithTheirKinds) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    PropertyResult reversed;
    ConvertNative(reversed, Reversed{}, registry);
    ASSERT_TRUE(reversed.IsValid());
    EXPECT_THAT(FieldNames(reversed), ElementsAre("a", "b"));
    EXPECT_EQ(reversed.GetField("a").GetSigned(), 2);

    EveryKind value = FilledEveryKind();
    value.i8 = -1;
    value.u8 = 200;
    value.text = std::string("ab\0cd", 5);
    PropertyResult output;
    ConvertNative(output, value, registry);
    ASSERT_TRUE(output.IsValid()) << output.GetError();
    EXPECT_EQ(output.Size(), 27u);
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
    EXPECT_EQ(output.GetField("members").GetAt(1).GetField("id").GetUnsigned(), 2u);
    EXPECT_EQ(output.GetField("named").GetField("p").GetField("id").GetUnsigned(), 8u);
    EXPECT_EQ(output.GetField("member").GetField("children").GetAt(0).GetField("name").GetString(),
              "child");
    EXPECT_EQ(output.GetField("object").GetField("k").GetAt(1).GetString(), "deep");

    // Enums keep the identity of their type.
    const EnumValue level = output.GetField("level").GetEnum();
    EXPECT_EQ(level.value, 7);
    ASSERT_NE(level.type, nullptr);
    EXPECT_EQ(level.type->hash_code, StaticType::HashCode<Level>().hash_code);
    EXPECT_EQ(output.GetField("levels").GetAt(0).GetEnum().value, 0);
    EXPECT_EQ(output.GetField("levels").GetAt(0).GetEnum().type->hash_code,
              StaticType::HashCode<Level>().hash_code);
  });
}

// Container fields and elements are built in the output's own tree, not
// copied into it: every value below the root shares its store, and texts in
// vectors are still cut at their first NUL.
TEST(ConvertNative, ContainersAreBuiltInTheOutputsTree) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    EveryKind value = FilledEveryKind();
    value.texts = {"plain", std::string("b\0c", 3)};
    PropertyResult output;
    ConvertNative(output, value, registry);
    ASSERT_TRUE(output.IsValid()) << output.GetError();
    EXPECT_EQ(output.GetField("texts").GetAt(1).GetString(), "b");
    for (const char* name : {"texts", "members", "named", "grid", "object", "counts"}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(output.GetField(name).store(), output.store());
    }
    EXPECT_EQ(output.GetField("members").GetAt(1).store(), output.store());

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
    const EveryKind original = FilledEveryKind();
    PropertyResult output;
    ConvertNative(output, original, registry);
    ASSERT_TRUE(output.IsValid()) << output.GetError();
    BindingProperty property = std::move(output);

    PropertyResult status;
    EveryKind copy;
    AssignNative(status, copy, property, "<value>", registry);
    ASSERT_TRUE(status.IsValid()) << status.GetError();
    EXPECT_THAT(Testing::DifferentFields(copy, original), IsEmpty());
    EXPECT_EQ(copy.object.GetField("k").GetAt(1).GetString(), "deep");
    EXPECT_EQ(copy.object.GetField("k").Size(), 2u);
  });
}

TEST(ConvertNative, FieldConversionByRecord) {
  TypeRegistry registry;
  RegisterProbes(registry);
  const TypeRecord* everything = registry.FindType<EveryKind>();
  ASSERT_NE(everything, nullptr);
  const EveryKind value = FilledEveryKind();
  const auto* base = reinterpret_cast<const unsigned char*>(&value);

  PropertyResult output;
  output.SetError("stale");
  const FieldRecord* level = everything->FindField("level");
  ConvertField(output, base + level->offset, *level, registry);
  ASSERT_TRUE(output.IsValid());  // made valid first
  EXPECT_EQ(output.GetEnum().value, 7);

  const FieldRecord* u16 = everything->FindField("u16");
  ConvertField(output, base + u16->offset, *u16, registry);
  EXPECT_EQ(output.GetUnsigned(), 65535u);

  ConvertStruct(output, &value, nullptr, registry);
  EXPECT_EQ(output.GetError(), kUnregisteredConvertMessage);
}

}  // namespace
}  // namespace Kestrel
