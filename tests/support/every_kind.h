// Test support: `EveryKind`, one registered struct with a field of every
// native kind a struct can register (callbacks and adapters aside): each
// scalar, text, dynamic value and blob; an enum of two bytes with enumerators
// numbered 0 and below, and one of eight bytes; a nested struct that nests
// itself; vectors of scalars, texts, blobs, enums, structs and vectors; maps of
// numbers and of structs. The tests of the conversions, the walker and the
// fuzz targets share it; a test that needs more fields keeps them in a struct
// of its own that holds an `EveryKind` and registers its fields with
// `AddEveryKindFields`.
//
// Header-only: the registration runs in whatever registry the caller owns,
// once per registry, from one thread.
//
//   TypeRegistry registry;
//   Testing::RegisterEveryKind(registry);
//   ConvertNative(output, Testing::FilledEveryKind(), registry);
#ifndef VYN_TESTS_SUPPORT_EVERY_KIND_H_
#define VYN_TESTS_SUPPORT_EVERY_KIND_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/binding_property.h"
#include "binding/static_type.h"
#include "binding/type_building.h"

namespace Kestrel::Testing {

// Two bytes, signed, with an enumerator numbered 0 and one below it.
enum class Level : int16_t { kNone = 0, kLow = -1, kHigh = 7, kTop = 32000 };
// Eight bytes: converts as its low 32 bits.
enum class Wide : int64_t { kNone = 0, kOne = 1 };

// A nested struct whose vector field holds its own type.
struct Member {
  std::string name;
  uint32_t id = 0;
  Level level = Level::kNone;
  std::vector<Member> children;
  bool operator==(const Member&) const = default;
};

struct EveryKind {
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
  BindingProperty object;
  std::vector<uint8_t> blob;
  Level level = Level::kNone;
  Wide wide = Wide::kNone;
  Member member;
  std::vector<bool> bits;
  std::vector<int32_t> numbers;
  std::vector<double> reals;
  std::vector<std::string> texts;
  std::vector<std::vector<uint8_t>> blobs;
  std::vector<Level> levels;
  std::vector<Member> members;
  std::vector<std::vector<uint16_t>> grid;
  std::unordered_map<std::string, int64_t> counts;
  std::unordered_map<std::string, Member> named;
};

}  // namespace Kestrel::Testing

VYN_STATIC_TYPE(Kestrel::Testing::Level, "enum Kestrel::Testing::Level");
VYN_STATIC_TYPE(Kestrel::Testing::Wide, "enum Kestrel::Testing::Wide");
VYN_STATIC_TYPE(Kestrel::Testing::Member, "struct Kestrel::Testing::Member");
VYN_STATIC_TYPE(Kestrel::Testing::EveryKind, "struct Kestrel::Testing::EveryKind");

