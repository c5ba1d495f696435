#include "binding/binding_property.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "binding/property_page_pool.h"
#include "util/counting_allocator.h"

namespace Kestrel {

// Only the address of a static identity is stored; the test needs no layout.
struct StaticTypeInfo;

namespace {

// Moving from an element or field copies, and copying may run out of memory.
static_assert(!std::is_nothrow_move_constructible_v<BindingProperty>);
static_assert(!std::is_nothrow_move_constructible_v<PropertyResult>);
static_assert(std::is_nothrow_default_constructible_v<BindingProperty>);

const StaticTypeInfo* FakeIdentity(int n) {
  static const char anchors[4] = {};
  return reinterpret_cast<const StaticTypeInfo*>(&anchors[n]);
}

// Writes every visitor call as a token, e.g. "{2 [a] s:x [/a] [b] ... }".
class RecordingVisitor : public PropertyVisitor {
 public:
  std::string out;

  void VisitEmpty() override { out += "e "; }
  void VisitBool(bool value) override { out += value ? "true " : "false "; }
  void VisitSigned(int64_t value) override { out += "i:" + std::to_string(value) + " "; }
  void VisitUnsigned(uint64_t value) override { out += "u:" + std::to_string(value) + " "; }
  void VisitFloat(double value) override { out += "f:" + std::to_string(value) + " "; }
  void VisitString(std::string_view text) override {
    out += "s:" + std::string(text) + "(" + std::to_string(text.size()) + ") ";
  }
  void VisitBlob(const std::vector<uint8_t>& bytes) override {
    out += "b:" + std::to_string(bytes.size()) + " ";
  }
  void VisitEnum(const EnumValue& value) override {
    out += "n:" + std::to_string(value.value) + " ";
  }
  void BeginCollection(std::size_t count) override { out += "[" + std::to_string(count) + " "; }
  void BeginElement(std::size_t index) override { out += "<" + std::to_string(index) + " "; }
  void EndElement(std::size_t index) override { out += std::to_string(index) + "> "; }
  void EndCollection() override { out += "] "; }
  void BeginStructure(std::size_t count) override { out += "{" + std::to_string(count) + " "; }
  void BeginField(std::string_view name) override { out += "(" + std::string(name) + " "; }
  void EndField(std::string_view name) override { out += std::string(name) + ") "; }
  void EndStructure() override { out += "} "; }
};

std::string Visit(const BindingProperty& value) {
  RecordingVisitor visitor;
  value.Accept(visitor);
  return visitor.out;
}

std::vector<std::string> FieldNames(const BindingProperty& value) {
  std::vector<std::string> names;
  value.ForEachField(
      [&](std::string_view name, const BindingProperty&) { names.emplace_back(name); });
  return names;
}

TEST(PropertyKindName, NamesEveryKindAndNothingElse) {
  const char* expected[] = {"empty",  "bool", "signed", "unsigned",   "float",
                            "string", "blob", "enum",   "collection", "structure"};
  for (int kind = 0; kind < kPropertyKindCount; ++kind) {
    EXPECT_STREQ(PropertyKindName(static_cast<PropertyKind>(kind)), expected[kind]);
  }
  EXPECT_STREQ(PropertyKindName(static_cast<PropertyKind>(10)), "");
  EXPECT_STREQ(PropertyKindName(static_cast<PropertyKind>(255)), "");
}

TEST(BindingProperty, NewValueIsEmptyOwningAndStoreless) {
  BindingProperty value;
  EXPECT_EQ(value.kind(), PropertyKind::kEmpty);
  EXPECT_TRUE(value.IsEmpty());
  EXPECT_EQ(value.Size(), 0u);
  EXPECT_TRUE(value.IsZero());
  EXPECT_TRUE(value.owns_store());
  EXPECT_EQ(value.store(), nullptr);
  // Scalars need no store.
  value.SetSigned(5);
  value.SetDouble(1.5);
  EXPECT_EQ(value.store(), nullptr);
  value.SetString("x");
  EXPECT_NE(value.store(), nullptr);

  PropertyResult result;
  EXPECT_TRUE(result.IsValid());
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(result.GetError(), "");
}

TEST(BindingProperty, ReadersReturnOnlyTheirOwnKind) {
  const std::vector<uint8_t> no_bytes = {9};
  const EnumValue no_enum = {77, nullptr};
  BindingProperty values[7];
  values[0].SetBool(true);
  values[1].SetSigned(-3);
  values[2].SetUnsigned(4);
  values[3].SetDouble(2.5);
  values[4].SetString("text");
  values[5].SetBlob(std::vector<uint8_t>{1, 2});
  values[6].SetEnum({3, FakeIdentity(1)});
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(PropertyKindName(values[i].kind()));
    EXPECT_EQ(values[i].GetBool(false), i == 0);
    EXPECT_EQ(values[i].GetSigned(111), i == 1 ? -3 : 111);
    EXPECT_EQ(values[i].GetUnsigned(222), i == 2 ? 4u : 222u);
    EXPECT_EQ(values[i].GetDouble(-1.0), i == 3 ? 2.5 : -1.0);
    EXPECT_EQ(values[i].GetString("dflt"), i == 4 ? "text" : "dflt");
    EXPECT_EQ(values[i].GetBlob(no_bytes), i == 5 ? std::vector<uint8_t>({1, 2}) : no_bytes);
    const EnumValue expected_enum = i == 6 ? EnumValue{3, FakeIdentity(1)} : no_enum;
    EXPECT_EQ(values[i].GetEnum(no_enum), expected_enum);
  }
  // A bool is not read as a signed number, nor a signed as unsigned.
  EXPECT_EQ(values[0].GetSigned(42), 42);
  EXPECT_EQ(values[1].GetUnsigned(42), 42u);
}

TEST(BindingProperty, IntegerAndFloatBoundariesSurvive) {
  BindingProperty value;
  value.SetSigned(std::numeric_limits<int64_t>::min());
  EXPECT_EQ(value.GetSigned(), std::numeric_limits<int64_t>::min());
  value.SetSigned(std::numeric_limits<int64_t>::max());
  EXPECT_EQ(value.GetSigned(), std::numeric_limits<int64_t>::max());
  value.SetUnsigned(std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(value.GetUnsigned(), std::numeric_limits<uint64_t>::max());
  // A 32-bit unsigned input keeps a zero high word.
  value.SetUnsigned(uint32_t{0xFFFFFFFFu});
  EXPECT_EQ(value.GetUnsigned(), 0xFFFFFFFFull);
  value.SetDouble(-0.0);
  EXPECT_TRUE(std::signbit(value.GetDouble(1.0)));
  value.SetDouble(std::numeric_limits<double>::quiet_NaN());
  EXPECT_TRUE(std::isnan(value.GetDouble()));
}

TEST(BindingProperty, SizeAndIsZeroFollowTheKind) {
  struct Case {
    const char* what;
    void (*make)(BindingProperty&);
    std::size_t size;
    bool zero;
  };
  const Case cases[] = {
      {"empty", [](BindingProperty&) {}, 0, true},
      {"false", [](BindingProperty& v) { v.SetBool(false); }, 1, true},
      {"true", [](BindingProperty& v) { v.SetBool(true); }, 1, false},
      {"signed 0", [](BindingProperty& v) { v.SetSigned(0); }, 1, true},
      {"signed -1", [](BindingProperty& v) { v.SetSigned(-1); }, 1, false},
      {"unsigned 0", [](BindingProperty& v) { v.SetUnsigned(0); }, 1, true},
      {"unsigned 2^32", [](BindingProperty& v) { v.SetUnsigned(1ull << 32); }, 1, false},
      {"float 0", [](BindingProperty& v) { v.SetDouble(0.0); }, 1, true},
      {"float -0", [](BindingProperty& v) { v.SetDouble(-0.0); }, 1, true},
      {"float NaN",
       [](BindingProperty& v) { v.SetDouble(std::numeric_limits<double>::quiet_NaN()); }, 1, false},
      {"float tiny", [](BindingProperty& v) { v.SetDouble(1e-300); }, 1, false},
      {"string empty", [](BindingProperty& v) { v.SetString(""); }, 0, true},
      {"string", [](BindingProperty& v) { v.SetString("abc"); }, 3, false},
      {"blob empty", [](BindingProperty& v) { v.SetBlob(nullptr, 0); }, 0, true},
      {"blob", [](BindingProperty& v) { v.SetBlob(std::vector<uint8_t>(5)); }, 5, false},
      {"enum 0",
       [](BindingProperty& v) {
         v.SetEnum({0, nullptr});
       },
       1, true},
      {"enum 1",
       [](BindingProperty& v) {
         v.SetEnum({1, nullptr});
       },
       1, false},
      {"collection empty", [](BindingProperty& v) { v.MakeCollection(); }, 0, true},
      {"collection", [](BindingProperty& v) { v.At(2); }, 3, false},
      {"structure empty", [](BindingProperty& v) { v.MakeStructure(); }, 0, true},
      {"structure", [](BindingProperty& v) { v.Field("a"); }, 1, false},
  };
  for (const Case& c : cases) {
    BindingProperty value;
    c.make(value);
    EXPECT_EQ(value.Size(), c.size) << c.what;
    EXPECT_EQ(value.IsZero(), c.zero) << c.what;
  }
}

TEST(BindingProperty, StringsAreInternedPerTreeAndCounted) {
  BindingProperty tree;
  tree.Field("a").SetString("shared");
  tree.Field("b").SetString(std::string("shared"));
  const PooledString* entry = tree.store()->FindString("shared");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->count, 2u);
  // Same pooled text for both values.
  EXPECT_EQ(tree.GetField("a").GetString().data(), tree.GetField("b").GetString().data());

  tree.Field("a").SetSigned(1);
  EXPECT_EQ(tree.store()->FindString("shared")->count, 1u);
  tree.Field("b").Clear();
  EXPECT_EQ(tree.store()->FindString("shared"), nullptr);
  // Field names are pooled too; the empty string never is.
  EXPECT_EQ(tree.store()->FindString("a")->count, 1u);
  const std::size_t pooled = tree.store()->StringCount();
  tree.Field("c").SetString("");
  tree.Field("c").SetString(nullptr);
  EXPECT_EQ(tree.store()->StringCount(), pooled + 1);  // only the name "c"
  EXPECT_EQ(tree.GetField("c").kind(), PropertyKind::kString);
  EXPECT_EQ(tree.GetField("c").GetString("x"), "");
}

TEST(BindingProperty, StringSettersCutAtNulExceptTheFullLengthOne) {
  const std::string with_nul("ab\0cd", 5);
  BindingProperty value;
  value.SetString(with_nul);
  EXPECT_EQ(value.GetString(), "ab");
  value.SetString(std::string_view(with_nul));
  EXPECT_EQ(value.Size(), 2u);
  value.SetString(with_nul.c_str());
  EXPECT_EQ(value.GetString(), "ab");
  value.SetStringFullLength(with_nul);
  EXPECT_EQ(value.Size(), 5u);
  EXPECT_EQ(value.GetString(), std::string_view(with_nul));
  // The pooled text is NUL-terminated after its last byte.
  EXPECT_EQ(value.GetString().data()[5], '\0');
  EXPECT_EQ(Visit(value), std::string("s:ab\0cd(5) ", 11));
  // Bytes above 0x7F pass through untouched.
  value.SetString("\xC3\xA9\xFF");
  EXPECT_EQ(value.GetString(), "\xC3\xA9\xFF");
  // Setting a value from its own text keeps the text.
  value.SetString(value.GetString());
  EXPECT_EQ(value.GetString(), "\xC3\xA9\xFF");
  EXPECT_EQ(value.store()->FindString("\xC3\xA9\xFF")->count, 1u);
}

TEST(BindingProperty, BlobsTakeOverVectorsOrCopyRanges) {
  std::vector<uint8_t> bytes = {1, 2, 3, 0, 5};
  const uint8_t* buffer = bytes.data();
  BindingProperty value;
  value.SetBlob(std::move(bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(value.GetBlob({}).data(), buffer);
  EXPECT_EQ(value.Size(), 5u);

  const uint8_t range[] = {7, 8};
  BindingProperty copy;
  copy.SetBlob(range, sizeof range);
  EXPECT_EQ(copy.GetBlob({}), std::vector<uint8_t>({7, 8}));
  EXPECT_NE(copy.GetBlob({}).data(), range);
  // A blob set from its own bytes keeps them.
  copy.SetBlob(copy.GetBlob({}).data(), 1);
  EXPECT_EQ(copy.GetBlob({}), std::vector<uint8_t>({7}));
}

TEST(BindingProperty, EnumKeepsValueAndIdentity) {
  BindingProperty value;
  value.SetEnum({-7, FakeIdentity(2)});
  EXPECT_EQ(value.kind(), PropertyKind::kEnum);
  EXPECT_EQ(value.GetEnum().value, -7);
  EXPECT_EQ(value.GetEnum().type, FakeIdentity(2));
  EXPECT_EQ(value.Size(), 1u);
  EXPECT_EQ(value.store()->BlocksInUse(sizeof(EnumValue)), 1u);
  value.SetBool(true);
  EXPECT_EQ(value.store()->BlocksInUse(sizeof(EnumValue)), 0u);
}

TEST(BindingProperty, StructureFieldsAreOrderedByUnsignedBytes) {
  BindingProperty value;
  value.Field("b").SetSigned(2);
  value.Field("a").SetSigned(1);
  EXPECT_EQ(FieldNames(value), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Visit(value), "{2 (a i:1 a) (b i:2 b) } ");

  BindingProperty mixed;
  for (const char* name : {"z", "\xC3\xA9", "ab", "B", "a", "", "a\x7F", "a\x80"}) {
    mixed.Field(name).SetBool(true);
  }
  // Signed bytes would put "a\x80" and "\xC3\xA9" first.
  EXPECT_EQ(FieldNames(mixed),
            (std::vector<std::string>{"", "B", "a", "ab", "a\x7F", "a\x80", "z", "\xC3\xA9"}));
  // Longer names compare their first four bytes at once, then byte by byte.
  BindingProperty longer;
  // "\200bcd" is the byte 0x80 and "bcd" (an octal escape ends after three digits).
  for (const char* name : {"abcd\x80", "\200bcd", "abcdz", "Abcd", "abc\xFFx", "abcde", "abcd"}) {
    longer.Field(name).SetBool(true);
  }
  EXPECT_EQ(FieldNames(longer), (std::vector<std::string>{"Abcd", "abcd", "abcde", "abcdz",
                                                          "abcd\x80", "abc\xFFx", "\200bcd"}));
  // A name occurs once; asking again returns the same field.
  BindingProperty& first = mixed.Field("ab");
  first.SetSigned(5);
  EXPECT_EQ(&mixed.Field(std::string("ab")), &first);
  EXPECT_EQ(&mixed.Field(std::string_view("ab\0zz", 5)), &first);  // cut at the NUL
  EXPECT_EQ(mixed.Size(), 8u);
  EXPECT_EQ(mixed.GetField("ab").GetSigned(), 5);
  EXPECT_EQ(mixed.FindField("ab"), &first);
  EXPECT_EQ(mixed.FindField("nope"), nullptr);
  // Field references stay valid while other fields are added.
  for (int i = 0; i < 100; ++i) mixed.Field("n" + std::to_string(i));
  EXPECT_EQ(first.GetSigned(), 5);
  // Fields are children of the tree, not owners.
  EXPECT_FALSE(first.owns_store());
  EXPECT_EQ(first.store(), mixed.store());
}

// Large structures take members that arrive out of order into a second sorted
// run, merged into the first from time to time: in every insertion order,
// lookups see members in either run, repeated names find their member, member
// references stay valid, and every reader sees one name-ordered structure.
TEST(BindingProperty, LargeStructuresStayOrderedInEveryInsertionOrder) {
  constexpr int kCount = 3000;
  std::vector<int> ascending(kCount);
  for (int i = 0; i < kCount; ++i) ascending[i] = i;
  std::vector<int> descending(ascending.rbegin(), ascending.rend());
  std::vector<int> scattered;
  for (int i = 0; i < kCount; ++i) scattered.push_back(static_cast<int>((i * 1237L) % kCount));
  const auto name_of = [](int n) {
    char name[16];
    std::snprintf(name, sizeof name, "m%05d", n);
    return std::string(name);
  };
  for (const std::vector<int>* order : {&ascending, &descending, &scattered}) {
    BindingProperty doc;
    BindingProperty* first_value = &doc.Field(name_of((*order)[0]));
    for (int step = 0; step < kCount; ++step) {
      const int n = (*order)[step];
      BindingProperty& value = doc.Field(name_of(n));
      value.SetSigned(n);
      if (step % 97 == 0 || step % 97 == 1) {
        ASSERT_EQ(doc.FindField(name_of(n)), &value) << n;
        // Earlier members, wherever they went, are found and not duplicated.
        const int earlier = (*order)[step / 2];
        ASSERT_NE(doc.FindField(name_of(earlier)), nullptr) << earlier;
        EXPECT_EQ(doc.Field(name_of(earlier)).GetSigned(), earlier);
        EXPECT_EQ(doc.Size(), static_cast<std::size_t>(step + 1));
      }
    }
    EXPECT_EQ(first_value, doc.FindField(name_of((*order)[0])));
    EXPECT_EQ(first_value->GetSigned(), (*order)[0]);
    ASSERT_EQ(doc.Size(), static_cast<std::size_t>(kCount));
    std::vector<std::string> expected;
    for (int n = 0; n < kCount; ++n) expected.push_back(name_of(n));
    EXPECT_EQ(FieldNames(doc), expected);
    const BindingProperty copy(doc);
    EXPECT_EQ(FieldNames(copy), expected);
    EXPECT_EQ(copy.GetField(name_of(kCount - 1)).GetSigned(), kCount - 1);
    const std::string visited = Visit(doc);
    EXPECT_EQ(visited.substr(0, 28), "{3000 (m00000 i:0 m00000) (m");
    EXPECT_EQ(visited, Visit(copy));
  }
}

TEST(BindingProperty, AtGrowsCollectionsWithEmptyChildren) {
  BindingProperty value;
  BindingProperty& third = value.At(3);
  EXPECT_EQ(value.kind(), PropertyKind::kCollection);
  EXPECT_EQ(value.Size(), 4u);
  third.SetString("x");
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(value.GetAt(i).IsEmpty());
    EXPECT_FALSE(value.GetAt(i).owns_store());
    EXPECT_EQ(value.GetAt(i).store(), value.store());
  }
  EXPECT_EQ(value.GetAt(3).GetString(), "x");
  // Existing elements are returned, not appended.
  EXPECT_EQ(&value.At(1), &value.GetAt(1));
  EXPECT_EQ(value.Size(), 4u);
  value.Append().SetSigned(9);
  EXPECT_EQ(value.Elements().size(), 5u);
  EXPECT_EQ(value.Elements()[4].GetSigned(), 9);
  // Elements keep their content when the vector grows.
  for (int i = 5; i < 300; ++i) value.At(i).SetSigned(i);
  EXPECT_EQ(value.GetAt(3).GetString(), "x");
  EXPECT_EQ(value.GetAt(299).GetSigned(), 299);
  EXPECT_EQ(value.GetAt(4).GetSigned(), 9);
}

TEST(BindingProperty, MissingOrMistypedLookupsGiveTheSharedEmptyValue) {
  BindingProperty value;
  value.At(1);
  const BindingProperty& empty = BindingProperty::EmptyValue();
  EXPECT_EQ(&value.GetAt(2), &empty);
  EXPECT_EQ(&value.GetField("a"), &empty);
  EXPECT_EQ(&value.GetField(std::string("a")), &empty);
  EXPECT_EQ(value.FindField("a"), nullptr);
  BindingProperty structure;
  structure.Field("a").SetSigned(1);
  EXPECT_EQ(&structure.GetAt(0), &empty);
  EXPECT_EQ(&structure.GetField("b"), &empty);
  EXPECT_EQ(&structure.GetField(static_cast<const char*>(nullptr)), &empty);
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_TRUE(value.Elements().size() == 2 && structure.Elements().empty());
  EXPECT_TRUE(FieldNames(value).empty());
}

TEST(BindingProperty, KindChangesDiscardTheOldContent) {
  BindingProperty value;
  value.SetString("gone");
  value.Field("a").SetSigned(1);
  EXPECT_EQ(value.kind(), PropertyKind::kStructure);
  EXPECT_EQ(value.Size(), 1u);
  EXPECT_EQ(value.store()->FindString("gone"), nullptr);

  // MakeStructure and MakeCollection keep a value of the right kind.
  value.MakeStructure();
  EXPECT_EQ(value.Size(), 1u);
  value.At(1).SetString("elem");
  EXPECT_EQ(value.kind(), PropertyKind::kCollection);
  EXPECT_EQ(value.Size(), 2u);
  EXPECT_EQ(value.store()->FindString("a"), nullptr);  // the field name went too
  value.MakeCollection();
  EXPECT_EQ(value.Size(), 2u);
  // A field named after the value's own string survives the switch.
  BindingProperty self;
  self.SetString("name");
  self.Field(self.GetString()).SetBool(true);
  EXPECT_EQ(FieldNames(self), (std::vector<std::string>{"name"}));
  // Reserve affects only collections.
  BindingProperty scalar;
  scalar.SetSigned(4);
  scalar.Reserve(10);
  scalar.ReserveFields(10);
  EXPECT_EQ(scalar.GetSigned(), 4);
  // Room made for fewer members than arrive: later ones still go in order.
  BindingProperty reserved;
  reserved.MakeStructure();
  reserved.ReserveFields(2);
  for (const char* name : {"d", "b", "e", "a", "c"}) reserved.Field(name).SetString(name);
  reserved.ReserveFields(100);  // has room already: no effect
  EXPECT_EQ(FieldNames(reserved), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(reserved.GetField("e").GetString(), "e");
  BindingProperty huge;
  huge.MakeStructure();
  EXPECT_THROW(huge.ReserveFields(BindingProperty::kMaxCollectionSize + 1), std::length_error);
  // A collection made with room: empty, then filled past the room in order.
  BindingProperty made;
  made.SetString("old");
  made.MakeCollection(2);
  EXPECT_EQ(made.Size(), 0u);
  for (int i = 0; i < 5; ++i) made.Append().SetSigned(i);
  made.MakeCollection(100);  // already a collection: room only
  ASSERT_EQ(made.Size(), 5u);
  EXPECT_EQ(made.GetAt(4).GetSigned(), 4);
  EXPECT_EQ(made.store()->FindString("old"), nullptr);
  EXPECT_THROW(huge.MakeCollection(BindingProperty::kMaxCollectionSize + 1), std::length_error);
  EXPECT_EQ(huge.kind(), PropertyKind::kStructure);
}

TEST(BindingProperty, CollectionLengthIsLimited) {
  BindingProperty value;
  EXPECT_THROW(value.At(BindingProperty::kMaxCollectionSize), std::length_error);
  EXPECT_THROW(value.At(std::numeric_limits<std::size_t>::max()), std::length_error);
  value.MakeCollection();
  EXPECT_THROW(value.Reserve(BindingProperty::kMaxCollectionSize + 1), std::length_error);
  EXPECT_EQ(value.Size(), 0u);
  // Other kinds ignore Reserve, whatever the count.
  BindingProperty other;
  other.MakeStructure();
  EXPECT_NO_THROW(other.Reserve(BindingProperty::kMaxCollectionSize + 1));
  EXPECT_EQ(BindingProperty::kMaxCollectionSize, 268435455u);
}

TEST(BindingProperty, AcceptReportsEverySlotInOrder) {
  BindingProperty value;
  value.Field("list").At(0).SetBool(false);
  value.Field("list").At(1).Field("k").SetUnsigned(7);
  value.Field("list").At(2);  // empty element
  value.Field("list").At(3).MakeCollection();
  value.Field("b").SetBlob(std::vector<uint8_t>{1, 2, 3});
  value.Field("e").SetEnum({4, nullptr});
  value.Field("f").SetDouble(0.5);
  value.Field("i").SetSigned(-1);
  value.Field("s").SetString("hi");
  value.Field("z").MakeStructure();
  EXPECT_EQ(Visit(value),
            "{7 (b b:3 b) (e n:4 e) (f f:0.500000 f) (i i:-1 i) "
            "(list [4 <0 false 0> <1 {1 (k u:7 k) } 1> <2 e 2> <3 [0 ] 3> ] list) "
            "(s s:hi(2) s) (z {0 } z) } ");
  EXPECT_EQ(Visit(BindingProperty()), "e ");
  EXPECT_EQ(Visit(value.GetField("list").GetAt(1)), "{1 (k u:7 k) } ");
}

TEST(BindingProperty, CopiesAreDeepAndIntoTheDestinationTree) {
  BindingProperty source;
  source.Field("name").SetString("n");
  source.Field("list").At(1).SetString("n");
  source.Field("blob").SetBlob(std::vector<uint8_t>{1});

  BindingProperty copy(source);
  EXPECT_NE(copy.store(), source.store());
  EXPECT_TRUE(copy.owns_store());
  EXPECT_EQ(Visit(copy), Visit(source));
  EXPECT_EQ(copy.store()->FindString("n")->count, 2u);
  EXPECT_NE(copy.GetField("blob").GetBlob({}).data(), source.GetField("blob").GetBlob({}).data());
  copy.Field("name").SetString("changed");
  EXPECT_EQ(source.GetField("name").GetString(), "n");

  // Copying into an element interns into the element's tree.
  BindingProperty other;
  other.At(0) = source;
  EXPECT_EQ(other.GetAt(0).GetField("list").GetAt(1).store(), other.store());
  EXPECT_EQ(other.store()->FindString("n")->count, 2u);
  EXPECT_EQ(Visit(other.GetAt(0)), Visit(source));

  // Copy assignment replaces the old content; self-assignment keeps it.
  copy = source;
  EXPECT_EQ(copy.GetField("name").GetString(), "n");
  copy = static_cast<const BindingProperty&>(copy);
  EXPECT_EQ(Visit(copy), Visit(source));
  BindingProperty empty;
  copy = empty;
  EXPECT_TRUE(copy.IsEmpty());
}

TEST(BindingProperty, CopiesWithinOneTreeSeeTheOldContent) {
  BindingProperty tree;
  tree.Field("a").SetSigned(1);
  // An ancestor copied into its own descendant (which exists, empty, by the
  // time the copy starts).
  tree.Field("copy") = tree;
  EXPECT_EQ(Visit(tree), "{2 (a i:1 a) (copy {2 (a i:1 a) (copy e copy) } copy) } ");
  // A descendant copied over its ancestor.
  tree = tree.GetField("copy");
  EXPECT_EQ(Visit(tree), "{2 (a i:1 a) (copy e copy) } ");
  // A leaf descendant copied over its ancestor.
  tree = tree.GetField("a");
  EXPECT_EQ(tree.GetSigned(), 1);
  tree.At(0).SetString("leaf");
  tree = tree.GetAt(0);
  EXPECT_EQ(tree.GetString(), "leaf");
}

TEST(BindingProperty, MovesBetweenOwnersAreConstantTime) {
  BindingProperty source;
  for (int i = 0; i < 50; ++i) source.At(i).SetString("v" + std::to_string(i));
  const PropertyStore* store = source.store();
  BindingProperty target;
  target.SetString("old");
  const AllocatorCounters before = ReadAllocatorCounters();
  BindingProperty moved(std::move(source));
  target = std::move(moved);
  const AllocatorCounters after = ReadAllocatorCounters();
  EXPECT_EQ(after.allocations, before.allocations);
  EXPECT_EQ(target.store(), store);
  EXPECT_EQ(target.Size(), 50u);
  EXPECT_EQ(target.GetAt(49).GetString(), "v49");
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_TRUE(moved.IsEmpty());
  // The displaced content was released.
  EXPECT_EQ(moved.store()->FindString("old"), nullptr);
  target = std::move(target);
  EXPECT_EQ(target.Size(), 50u);

  std::vector<BindingProperty> values;
  for (int i = 0; i < 20; ++i) values.emplace_back().Field("k").SetSigned(i);
  EXPECT_EQ(values[7].GetField("k").GetSigned(), 7);
}

TEST(BindingProperty, MovesOfChildrenCopyAndEmptyTheSource) {
  BindingProperty tree;
  tree.Field("child").At(0).SetString("deep");
  BindingProperty taken(std::move(tree.Field("child")));
  EXPECT_NE(taken.store(), tree.store());
  EXPECT_EQ(taken.GetAt(0).GetString(), "deep");
  EXPECT_TRUE(tree.GetField("child").IsEmpty());
  EXPECT_EQ(tree.store()->FindString("deep"), nullptr);

  BindingProperty other;
  other.At(0) = std::move(taken);
  EXPECT_TRUE(taken.IsEmpty());
  EXPECT_EQ(other.GetAt(0).GetAt(0).GetString(), "deep");
  EXPECT_EQ(other.GetAt(0).GetAt(0).store(), other.store());

  // A descendant moved over its own ancestor.
  other = std::move(other.At(0));
  EXPECT_EQ(Visit(other), "[1 <0 s:deep(4) 0> ] ");
  // An ancestor moved into its own descendant: the tree is emptied.
  other.At(0) = std::move(other);
  EXPECT_TRUE(other.IsEmpty());
}

// Moving an element or field copies it into a fresh tree. Each heap
// allocation of that copy fails in turn: the move throws std::bad_alloc, the
// source keeps its content and nothing is left allocated.
TEST(BindingProperty, MoveFromAChildThatRunsOutOfMemoryThrowsAndKeepsTheSource) {
  struct Case {
    const char* name;
    BindingProperty (*move)(BindingProperty& source);
  };
  const Case kCases[] = {
      {"construct", [](BindingProperty& source) { return BindingProperty(std::move(source)); }},
      {"construct a result",
       [](BindingProperty& source) {
         PropertyResult result(std::move(source));
         return BindingProperty(std::move(result));
       }},
      {"assign",
       [](BindingProperty& source) {
         BindingProperty target;
         target.Field("old").SetString("gone");
         target = std::move(source);
         return target;
       }},
  };
  const uint8_t bytes[] = {1, 2, 3};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    BindingProperty tree;
    BindingProperty& child = tree.Field("child");
    child.Field("name").SetString("Ann");
    child.Field("long").SetString(std::string(3000, 'x'));  // a heap block of the store
    child.Field("blob").SetBlob(bytes, sizeof bytes);       // a heap buffer
    child.Field("list").At(1).SetSigned(7);
    const std::string expected = Visit(child);
    uint64_t failures = 0;
    for (uint64_t allowed = 0; allowed < 100; ++allowed) {
      BindingProperty moved;
      const uint64_t live = ReadAllocatorCounters().live_allocations();
      bool threw = false;
      FailAllocationsAfter(allowed);
      try {
        moved = c.move(child);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      StopFailingAllocations();
      if (!threw) {
        EXPECT_EQ(Visit(moved), expected);
        EXPECT_TRUE(child.IsEmpty());
        break;
      }
      ++failures;
      EXPECT_EQ(ReadAllocatorCounters().live_allocations(), live);
      EXPECT_EQ(Visit(child), expected);
    }
    EXPECT_GE(failures, 3u);  // at least the new store, the long text and the blob
    EXPECT_TRUE(child.IsEmpty());
  }
}

TEST(PropertyResult, ErrorConvention) {
  PropertyResult result;
  result.SetSigned(3);
  result.SetError("Couldn't assign value to 'x'");
  EXPECT_FALSE(result.IsValid());
  EXPECT_EQ(result.GetError(), "Couldn't assign value to 'x'");
  EXPECT_EQ(result.kind(), PropertyKind::kStructure);
  EXPECT_EQ(FieldNames(result), (std::vector<std::string>{"error"}));
  // Passing an error on unchanged, even from the result itself.
  result.SetError(result.GetError());
  EXPECT_EQ(result.GetError(), "Couldn't assign value to 'x'");
  // An "error" field that is not a string gives no message.
  result.Field("error").SetSigned(1);
  EXPECT_EQ(result.GetError(), "");
  result.SetError("m");
  result.Field("error").Clear();
  EXPECT_EQ(result.GetError(), "");

  // A valid result has no message even when it holds an "error" field.
  PropertyResult valid;
  valid.Field("error").SetString("not an error");
  EXPECT_EQ(valid.GetError(), "");

  result.Reset();
  EXPECT_TRUE(result.IsValid());
  EXPECT_TRUE(result.IsEmpty());
}

TEST(PropertyResult, ValidFlagTravelsBetweenResultsOnly) {
  PropertyResult failed;
  failed.SetError("bad");
  PropertyResult copied(failed);
  EXPECT_FALSE(copied.IsValid());
  EXPECT_EQ(copied.GetError(), "bad");
  PropertyResult moved(std::move(copied));
  EXPECT_FALSE(moved.IsValid());
  EXPECT_TRUE(copied.IsEmpty());

  PropertyResult target;
  target = failed;
  EXPECT_FALSE(target.IsValid());
  PropertyResult good;
  good.SetSigned(1);
  target = std::move(good);
  EXPECT_TRUE(target.IsValid());
  EXPECT_EQ(target.GetSigned(), 1);

  BindingProperty bare;
  bare.SetString("v");
  PropertyResult from_bare(bare);
  EXPECT_TRUE(from_bare.IsValid());
  PropertyResult from_moved(std::move(bare));
  EXPECT_TRUE(from_moved.IsValid());
  EXPECT_EQ(from_moved.GetString(), "v");
  // Assigning a bare value keeps the flag.
  failed = BindingProperty();
  EXPECT_FALSE(failed.IsValid());
  // A valid value moves out of a result into a plain property.
  BindingProperty out = std::move(from_moved);
  EXPECT_EQ(out.GetString(), "v");
}

TEST(BindingProperty, DeepTreesNeedNoDeepStack) {
  constexpr int kDepth = 20000;
  BindingProperty root;
  BindingProperty* level = &root;
  for (int i = 0; i < kDepth; ++i) level = i % 2 == 0 ? &level->At(0) : &level->Field("x");
  level->SetString("bottom");

  BindingProperty copy(root);
  const BindingProperty* walk = &copy;
  for (int i = 0; i < kDepth; ++i) walk = i % 2 == 0 ? &walk->GetAt(0) : &walk->GetField("x");
  EXPECT_EQ(walk->GetString(), "bottom");

  struct Counter : PropertyVisitor {
    int opened = 0, closed = 0, leaves = 0;
    void VisitEmpty() override { ++leaves; }
    void VisitBool(bool) override { ++leaves; }
    void VisitSigned(int64_t) override { ++leaves; }
    void VisitUnsigned(uint64_t) override { ++leaves; }
    void VisitFloat(double) override { ++leaves; }
    void VisitString(std::string_view) override { ++leaves; }
    void VisitBlob(const std::vector<uint8_t>&) override { ++leaves; }
    void VisitEnum(const EnumValue&) override { ++leaves; }
    void BeginCollection(std::size_t) override { ++opened; }
    void BeginElement(std::size_t) override {}
    void EndElement(std::size_t) override {}
    void EndCollection() override { ++closed; }
    void BeginStructure(std::size_t) override { ++opened; }
    void BeginField(std::string_view) override {}
    void EndField(std::string_view) override {}
    void EndStructure() override { ++closed; }
  } counter;
  copy.Accept(counter);
  EXPECT_EQ(counter.opened, kDepth);
  EXPECT_EQ(counter.closed, kDepth);
  EXPECT_EQ(counter.leaves, 1);
  root.Clear();
  EXPECT_EQ(root.store()->StringCount(), 0u);
}

TEST(BindingProperty, LargeTreesCostFewHeapAllocations) {
  const AllocatorCounters before = ReadAllocatorCounters();
  const uint64_t pages_before = PropertyPagePool::Instance().ReadCounters().pages_taken;
  std::size_t values = 0;
  {
    // 1000 items of 100 values each:
    //   item{name, id, flag, tags[16 strings], points[26 x {x, y}]}
    BindingProperty root;
    char text[32];
    for (int item = 0; item < 1000; ++item) {
      std::snprintf(text, sizeof text, "item%04d", item);
      BindingProperty& entry = root.Field(text);
      std::snprintf(text, sizeof text, "name of item %d", item);
      entry.Field("name").SetString(text);
      entry.Field("id").SetSigned(item);
      entry.Field("flag").SetBool(item % 2 == 0);
      BindingProperty& tags = entry.Field("tags");
      for (int t = 0; t < 16; ++t) {
        std::snprintf(text, sizeof text, "tag%d", (item + t) % 40);
        tags.At(t).SetString(text);
      }
      BindingProperty& points = entry.Field("points");
      for (int p = 0; p < 26; ++p) {
        BindingProperty& point = points.Append();
        point.Field("x").SetDouble(p * 0.5);
        point.Field("y").SetUnsigned(static_cast<uint64_t>(p));
      }
      values += 1 + 3 + 1 + 16 + 1 + 26 * 3;
    }
    ++values;
    EXPECT_EQ(root.Size(), 1000u);
    EXPECT_EQ(root.GetField("item0500").GetField("points").GetAt(25).GetField("y").GetUnsigned(),
              25u);
  }
  const AllocatorCounters after = ReadAllocatorCounters();
  EXPECT_GE(values, 100000u);
  EXPECT_LE(after.allocations - before.allocations, values / 50);
  EXPECT_EQ(after.live_allocations(), before.live_allocations());
  EXPECT_EQ(PropertyPagePool::Instance().ReadCounters().pages_taken, pages_before);
}

TEST(BindingProperty, SmallStructuresTakeNoPageWhateverTheirNames) {
  // Three members fit the inline pages of the pools of member values and
  // slots. A member name of any length that fits a small block must not take
  // one of their blocks, or a small answer would take a page (and with it a
  // region) on every call.
  if (sizeof(void*) != 4) {
    GTEST_SKIP() << "checks the block sizes of a 32-bit layout";
  }
  for (std::size_t length = 1; length <= 48; ++length) {
    SCOPED_TRACE(length);
    BindingProperty answer;
    answer.Field(std::string(length, 'a')).SetUnsigned(1);
    answer.Field("b").SetUnsigned(2);
    answer.Field("c").SetUnsigned(3);
    EXPECT_EQ(answer.store()->PagesHeld(), 0u);
  }
}

TEST(BindingProperty, DestroyingATreeGivesBackItsHeapParts) {
  // Parts that live outside the store's pages: blob buffers, texts and element
  // arrays too large for the block pools, and a large string table; each nested
  // below containers so that only a walk of the whole tree finds them.
  const AllocatorCounters before = ReadAllocatorCounters();
  const uint64_t pages_before = PropertyPagePool::Instance().ReadCounters().pages_taken;
  {
    BindingProperty root;
    BindingProperty& list = root.Field("list");
    for (int i = 0; i < 300; ++i) list.At(static_cast<std::size_t>(i)).SetSigned(i);
    list.At(7).Field("blob").SetBlob(std::vector<uint8_t>(5000, 0xAB));
    list.At(8).At(2).SetString(std::string(3000, 'x'));
    BindingProperty& names = root.Field("names");
    for (int i = 0; i < 600; ++i) names.Field("n" + std::to_string(i)).SetUnsigned(1);
    root.Field("blob").SetBlob(std::vector<uint8_t>(100, 1));
    EXPECT_GT(ReadAllocatorCounters().live_bytes(), before.live_bytes() + 8000);
    EXPECT_EQ(root.GetField("list").GetAt(8).GetAt(2).Size(), 3000u);
  }
  const AllocatorCounters after = ReadAllocatorCounters();
  EXPECT_EQ(after.live_allocations(), before.live_allocations());
  EXPECT_EQ(after.live_bytes(), before.live_bytes());
  EXPECT_EQ(PropertyPagePool::Instance().ReadCounters().pages_taken, pages_before);

  // A top-level scalar or a cleared tree is released the ordinary way.
  {
    BindingProperty text;
    text.SetString(std::string(2000, 'y'));
    BindingProperty cleared;
    cleared.At(100).SetBlob(std::vector<uint8_t>(10, 2));
    cleared.Clear();
  }
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), before.live_bytes());

  // A tree without blobs is dropped without a walk: its large element array
  // and long text still go back with the store.
  {
    BindingProperty root;
    BindingProperty& list = root.Field("a").Field("list");
    for (int i = 0; i < 500; ++i) list.At(static_cast<std::size_t>(i)).SetSigned(i);
    list.At(3).Field("text").SetString(std::string(4000, 'z'));
    EXPECT_GT(ReadAllocatorCounters().live_bytes(), before.live_bytes() + 8000);
  }
  EXPECT_EQ(ReadAllocatorCounters().live_allocations(), before.live_allocations());
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), before.live_bytes());
}

}  // namespace
}  // namespace Kestrel
