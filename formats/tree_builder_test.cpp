#include "formats/tree_builder.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace Kestrel {
namespace {

TEST(TreeBuilderTest, ValuesFillElementsAndSelectedMembers) {
  // {"b": [1, null, "x"], "a": true}
  BindingProperty root;
  TreeBuilder builder(root);
  ASSERT_TRUE(builder.StartStructure());
  EXPECT_TRUE(builder.ExpectsKey());
  builder.Key("b");
  EXPECT_FALSE(builder.ExpectsKey());
  ASSERT_TRUE(builder.StartCollection());
  builder.Unsigned(1);
  builder.Null();
  builder.String(std::string_view("x\0y", 3));
  builder.EndCollection();
  EXPECT_TRUE(builder.ExpectsKey());
  builder.Key("a");
  builder.Bool(true);
  builder.EndStructure();
  EXPECT_EQ(builder.depth(), 0u);

  ASSERT_EQ(root.kind(), PropertyKind::kStructure);
  const BindingProperty& list = root.GetField("b");
  ASSERT_EQ(list.Size(), 3u);
  EXPECT_EQ(list.GetAt(0).GetUnsigned(), 1u);
  EXPECT_TRUE(list.GetAt(1).IsEmpty());
  EXPECT_EQ(list.GetAt(2).GetString(), "x");  // cut at the NUL
  EXPECT_TRUE(root.GetField("a").GetBool());
}

TEST(TreeBuilderTest, RepeatedKeysMergeOrReplaceAsAsked) {
  BindingProperty root;
  TreeBuilder builder(root);
  ASSERT_TRUE(builder.StartStructure());
  builder.Key("a");
  ASSERT_TRUE(builder.StartCollection());
  builder.Signed(1);
  builder.EndCollection();
  builder.Key("a");
  ASSERT_TRUE(builder.StartCollection());  // kept: appends
  builder.Signed(2);
  builder.EndCollection();
  builder.Key("s");
  builder.Signed(5);
  builder.Key("s");
  builder.Null();  // leaves the earlier scalar
  builder.Key("r");
  ASSERT_TRUE(builder.StartCollection());
  builder.Signed(1);
  builder.EndCollection();
  builder.Key("r");
  ASSERT_TRUE(builder.StartCollection(TreeBuilder::Existing::kReplace));
  builder.Signed(9);
  builder.EndCollection();
  builder.Key("c");
  builder.Signed(3);
  builder.Key("c");
  builder.Clear();  // null word: the member becomes empty
  builder.EndStructure();

  ASSERT_EQ(root.GetField("a").Size(), 2u);
  EXPECT_EQ(root.GetField("a").GetAt(1).GetSigned(), 2);
  EXPECT_EQ(root.GetField("s").GetSigned(), 5);
  ASSERT_EQ(root.GetField("r").Size(), 1u);
  EXPECT_EQ(root.GetField("r").GetAt(0).GetSigned(), 9);
  EXPECT_TRUE(root.GetField("c").IsEmpty());
  EXPECT_EQ(root.Size(), 4u);
}

TEST(TreeBuilderTest, RecurringNamesSelectTheSameMembersAndLeaveExactCounts) {
  // More distinct names than the builder remembers, each met twice, and names
  // that differ only past a NUL: members and the string table come out as if
  // every name had been interned afresh.
  BindingProperty root;
  {
    TreeBuilder builder(root);
    ASSERT_TRUE(builder.StartStructure());
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < 600; ++i) {
        builder.Key("member" + std::to_string(i));
        builder.Unsigned(static_cast<uint64_t>(round * 1000 + i));
      }
    }
    builder.Key(std::string_view("k\0one", 5));
    builder.Unsigned(1);
    builder.Key(std::string_view("k\0two", 5));
    builder.Unsigned(2);
    builder.KeyWithoutNul("k");
    builder.Unsigned(3);
    builder.EndStructure();
  }
  ASSERT_EQ(root.Size(), 601u);
  EXPECT_EQ(root.GetField("member0").GetUnsigned(), 1000u);
  EXPECT_EQ(root.GetField("member599").GetUnsigned(), 1599u);
  EXPECT_EQ(root.GetField("k").GetUnsigned(), 3u);
  EXPECT_EQ(root.store()->StringCount(), 601u);
  // Each name is counted once, by its member: clearing the tree empties the table.
  root.Clear();
  EXPECT_EQ(root.store()->StringCount(), 0u);
}

TEST(TreeBuilderTest, NamesKeepTheirOrderWhatEverPrecededThemBefore) {
  // [{"a", "c"}, {"d", "c", "b"}]: "c" followed "a" once, not "d".
  BindingProperty root;
  {
    TreeBuilder builder(root);
    ASSERT_TRUE(builder.StartCollection());
    for (const auto& names : {std::vector<const char*>{"a", "c"}, {"d", "c", "b"}}) {
      ASSERT_TRUE(builder.StartStructure());
      for (const char* name : names) {
        builder.Key(name);
        builder.Bool(true);
      }
      builder.EndStructure();
    }
    builder.EndCollection();
  }
  std::string order;
  root.GetAt(1).ForEachField([&](std::string_view name, const BindingProperty&) { order += name; });
  EXPECT_EQ(order, "bcd");
}

