#include "binding/assign_native.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/type_building.h"
#include "util/counting_allocator.h"

namespace AssignProbe {
enum class Letter : int32_t { kA = 1, kB = 2 };
enum class Level : int8_t { kLow = -1, kZero = 0, kHigh = 100 };
struct Inner {
  int32_t b = 0;
};
struct Outer {
  Inner a;
};
struct Triple {
  int32_t a = 7;
  int32_t b = 8;
  int32_t c = 9;
};
struct WithRequired {
  int32_t must = 5;
  int32_t may = 6;
};
struct Containers {
  std::vector<Inner> inners;
  std::vector<Letter> letters;
  std::vector<std::vector<int16_t>> grid;
  std::unordered_map<std::string, Inner> inner_map;
  std::vector<std::vector<uint8_t>> blobs;
  Level level = Level::kZero;
};
struct Unregistered {
  int32_t x = 0;
};
// Registered before its nested type, so the field keeps no element record.
struct EarlyOuter {
  Inner inner;
};
}  // namespace AssignProbe

VYN_STATIC_TYPE(AssignProbe::Letter, "enum AssignProbe::Letter");
VYN_STATIC_TYPE(AssignProbe::Level, "enum AssignProbe::Level");
VYN_STATIC_TYPE(AssignProbe::Inner, "struct AssignProbe::Inner");
VYN_STATIC_TYPE(AssignProbe::Outer, "struct AssignProbe::Outer");
VYN_STATIC_TYPE(AssignProbe::Triple, "struct AssignProbe::Triple");
VYN_STATIC_TYPE(AssignProbe::WithRequired, "struct AssignProbe::WithRequired");
VYN_STATIC_TYPE(AssignProbe::Containers, "struct AssignProbe::Containers");
VYN_STATIC_TYPE(AssignProbe::Unregistered, "struct AssignProbe::Unregistered");
VYN_STATIC_TYPE(AssignProbe::EarlyOuter, "struct AssignProbe::EarlyOuter");

namespace Kestrel {
namespace {

using namespace AssignProbe;
using ::testing::ElementsAre;

void RegisterProbes(TypeRegistry& registry) {
  registry.RegisterStruct<EarlyOuter>("EarlyOuter").AddField("inner", &EarlyOuter::inner);
  registry.RegisterEnum<Letter>("Letter").AddValue("A", 1).AddValue("B", 2);
  registry.RegisterEnum<Level>("Level").AddValue("Low", -1).AddValue("Zero", 0).AddValue("High",
                                                                                         100);
  registry.RegisterStruct<Inner>("Inner").AddField("b", &Inner::b);
  registry.RegisterStruct<Outer>("Outer").AddField("a", &Outer::a);
  registry.RegisterStruct<Triple>("Triple")
      .AddField("a", &Triple::a)
      .AddField("b", &Triple::b)
      .AddField("c", &Triple::c);
  registry.RegisterStruct<WithRequired>("WithRequired")
      .AddField("must", &WithRequired::must, "", kFieldRequired)
      .AddField("may", &WithRequired::may);
  registry.RegisterStruct<Containers>("Containers")
      .AddField("inners", &Containers::inners)
      .AddField("letters", &Containers::letters)
      .AddField("grid", &Containers::grid)
      .AddField("innerMap", &Containers::inner_map)
      .AddField("blobs", &Containers::blobs)
      .AddField("level", &Containers::level);
}

// Input builders.
BindingProperty Empty() {
  return {};
}
BindingProperty Bool(bool v) {
  BindingProperty p;
  p.SetBool(v);
  return p;
}
BindingProperty Signed(int64_t v) {
  BindingProperty p;
  p.SetSigned(v);
  return p;
}
BindingProperty Unsigned(uint64_t v) {
  BindingProperty p;
  p.SetUnsigned(v);
  return p;
}
BindingProperty Float(double v) {
  BindingProperty p;
  p.SetDouble(v);
  return p;
}
BindingProperty Str(std::string_view v) {
  BindingProperty p;
  p.SetString(v);
  return p;
}
BindingProperty Blob(std::vector<uint8_t> v) {
  BindingProperty p;
  p.SetBlob(std::move(v));
  return p;
}
BindingProperty Enum(int32_t v, const StaticTypeInfo* type = &StaticType::HashCode<Letter>()) {
  BindingProperty p;
  p.SetEnum(EnumValue{v, type});
  return p;
}
BindingProperty Collection(std::vector<BindingProperty> items) {
  BindingProperty p;
  p.MakeCollection();
  for (std::size_t i = 0; i < items.size(); ++i) p.At(i) = items[i];
  return p;
}
BindingProperty Structure(std::vector<std::pair<std::string, BindingProperty>> fields) {
  BindingProperty p;
  p.MakeStructure();
  for (auto& [name, value] : fields) p.Field(name) = value;
  return p;
}

// Assigns `input` to a fresh T named "v"; returns the native value and the message.
template <class T>
std::pair<T, std::string> Assign(const BindingProperty& input, TypeRegistry& registry,
                                 T initial = T{}) {
  PropertyResult status;
  T native = initial;
  AssignNative(status, native, input, "v", registry);
  EXPECT_EQ(status.IsValid(), status.GetError().empty());
  return {native, std::string(status.GetError())};
}

template <class T>
struct Case {
  const char* what;
  BindingProperty input;
  T expected;           // the stored value, also on failure
  const char* message;  // "" when the assignment succeeds
};

template <class T>
void RunCases(const std::vector<Case<T>>& cases) {
  TypeRegistry registry;
  RegisterProbes(registry);
  for (const Case<T>& c : cases) {
    SCOPED_TRACE(c.what);
    auto [value, message] = Assign<T>(c.input, registry, T{});
    EXPECT_EQ(message, c.message);
    if constexpr (std::is_floating_point_v<T>) {
      if (std::isnan(c.expected)) {
        EXPECT_TRUE(std::isnan(value));
        continue;
      }
    }
    EXPECT_EQ(value, c.expected);
  }
}

// Runs `body` twice and checks that the second run leaves no live bytes behind
// (the first run creates the lazily made statics).
void ExpectNoLeak(const std::function<void()>& body) {
  body();
  const uint64_t before = ReadAllocatorCounters().live_bytes();
  body();
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), before);
}