namespace Kestrel::Testing {

// Adds the fields of `EveryKind`, found `base` bytes into the struct `builder`
// registers, in declaration order; registers no type. May throw
// std::bad_alloc.
inline TypeBuilder& AddEveryKindFields(TypeBuilder& builder, uint32_t base = 0) {
  const auto at = [base](auto member) { return base + MemberOffset(member); };
  using Blobs = std::vector<std::vector<uint8_t>>;
  using Grid = std::vector<std::vector<uint16_t>>;
  return builder.AddField<bool>("flag", at(&EveryKind::flag))
      .AddField<int8_t>("i8", at(&EveryKind::i8))
      .AddField<uint8_t>("u8", at(&EveryKind::u8))
      .AddField<int16_t>("i16", at(&EveryKind::i16))
      .AddField<uint16_t>("u16", at(&EveryKind::u16))
      .AddField<int32_t>("i32", at(&EveryKind::i32))
      .AddField<uint32_t>("u32", at(&EveryKind::u32))
      .AddField<int64_t>("i64", at(&EveryKind::i64))
      .AddField<uint64_t>("u64", at(&EveryKind::u64))
      .AddField<float>("f", at(&EveryKind::f))
      .AddField<double>("d", at(&EveryKind::d))
      .AddField<std::string>("text", at(&EveryKind::text))
      .AddField<BindingProperty>("object", at(&EveryKind::object))
      .AddField<std::vector<uint8_t>>("blob", at(&EveryKind::blob))
      .AddField<Level>("level", at(&EveryKind::level))
      .AddField<Wide>("wide", at(&EveryKind::wide))
      .AddField<Member>("member", at(&EveryKind::member))
      .AddField<std::vector<bool>>("bits", at(&EveryKind::bits))
      .AddField<std::vector<int32_t>>("numbers", at(&EveryKind::numbers))
      .AddField<std::vector<double>>("reals", at(&EveryKind::reals))
      .AddField<std::vector<std::string>>("texts", at(&EveryKind::texts))
      .AddField<Blobs>("blobs", at(&EveryKind::blobs))
      .AddField<std::vector<Level>>("levels", at(&EveryKind::levels))
      .AddField<std::vector<Member>>("members", at(&EveryKind::members))
      .AddField<Grid>("grid", at(&EveryKind::grid))
      .AddField<std::unordered_map<std::string, int64_t>>("counts", at(&EveryKind::counts))
      .AddField<std::unordered_map<std::string, Member>>("named", at(&EveryKind::named));
}

// Registers `Level`, `Wide` and `Member` in `registry`, the nested types of
// `EveryKind`. May throw std::bad_alloc.
inline void RegisterEveryKindParts(TypeRegistry& registry) {
  registry.RegisterEnum<Level>("Level")
      .AddValue("None", 0)
      .AddValue("Low", -1)
      .AddValue("High", 7)
      .AddValue("Top", 32000);
  registry.RegisterEnum<Wide>("Wide").AddValue("None", 0).AddValue("One", 1);
  registry.RegisterStruct<Member>("Member")
      .AddField("name", &Member::name)
      .AddField("id", &Member::id)
      .AddField("level", &Member::level)
      .AddField("children", &Member::children);
}

// Registers `EveryKind` and its nested types in `registry`. May throw
// std::bad_alloc.
inline void RegisterEveryKind(TypeRegistry& registry) {
  RegisterEveryKindParts(registry);
  TypeBuilder builder = registry.RegisterStruct<EveryKind>("EveryKind");
  AddEveryKindFields(builder);
}

// An `EveryKind` with every field set to a value that is not zero, integers
// at the ends of their ranges. May throw std::bad_alloc.
inline EveryKind FilledEveryKind() {
  EveryKind value;
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
  value.level = Level::kHigh;
  value.wide = Wide::kOne;
  value.member = {"lead", 5, Level::kLow, {{"child", 6, Level::kTop, {}}}};
  value.bits = {true, false, true};
  value.numbers = {3, -4};
  value.reals = {0.5, -0.0, 1e300};
  value.texts = {"a", ""};
  value.blobs = {{9}, {}};
  value.levels = {Level::kNone, Level::kHigh};
  value.members = {{"one", 1, Level::kNone, {}}, {"two", 2, Level::kHigh, {}}};
  value.grid = {{1}, {}, {2, 3}};
  value.counts = {{"z", 1}, {"a", -2}};
  value.named = {{"p", {"named", 8, Level::kLow, {}}}};
  return value;
}

// The names of the fields in which `a` and `b` differ, in declaration order;
// the dynamic `object` has no equality and is left to the caller. May throw
// std::bad_alloc.
inline std::vector<std::string> DifferentFields(const EveryKind& a, const EveryKind& b) {
  std::vector<std::string> names;
  const auto compare = [&names](const char* name, const auto& left, const auto& right) {
    if (!(left == right)) names.emplace_back(name);
  };
  compare("flag", a.flag, b.flag);
  compare("i8", a.i8, b.i8);
  compare("u8", a.u8, b.u8);
  compare("i16", a.i16, b.i16);
  compare("u16", a.u16, b.u16);
  compare("i32", a.i32, b.i32);
  compare("u32", a.u32, b.u32);
  compare("i64", a.i64, b.i64);
  compare("u64", a.u64, b.u64);
  compare("f", a.f, b.f);
  compare("d", a.d, b.d);
  compare("text", a.text, b.text);
  compare("blob", a.blob, b.blob);
  compare("level", a.level, b.level);
  compare("wide", a.wide, b.wide);
  compare("member", a.member, b.member);
  compare("bits", a.bits, b.bits);
  compare("numbers", a.numbers, b.numbers);
  compare("reals", a.reals, b.reals);
  compare("texts", a.texts, b.texts);
  compare("blobs", a.blobs, b.blobs);
  compare("levels", a.levels, b.levels);
  compare("members", a.members, b.members);
  compare("grid", a.grid, b.grid);
  compare("counts", a.counts, b.counts);
  compare("named", a.named, b.named);
  return names;
}

}  // namespace Kestrel::Testing

#endif  // VYN_TESTS_SUPPORT_EVERY_KIND_H_