TEST(TreeBuilderTest, RefusesTheContainerBeyondTheNestingLimit) {
  BindingProperty root;
  TreeBuilder builder(root);
  for (std::size_t i = 0; i < kMaxNestingDepth; ++i) ASSERT_TRUE(builder.StartCollection()) << i;
  builder.Signed(7);  // a value inside the deepest allowed container
  EXPECT_FALSE(builder.StartCollection());
  EXPECT_FALSE(builder.StartStructure());
  EXPECT_EQ(builder.depth(), kMaxNestingDepth);
  while (builder.depth() > 0) builder.EndCollection();

  const BindingProperty* node = &root;
  for (std::size_t i = 0; i < kMaxNestingDepth; ++i) {
    ASSERT_EQ(node->kind(), PropertyKind::kCollection);
    ASSERT_EQ(node->Size(), 1u);
    node = &node->GetAt(0);
  }
  EXPECT_EQ(node->GetSigned(), 7);
}

// The members of `value` as "name=value" in the order it lists them, nested
// structures in braces.
std::string Listing(const BindingProperty& value) {
  if (value.kind() != PropertyKind::kStructure) return std::to_string(value.GetUnsigned());
  std::string text = "{";
  value.ForEachField([&](std::string_view name, const BindingProperty& member) {
    text.append(name).append("=").append(Listing(member)).append(" ");
    // Every member can be looked up once the structure is closed.
    EXPECT_EQ(value.FindField(name), &member) << name;
  });
  return text + "}";
}

std::vector<std::string> Names(std::initializer_list<const char*> names) {
  return {names.begin(), names.end()};
}

std::vector<std::string> Reversed(std::size_t count) {
  std::vector<std::string> names;
  for (std::size_t i = count; i-- > 0;) names.push_back("k" + std::to_string(1000 + i));
  return names;
}

TEST(TreeBuilderTest, MembersInAnyArrivalOrderComeOutAsOrderedInsertionMakesThem) {
  // Each case is a collection of structures, one per key list; a key takes
  // its arrival index as value (a repeated key keeps the last), and a key
  // "n" opens a structure with the keys of the structure after it.
  struct Case {
    const char* label;
    std::vector<std::vector<std::string>> structures;
  };
  const auto twitterish = Names({"id", "text", "user", "created_at", "entities", "lang"});
  const Case cases[] = {
      {"in order", {Names({"a", "b", "c", "d"})}},
      {"reversed", {Names({"d", "c", "b", "a"})}},
      {"interleaved", {Names({"b", "d", "a", "c", "e"})}},
      {"repeated keys", {Names({"c", "a", "c", "b", "a", "c"})}},
      {"one shape repeated", {twitterish, twitterish, twitterish}},
      {"shapes sharing a start",
       {twitterish, Names({"id", "text", "lang", "user"}),
        Names({"id", "text", "user", "created_at"}),
        Names({"id", "text", "user", "created_at", "id", "zz", "a"}), twitterish}},
      {"nested",
       {Names({"z", "n", "a"}), Names({"y", "b", "y", "a"}), Names({"z", "n", "a"}),
        Names({"x", "c"})}},
      {"more names than the shape",
       {Names({"b", "a"}), Names({"a0", "Z"}), Names({"b", "a", "a0"})}},
      {"beyond the scanned members", {Reversed(80), Reversed(80)}},
      {"large, second run", {Reversed(700)}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.label);
    BindingProperty built;
    BindingProperty expected;
    {
      TreeBuilder builder(built);
      ASSERT_TRUE(builder.StartCollection());
      for (std::size_t s = 0; s < test.structures.size(); ++s) {
        BindingProperty& want = expected.At(s);
        want.MakeStructure();
        ASSERT_TRUE(builder.StartStructure());
        const auto& keys = test.structures[s];
        for (std::size_t i = 0; i < keys.size(); ++i) {
          builder.Key(keys[i]);
          if (keys[i] == "n" && s + 1 < test.structures.size()) {
            ASSERT_TRUE(builder.StartStructure());
            BindingProperty& inner = want.Field("n");
            for (std::size_t j = 0; j < test.structures[s + 1].size(); ++j) {
              builder.Key(test.structures[s + 1][j]);
              builder.Unsigned(j);
              inner.Field(test.structures[s + 1][j]).SetUnsigned(j);
            }
            builder.EndStructure();
            continue;
          }
          builder.Unsigned(i);
          want.Field(keys[i]).SetUnsigned(i);
        }
        builder.EndStructure();
      }
      builder.EndCollection();
    }
    ASSERT_EQ(built.Size(), expected.Size());
    for (std::size_t s = 0; s < built.Size(); ++s) {
      EXPECT_EQ(Listing(built.GetAt(s)), Listing(expected.GetAt(s))) << s;
    }
  }
}

TEST(TreeBuilderTest, SettleOrdersOpenStructuresForLookups) {
  BindingProperty root;
  TreeBuilder builder(root);
  ASSERT_TRUE(builder.StartStructure());
  for (const char* name : {"d", "c", "b", "a"}) {
    builder.Key(name);
    builder.Unsigned(1);
  }
  builder.Settle();
  for (const char* name : {"a", "b", "c", "d"}) EXPECT_EQ(root.GetField(name).GetUnsigned(), 1u);
  builder.Key("b");  // still found after settling
  builder.Unsigned(7);
  builder.EndStructure();
  EXPECT_EQ(Listing(root), "{a=1 b=7 c=1 d=1 }");
}

TEST(TreeBuilderTest, RootScalarAndCustomValues) {
  BindingProperty root;
  TreeBuilder builder(root);
  EXPECT_FALSE(builder.root_taken());
  BindingProperty& target = builder.BeginValue();
  EXPECT_EQ(&target, &root);
  target.SetDouble(1.5);
  builder.EndValue();
  EXPECT_TRUE(builder.root_taken());
  EXPECT_EQ(root.GetDouble(), 1.5);
}

}  // namespace
}  // namespace Kestrel