constexpr double kTwo63 = 9223372036854775808.0;
constexpr double kTwo64 = 18446744073709551616.0;

TEST(AssignNative, SignedIntegerRules) {
  ExpectNoLeak([] {
    RunCases<int8_t>({
        {"hex text at the maximum", Str("0x7F"), 127, ""},
        {"signed at the maximum", Signed(127), 127, ""},
        {"signed at the minimum", Signed(-128), -128, ""},
        {"unsigned at the maximum", Unsigned(127), 127, ""},
        {"enum at the maximum", Enum(127), 127, ""},
        {"hex text past the maximum", Str("0x80"), 0,
         "Value 0x80 for 'v' of type int8 is out of range"},
        {"octal text", Str("-017"), -15, ""},
        {"text with blanks and sign", Str("  +12"), 12, ""},
        {"signed below minimum", Signed(-129), 0,
         "Value -129 for 'v' of type int8 is out of range"},
        {"unsigned above maximum", Unsigned(128), 0,
         "Value 128 for 'v' of type int8 is out of range"},
        {"enum above maximum", Enum(200), 0, "Value 200 for 'v' of type int8 is out of range"},
        {"enum in range", Enum(-5), -5, ""},
        {"double truncated", Float(-127.9), -127, ""},
        {"double below minimum", Float(-128.5), 0,
         "Value -128.5 for 'v' of type int8 is out of range"},
    });
    RunCases<int32_t>({
        {"trailing letters", Str("12abc"), 0,
         "Value 12abc for 'v' of type int32 is in an incorrect format"},
        {"empty text is zero", Str(""), 0, ""},
        {"double 3.9", Float(3.9), 3, ""},
        {"double -3.9", Float(-3.9), -3, ""},
        {"double far out", Float(1e10), 0, "Value 1e+10 for 'v' of type int32 is out of range"},
        {"NaN passes the range test and stores 0", Float(std::nan("")), 0, ""},
        {"text overflow", Str("99999999999999999999"), 0,
         "Value 99999999999999999999 for 'v' of type int32 is out of range"},
        {"empty input", Empty(), 0, "A value for 'v' is required."},
        {"bool input", Bool(true), 0,
         "Couldn't assign value to 'v' of type int32 because the input is of an invalid type "
         "bool."},
        {"blob input", Blob({1}), 0,
         "Couldn't assign value to 'v' of type int32 because the input is of an invalid type "
         "blob."},
        {"collection input", Collection({Signed(1)}), 0,
         "Couldn't assign value to 'v' of type int32 because the input is of an invalid type "
         "collection."},
        {"structure input", Structure({{"x", Signed(1)}}), 0,
         "Couldn't assign value to 'v' of type int32 because the input is of an invalid type "
         "structure."},
    });
    RunCases<int64_t>({
        {"minimum", Signed(std::numeric_limits<int64_t>::min()),
         std::numeric_limits<int64_t>::min(), ""},
        {"unsigned 2^63", Unsigned(9223372036854775808ull), 0,
         "Value 9223372036854775808 for 'v' of type int64 is out of range"},
        {"double 2^63 clamps to the maximum", Float(kTwo63), std::numeric_limits<int64_t>::max(),
         ""},
        {"double -2^63 is exact", Float(-kTwo63), std::numeric_limits<int64_t>::min(), ""},
        {"text minimum", Str("-9223372036854775808"), std::numeric_limits<int64_t>::min(), ""},
        {"text past maximum", Str("9223372036854775808"), 0,
         "Value 9223372036854775808 for 'v' of type int64 is out of range"},
    });
  });
}

