// Test support: registered native values covering every rule of the native
// walker (leaves of each kind, omit-if-zero fields, enums with and without a
// record, nested structs, containers, dynamic and use-adapter fields, names
// shared by several fields or map keys, and the values that must fail), shared
// by the tests of its sinks.
#ifndef VYN_TESTS_SUPPORT_WALK_PROBE_H_
#define VYN_TESTS_SUPPORT_WALK_PROBE_H_

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/binding_property.h"
#include "binding/builtin_vocabulary.h"
#include "binding/type_building.h"
#include "tests/support/every_kind.h"

namespace WalkProbe {
enum class Mood : int8_t { kCalm = 0, kGlad = 2 };
enum class Loose : int32_t { kOne = 1 };  // never registered
struct Leaf {
  int32_t z = 0;
  std::string name;
};
struct Unknown {  // never registered
  int32_t x = 0;
};
// Every kind, and what only the walker has: an enum without a record, a
// callback, use-adapter fields and omit-if-zero fields.
struct All {
  Kestrel::Testing::EveryKind kinds;
  Loose loose{};
  Kestrel::BindingCallback callback;
  int64_t adapted = 0;
  std::vector<int32_t> adapted_list;
  // Left out when zero.
  int32_t sparse = 0;
  std::string sparse_text;
  std::vector<int32_t> sparse_list;
  Mood sparse_mood = Mood::kCalm;
  Loose sparse_loose{};
  Leaf sparse_leaf;
  Kestrel::BindingProperty sparse_object;
};
struct HoldsUnknown {
  int32_t a = 0;
  Unknown nested;
};
struct HoldsUnknownList {
  std::vector<Unknown> list;
};
// Every field left out when zero.
struct Tiny {
  int32_t n = 0;
};
struct Sparse {
  std::string text;
  int32_t number = 0;
  Tiny inner;
  std::vector<int32_t> list;
  Mood mood = Mood::kCalm;
  Loose loose{};        // walked by its adapter
  int32_t adapted = 0;  // registered with the use-adapter flag
};
// Two fields under one name: the second member overwrites the first.
struct Twice {
  int32_t first = 1;
  std::string second = "two";
};
// Names equal up to their first NUL: the last field written takes the member
// ("same"); a zero one flagged omit-if-zero is left out, an overwritten one
// that fails still fails the struct.
struct Shared {
  int32_t first = 1;
  int32_t later = 0;  // flagged
  HoldsUnknownList overwritten;
  int32_t other = 2;
};
}  // namespace WalkProbe

VYN_STATIC_TYPE(WalkProbe::Mood, "enum WalkProbe::Mood");
VYN_STATIC_TYPE(WalkProbe::Loose, "enum WalkProbe::Loose");
VYN_STATIC_TYPE(WalkProbe::Leaf, "struct WalkProbe::Leaf");
VYN_STATIC_TYPE(WalkProbe::Unknown, "struct WalkProbe::Unknown");
VYN_STATIC_TYPE(WalkProbe::All, "struct WalkProbe::All");
VYN_STATIC_TYPE(WalkProbe::HoldsUnknown, "struct WalkProbe::HoldsUnknown");
VYN_STATIC_TYPE(WalkProbe::HoldsUnknownList, "struct WalkProbe::HoldsUnknownList");
VYN_STATIC_TYPE(WalkProbe::Twice, "struct WalkProbe::Twice");
VYN_STATIC_TYPE(WalkProbe::Shared, "struct WalkProbe::Shared");
VYN_STATIC_TYPE(WalkProbe::Tiny, "struct WalkProbe::Tiny");
VYN_STATIC_TYPE(WalkProbe::Sparse, "struct WalkProbe::Sparse");