TEST(AssignNative, UnsignedIntegerRules) {
  ExpectNoLeak([] {
    RunCases<uint8_t>({
        {"double 255.9 is above the maximum before truncation", Float(255.9), 0,
         "Value 255.9 for 'v' of type uint8 is out of range"},
        {"double 254.9 truncated", Float(254.9), 254, ""},
        {"negative double", Float(-0.5), 0, "Value -0.5 for 'v' of type uint8 is out of range"},
        {"negative enum", Enum(-1), 0, "Value -1 for 'v' of type uint8 is out of range"},
        {"signed in range", Signed(200), 200, ""},
        {"string input", Str("0xFF"), 255, ""},
        {"string not a number", Str("x"), 0,
         "Value x for 'v' of type uint8 is in an incorrect format"},
    });
    RunCases<uint16_t>({
        {"signed -1", Signed(-1), 0, "Value -1 for 'v' of type uint16 is out of range"},
        {"unsigned above maximum", Unsigned(65536), 0,
         "Value 65536 for 'v' of type uint16 is out of range"},
        {"bool input", Bool(false), 0,
         "Couldn't assign value to 'v' of type uint16 because the input is of an invalid type "
         "bool."},
    });
    RunCases<uint32_t>({
        {"minus zero text", Str("-0"), 0, "Value -0 for 'v' of type uint32 is out of range"},
        {"blank then minus", Str(" -1"), 0, "Value  -1 for 'v' of type uint32 is out of range"},
        {"maximum text", Str("4294967295"), 4294967295u, ""},
        {"empty input", Empty(), 0, "A value for 'v' is required."},
    });
    RunCases<uint64_t>({
        {"maximum", Unsigned(std::numeric_limits<uint64_t>::max()),
         std::numeric_limits<uint64_t>::max(), ""},
        {"text overflow", Str("18446744073709551616"), 0,
         "Value 18446744073709551616 for 'v' of type uint64 is out of range"},
        {"double 2^64 clamps to the maximum", Float(kTwo64), std::numeric_limits<uint64_t>::max(),
         ""},
        {"NaN stores 0", Float(std::nan("")), 0, ""},
    });
  });
}

TEST(AssignNative, FloatingRules) {
  ExpectNoLeak([] {
    RunCases<float>({
        {"double beyond single", Float(1e39), 0.0f,
         "Value 1e+39 for 'v' of type float is out of range"},
        {"text underflow", Str("1e-400"), 0.0f,
         "Value 1e-400 for 'v' of type float is out of range"},
        {"signed 2^62", Signed(int64_t{1} << 62), 4611686018427387904.0f, ""},
        {"infinity", Float(std::numeric_limits<double>::infinity()), 0.0f,
         "Value inf for 'v' of type float is out of range"},
        {"enum", Enum(2), 2.0f, ""},
    });
    RunCases<double>({
        {"text", Str("2.5"), 2.5, ""},
        {"empty text", Str(""), 0.0, ""},
        {"trailing text", Str("2.5x"), 0.0,
         "Value 2.5x for 'v' of type double is in an incorrect format"},
        {"text overflow", Str("1e400"), 0.0, "Value 1e400 for 'v' of type double is out of range"},
        {"unsigned maximum", Unsigned(std::numeric_limits<uint64_t>::max()), kTwo64, ""},
        {"NaN passes", Float(std::nan("")), std::nan(""), ""},
        {"bool input", Bool(true), 0.0,
         "Couldn't assign value to 'v' of type double because the input is of an invalid type "
         "bool."},
        {"structure input", Structure({}), 0.0,
         "Couldn't assign value to 'v' of type double because the input is of an invalid type "
         "structure."},
    });
  });
}

TEST(AssignNative, BoolRules) {
  RunCases<bool>({
      {"bool", Bool(true), true, ""},
      {"text true", Str("true"), true, ""},
      {"text 1", Str("1"), true, ""},
      {"text false", Str("false"), false, ""},
      {"text 0", Str("0"), false, ""},
      {"upper case", Str("TRUE"), false,
       "Value TRUE for 'v' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"longer text", Str("truex"), false,
       "Value truex for 'v' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {"signed 1", Signed(1), false,
       "Couldn't assign value to 'v' of type bool because the input is of an invalid type "
       "signed."},
      {"enum", Enum(1), false,
       "Couldn't assign value to 'v' of type bool because the input is of an invalid type enum."},
      {"empty", Empty(), false, "A value for 'v' is required."},
  });
}

TEST(AssignNative, EnumRules) {
  ExpectNoLeak([] {
    RunCases<Letter>({
        {"name", Str("B"), Letter::kB, ""},
        {"number text", Str("2"), Letter::kB, ""},
        {"hex number text", Str("0x2"), Letter::kB, ""},
        {"unknown number text", Str("7"), Letter{},
         "7 is not a valid Letter enumeration value for 'v'."},
        {"name with other case", Str("b"), Letter{},
         "b is not a valid Letter enumeration value for 'v'."},
        {"number text with junk", Str("2x"), Letter{},
         "2x is not a valid Letter enumeration value for 'v'."},
        {"empty text without a zero enumerator", Str(""), Letter{},
         " is not a valid Letter enumeration value for 'v'."},
        {"unsigned 2", Unsigned(2), Letter::kB, ""},
        {"unsigned 2^32 + 2 keeps the low bits", Unsigned((uint64_t{1} << 32) + 2), Letter::kB, ""},
        {"unknown unsigned", Unsigned((uint64_t{1} << 32) + 7), Letter{},
         "4294967303 is not a valid Letter enumeration value for 'v'."},
        {"negative signed", Signed(-5), Letter{},
         "-5 is not a valid Letter enumeration value for 'v'."},
        {"enum of another type", Enum(1, &StaticType::HashCode<Level>()), Letter::kA, ""},
        {"unknown enum", Enum(9), Letter{}, "9 is not a valid Letter enumeration value for 'v'."},
        {"float", Float(1.0), Letter{},
         "Couldn't assign value to 'v' of enum type because the input is of an invalid type "
         "float."},
        {"bool", Bool(true), Letter{},
         "Couldn't assign value to 'v' of enum type because the input is of an invalid type "
         "bool."},
        {"empty", Empty(), Letter{}, "A value for 'v' is required."},
    });
    RunCases<Level>({
        {"empty text finds the zero enumerator", Str(""), Level::kZero, ""},
        {"negative one-byte enumerator", Str("Low"), Level::kLow, ""},
        {"number", Signed(100), Level::kHigh, ""},
    });
  });
}