namespace WalkProbe {

// Registers the probe types, fields deliberately out of name order.
inline void RegisterProbes(Kestrel::TypeRegistry& registry) {
  using Kestrel::kFieldOmitIfZero;
  registry.RegisterEnum<Mood>("Mood").AddValue("Glad", 2).AddValue("Calm", 0);
  registry.RegisterStruct<Leaf>("Leaf").AddField("z", &Leaf::z).AddField("name", &Leaf::name);
  Kestrel::Testing::RegisterEveryKindParts(registry);
  Kestrel::TypeBuilder all = registry.RegisterStruct<All>("All");
  all.AddField("loose", &All::loose)
      .AddField("callback", &All::callback)
      .AddField("adapted", &All::adapted)
      .UseAdapter()
      .AddField("adaptedList", &All::adapted_list)
      .UseAdapter();
  Kestrel::Testing::AddEveryKindFields(all, Kestrel::MemberOffset(&All::kinds))
      .AddField("sparse", &All::sparse, "", kFieldOmitIfZero)
      .AddField("sparseText", &All::sparse_text, "", kFieldOmitIfZero)
      .AddField("sparseList", &All::sparse_list, "", kFieldOmitIfZero)
      .AddField("sparseMood", &All::sparse_mood, "", kFieldOmitIfZero)
      .AddField("sparseLoose", &All::sparse_loose, "", kFieldOmitIfZero)
      .AddField("sparseLeaf", &All::sparse_leaf, "", kFieldOmitIfZero)
      .AddField("sparseObject", &All::sparse_object, "", kFieldOmitIfZero);
  registry.RegisterStruct<HoldsUnknown>("HoldsUnknown")
      .AddField("a", &HoldsUnknown::a)
      .AddField("nested", &HoldsUnknown::nested);
  registry.RegisterStruct<HoldsUnknownList>("HoldsUnknownList")
      .AddField("list", &HoldsUnknownList::list);
  registry.RegisterStruct<Tiny>("Tiny").AddField("n", &Tiny::n, "", kFieldOmitIfZero);
  registry.RegisterStruct<Sparse>("Sparse")
      .AddField("text", &Sparse::text, "", kFieldOmitIfZero)
      .AddField("number", &Sparse::number, "", kFieldOmitIfZero)
      .AddField("inner", &Sparse::inner, "", kFieldOmitIfZero)
      .AddField("list", &Sparse::list, "", kFieldOmitIfZero)
      .AddField("mood", &Sparse::mood, "", kFieldOmitIfZero)
      .AddField("loose", &Sparse::loose, "", kFieldOmitIfZero)
      .AddField("adapted", &Sparse::adapted, "", kFieldOmitIfZero)
      .UseAdapter();
  registry.RegisterStruct<Twice>("Twice")
      .AddField("same", &Twice::first)
      .AddField("same", &Twice::second);
  using namespace std::string_view_literals;
  registry.RegisterStruct<Shared>("Shared")
      .AddField("other\0x"sv, &Shared::overwritten)
      .AddField("same", &Shared::first)
      .AddField("same\0later"sv, &Shared::later, "", kFieldOmitIfZero)
      .AddField("other", &Shared::other);
}

// An `All` with every field set to a value that is not zero, texts with
// characters to escape and an embedded NUL.
inline All FilledAll() {
  All all;
  all.kinds = Kestrel::Testing::FilledEveryKind();
  all.kinds.f = 0.1f;
  all.kinds.d = std::nan("");
  all.kinds.text = std::string("q\"\\\n\x01/\xC3\xA9 end\0cut", 17);
  all.kinds.texts = {"a", "", "tab\there"};
  all.kinds.reals = {1.5, -0.0, 1e300, 100.0};
  all.kinds.levels = {Kestrel::Testing::Level::kHigh, static_cast<Kestrel::Testing::Level>(5)};
  all.loose = Loose::kOne;
  all.callback.id = 42;
  all.adapted = -5;
  all.adapted_list = {9, 8};
  all.sparse = 3;
  all.sparse_text = "x";
  all.sparse_list = {4};
  all.sparse_mood = Mood::kGlad;
  all.sparse_loose = Loose::kOne;
  all.sparse_leaf = {0, "named"};
  all.sparse_object.SetSigned(6);
  return all;
}

// Calls `check(label, value, walks)` for each probe value; `walks` is whether
// the value converts (else every path must report the failure).
template <class Check>
void ForEachProbe(Check&& check) {
  check("defaults", All{}, true);
  check("filled", FilledAll(), true);
  check("leaf", Leaf{-1, "x"}, true);
  check("leaf list", std::vector<Leaf>{{1, "a"}, {2, "b"}}, true);
  check("texts", std::vector<std::string>{"x", "", std::string("a\0bcde", 6), "words, quoted \""},
        true);
  check("number", int32_t{-12}, true);
  check("enum", Mood::kGlad, true);
  check("unnamed enum", Loose::kOne, true);
  check("map", std::unordered_map<std::string, Leaf>{{"k", {1, "v"}}}, true);
  check("empty list of unknown", HoldsUnknownList{}, true);
  check("unknown nested", HoldsUnknown{}, false);
  check("unknown in list", HoldsUnknownList{{Unknown{}}}, false);
  check("unknown root", Unknown{}, false);
  check("twice", Twice{}, true);
  check("shared, later zero", Shared{}, true);
  check("shared, later set", Shared{1, 5, {}, 2}, true);
  check("shared, overwritten fails", Shared{1, 0, {{Unknown{}}}, 2}, false);
  using namespace std::string_literals;
  // Keys equal up to their first NUL: the one the map lists last is kept.
  check("map, keys cut alike",
        std::unordered_map<std::string, int32_t>{{"k\0a"s, 1}, {"k\0b"s, 2}, {"j", 3}}, true);
  check("map, overwritten entry fails",
        std::unordered_map<std::string, HoldsUnknownList>{{"k\0a"s, {}}, {"k\0b"s, {{Unknown{}}}}},
        false);
  check("sparse, text cut to empty", Sparse{std::string("\0x", 2), 0, {}, {}, Mood::kCalm}, true);
  check("sparse, one member", Sparse{"", 5, {}, {}, Mood::kCalm}, true);
  check("sparse, nested member", Sparse{"", 0, {7}, {}, Mood::kCalm}, true);
}

}  // namespace WalkProbe

#endif  // VYN_TESTS_SUPPORT_WALK_PROBE_H_