TEST(AssignNative, StringBlobAndObjectRules) {
  ExpectNoLeak([] {
    RunCases<std::string>({
        {"text", Str("hello"), "hello", ""},
        {"enum named through the registry", Enum(2), "B", ""},
        {"enum without a name", Enum(5), "", "5 is not a valid enumeration value for 'v'."},
        {"enum without a type", Enum(1, nullptr), "",
         "1 is not a valid enumeration value for 'v'."},
        {"number", Signed(3), "",
         "Couldn't assign value to 'v' because the input is not a string."},
        {"blob", Blob({65}), "", "Couldn't assign value to 'v' because the input is not a string."},
        {"empty", Empty(), "", "A value for 'v' is required."},
    });
    using Bytes = std::vector<uint8_t>;
    RunCases<Bytes>({
        {"base64 text", Str("YWJj"), Bytes{'a', 'b', 'c'}, ""},
        {"padded text", Str("YWI="), Bytes{'a', 'b'}, ""},
        {"empty text", Str(""), Bytes{}, ""},
        {"invalid character", Str("YW*j"), Bytes{},
         "Couldn't assign string value to 'v' of type blob because the input has invalid base64 "
         "characters."},
        {"blob copied", Blob({0, 255}), Bytes{0, 255}, ""},
        {"number", Unsigned(1), Bytes{},
         "Couldn't assign value to 'v' of type blob because the input is not a blob."},
        {"empty", Empty(), Bytes{}, "A value for 'v' is required."},
    });

    TypeRegistry registry;
    BindingProperty initial = Str("old");
    for (const BindingProperty& input :
         {Empty(), Signed(-4), Str("x"), Collection({Str("a"), Empty()}),
          Structure({{"k", Collection({Bool(true)})}})}) {
      auto [value, message] = Assign<BindingProperty>(input, registry, initial);
      EXPECT_EQ(message, "");
      EXPECT_EQ(value.kind(), input.kind());
      EXPECT_EQ(value.Size(), input.Size());
    }
    // A failed status releases the object and copies nothing.
    PropertyResult status;
    status.SetError("earlier");
    BindingProperty object = Str("old");
    AssignNative(status, object, Signed(1), "v", registry);
    EXPECT_TRUE(object.IsEmpty());
    EXPECT_EQ(status.GetError(), "earlier");
    // An input that lives inside the destination's own tree is copied safely.
    BindingProperty tree = Structure({{"inner", Collection({Signed(1), Signed(2)})}});
    PropertyResult ok;
    AssignNative(ok, tree, tree.GetField("inner"), "v", registry);
    ASSERT_EQ(tree.kind(), PropertyKind::kCollection);
    EXPECT_EQ(tree.GetAt(1).GetSigned(), 2);
  });
}

TEST(AssignNative, VectorAndMapRules) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);

    // An empty element in the middle keeps its default.
    auto [numbers, ok] = Assign<std::vector<int32_t>>(Collection({Signed(1), Empty(), Unsigned(3)}),
                                                      registry, {9, 9, 9, 9, 9});
    EXPECT_EQ(ok, "");
    EXPECT_THAT(numbers, ElementsAre(1, 0, 3));

    // The failing element stops the vector; the rest keep their defaults.
    auto [stopped, bad] =
        Assign<std::vector<int32_t>>(Collection({Signed(1), Str("x"), Signed(3)}), registry);
    EXPECT_EQ(bad, "Value x for 'v' of type int32 is in an incorrect format");
    EXPECT_THAT(stopped, ElementsAre(1, 0, 0));

    auto [emptied, not_collection] = Assign<std::vector<int32_t>>(Str("1"), registry, {4, 5});
    EXPECT_EQ(not_collection,
              "Couldn't assign value to 'v' of type vector because the input not a collection.");
    EXPECT_TRUE(emptied.empty());
    EXPECT_EQ((Assign<std::vector<int32_t>>(Empty(), registry).second),
              "Couldn't assign value to 'v' of type vector because the input not a collection.");
    EXPECT_EQ((Assign<std::vector<bool>>(Empty(), registry).second),
              "A value for 'v' is required.");
    EXPECT_EQ((Assign<std::vector<bool>>(Signed(1), registry).second),
              "Couldn't assign value to 'v' of type vector because the input not a collection.");

    // Texts: an empty element stays empty, an enum takes its name, and a
    // failing element stops the vector as for numbers.
    auto [texts, texts_bad] = Assign<std::vector<std::string>>(
        Collection({Str("a"), Empty(), Enum(2), Signed(4), Str("z")}), registry, {"old"});
    EXPECT_EQ(texts_bad, "Couldn't assign value to 'v' because the input is not a string.");
    EXPECT_THAT(texts, ElementsAre("a", "", "B", "", ""));

    auto [bits, bits_ok] =
        Assign<std::vector<bool>>(Collection({Bool(true), Str("0"), Empty(), Str("1")}), registry);
    EXPECT_EQ(bits_ok, "");
    EXPECT_THAT(bits, ElementsAre(true, false, false, true));

    auto [bytes, bytes_ok] =
        Assign<std::vector<std::vector<uint8_t>>>(Collection({Str("YWJj"), Blob({7})}), registry);
    EXPECT_EQ(bytes_ok, "");
    ASSERT_EQ(bytes.size(), 2u);
    EXPECT_THAT(bytes[0], ElementsAre('a', 'b', 'c'));
    EXPECT_THAT(bytes[1], ElementsAre(7));

    using Counts = std::unordered_map<std::string, int32_t>;
    auto [counts, counts_ok] = Assign<Counts>(
        Structure({{"b", Signed(2)}, {"a", Str("1")}, {"gap", Empty()}}), registry, {{"old", 1}});
    EXPECT_EQ(counts_ok, "");
    EXPECT_EQ(counts, (Counts{{"a", 1}, {"b", 2}}));
    // Entries are assigned in name order: a fails before b.
    EXPECT_EQ((Assign<Counts>(Structure({{"b", Str("y")}, {"a", Str("x")}}), registry).second),
              "Value x for 'v' of type int32 is in an incorrect format");
    EXPECT_EQ((Assign<Counts>(Collection({}), registry).second),
              "Couldn't assign value to 'v' of type map because the input not a structure.");

    // A failed status empties containers and assigns nothing.
    PropertyResult failed;
    failed.SetError("first");
    std::vector<int32_t> kept{1, 2};
    AssignNative(failed, kept, Collection({Signed(5)}), "v", registry);
    EXPECT_TRUE(kept.empty());
    EXPECT_EQ(failed.GetError(), "first");
  });
}

TEST(AssignNative, StructRules) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);

    // The nested message names only the innermost field.
    auto [outer, nested] =
        Assign<Outer>(Structure({{"a", Structure({{"b", Str("x")}})}}), registry);
    EXPECT_EQ(nested, "Value x for 'b' of type int32 is in an incorrect format");

    auto [good, good_message] = Assign<Outer>(
        Structure({{"a", Structure({{"b", Str("12")}})}, {"extra", Bool(true)}}), registry);
    EXPECT_EQ(good_message, "");
    EXPECT_EQ(good.a.b, 12);

    // Fields after the failing one keep their previous values.
    auto [triple, triple_message] = Assign<Triple>(
        Structure({{"a", Signed(1)}, {"b", Str("z")}, {"c", Signed(3)}}), registry, Triple{});
    EXPECT_EQ(triple_message, "Value z for 'b' of type int32 is in an incorrect format");
    EXPECT_EQ(triple.a, 1);
    EXPECT_EQ(triple.b, 0);
    EXPECT_EQ(triple.c, 9);

    // Absent and empty optional fields are left untouched.
    auto [partial, partial_message] =
        Assign<Triple>(Structure({{"b", Empty()}, {"c", Signed(30)}}), registry, Triple{});
    EXPECT_EQ(partial_message, "");
    EXPECT_EQ(partial.a, 7);
    EXPECT_EQ(partial.b, 8);
    EXPECT_EQ(partial.c, 30);

    auto [required, required_message] =
        Assign<WithRequired>(Structure({{"may", Signed(1)}}), registry, WithRequired{});
    EXPECT_EQ(required_message,
              "Couldn't assign value to 'v' of type WithRequired because the input structure "
              "doesn't have required field 'must'.");
    EXPECT_EQ(required.may, 6);
    EXPECT_EQ((Assign<WithRequired>(Structure({{"must", Empty()}}), registry).second),
              "Couldn't assign value to 'v' of type WithRequired because the input structure "
              "doesn't have required field 'must'.");

    EXPECT_EQ(Assign<Inner>(Empty(), registry).second, "A value for 'v' is required.");
    EXPECT_EQ(Assign<Inner>(Collection({}), registry).second,
              "Couldn't assign value to 'v' of type Inner because the input not a structure.");
    EXPECT_EQ(Assign<Unregistered>(Structure({}), registry).second,
              "Couldn't assign value to 'v' because the input is an unregistered structure or "
              "not a structure at all.");
    // The field was added before its type existed: it fails when used.
    EXPECT_EQ(Assign<EarlyOuter>(Structure({{"inner", Structure({})}}), registry).second,
              "Couldn't assign value to 'inner' because the input is an unregistered structure "
              "or not a structure at all.");
    // A nested struct field given a scalar.
    EXPECT_EQ(Assign<Outer>(Structure({{"a", Signed(1)}}), registry).second,
              "Couldn't assign value to 'a' of type Inner because the input not a structure.");
  });
}

TEST(AssignNative, AdaptersApplyElementRulesWithTheContainerPath) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    auto input = [](const char* field, BindingProperty value) {
      return Structure({{field, std::move(value)}});
    };

    auto [full, full_message] = Assign<Containers>(
        Structure({{"inners", Collection({Structure({{"b", Signed(4)}}), Empty()})},
                   {"letters", Collection({Str("B"), Signed(1)})},
                   {"grid", Collection({Collection({Signed(1)}), Collection({Str("2"), Empty()})})},
                   {"innerMap", Structure({{"k", Structure({{"b", Str("5")}})}})},
                   {"blobs", Collection({Str("AQI=")})},
                   {"level", Str("High")}}),
        registry);
    EXPECT_EQ(full_message, "");
    ASSERT_EQ(full.inners.size(), 2u);
    EXPECT_EQ(full.inners[0].b, 4);
    EXPECT_EQ(full.inners[1].b, 0);
    EXPECT_THAT(full.letters, ElementsAre(Letter::kB, Letter::kA));
    ASSERT_EQ(full.grid.size(), 2u);
    EXPECT_THAT(full.grid[1], ElementsAre(2, 0));
    EXPECT_EQ(full.inner_map.at("k").b, 5);
    ASSERT_EQ(full.blobs.size(), 1u);
    EXPECT_THAT(full.blobs[0], ElementsAre(1, 2));
    EXPECT_EQ(full.level, Level::kHigh);

    EXPECT_EQ(Assign<Containers>(input("letters", Collection({Str("Z")})), registry).second,
              "Z is not a valid Letter enumeration value for 'letters'.");
    EXPECT_EQ(
        Assign<Containers>(input("grid", Collection({Collection({Str("x")})})), registry).second,
        "Value x for 'grid' of type int16 is in an incorrect format");
    EXPECT_EQ(Assign<Containers>(input("grid", Collection({Signed(1)})), registry).second,
              "Couldn't assign value to 'grid' of type vector because the input not a "
              "collection.");
    EXPECT_EQ(Assign<Containers>(input("inners", Collection({Signed(1)})), registry).second,
              "Couldn't assign value to 'inners' of type Inner because the input not a "
              "structure.");
    EXPECT_EQ(Assign<Containers>(input("innerMap", Collection({})), registry).second,
              "Couldn't assign value to 'innerMap' of type map because the input not a "
              "structure.");
    EXPECT_EQ(Assign<Containers>(input("blobs", Collection({Str("!")})), registry).second,
              "Couldn't assign string value to 'blobs' of type blob because the input has "
              "invalid base64 characters.");
    EXPECT_EQ(Assign<Containers>(input("level", Signed(3)), registry).second,
              "3 is not a valid Level enumeration value for 'level'.");

    // Top-level containers of registered types find their element record.
    auto [letters, letters_message] = Assign<std::vector<Letter>>(Collection({Str("A")}), registry);
    EXPECT_EQ(letters_message, "");
    EXPECT_THAT(letters, ElementsAre(Letter::kA));
    EXPECT_EQ((Assign<std::vector<Unregistered>>(Collection({Structure({})}), registry).second),
              "Couldn't assign value to 'v' because the input is an unregistered structure or "
              "not a structure at all.");
  });
}

TEST(AssignNative, FieldDispatchByRecordWritesTheRegisteredWidth) {
  TypeRegistry registry;
  RegisterProbes(registry);
  const TypeRecord* containers = registry.FindType<Containers>();
  ASSERT_NE(containers, nullptr);
  const FieldRecord* level = containers->FindField("level");
  ASSERT_NE(level, nullptr);

  // A one-byte enum is written as one byte; its neighbours stay untouched.
  unsigned char bytes[3] = {0xAA, 0xAA, 0xAA};
  PropertyResult status;
  AssignField(status, bytes + 1, Str("Low"), "level", *level, registry);
  EXPECT_TRUE(status.IsValid());
  EXPECT_EQ(bytes[0], 0xAA);
  EXPECT_EQ(bytes[1], 0xFF);
  EXPECT_EQ(bytes[2], 0xAA);

  // A field without an adapter for a kind that needs one fails plainly.
  FieldRecord bare;
  bare.name = "bare";
  bare.type.kind = NativeKind::kVector;
  std::vector<int32_t> unused;
  AssignField(status, &unused, Collection({}), "bare", bare, registry);
  EXPECT_EQ(status.GetError(), "Unsupported field type");
}

}  // namespace
}  // namespace Kestrel
