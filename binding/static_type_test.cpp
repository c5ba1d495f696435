#include "binding/static_type.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

namespace Kestrel {
struct ProbeRecord {
  int value = 0;
};
enum class ProbeEnum : uint8_t { kA };
}  // namespace Kestrel

VYN_STATIC_TYPE(Kestrel::ProbeRecord, "struct Kestrel::ProbeRecord");
VYN_STATIC_TYPE(Kestrel::ProbeEnum, "enum Kestrel::ProbeEnum");

namespace Kestrel {
namespace {

// A second, deliberately plain FNV-1a so the identity tests do not trust Fnv1a32 alone.
uint32_t ReferenceFnv(const std::string& text) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : text) {
    hash = (hash ^ c) * 16777619u;
  }
  return hash;
}

const char kStringSpelling[] =
    "class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >";

TEST(StaticType, StringAndBindingPropertyIdentitiesMatchTheHostTexts) {
  const std::string string_signature =
      "unsigned int __cdecl StaticType::HashCode<class std::basic_string<char,struct "
      "std::char_traits<char>,class std::allocator<char> >>(void)";
  const std::string property_signature =
      "unsigned int __cdecl StaticType::HashCode<class Kestrel::BindingProperty>(void)";

  const StaticTypeInfo& text = StaticType::HashCode<std::string>();
  EXPECT_EQ(text.hash_code, ReferenceFnv(string_signature));
  EXPECT_EQ(text.hash_code, 0x2757680Bu);  // computed with a separate tool
  EXPECT_EQ(text.display_name, "#2757680B");

  const StaticTypeInfo& property = StaticType::HashCode<BindingProperty>();
  EXPECT_EQ(property.hash_code, ReferenceFnv(property_signature));
  EXPECT_EQ(property.hash_code, 0xC6F9C062u);
  EXPECT_EQ(property.display_name, "#C6F9C062");

  EXPECT_EQ(StaticType::HashCode<int>().hash_code,
            ReferenceFnv("unsigned int __cdecl StaticType::HashCode<int>(void)"));
  EXPECT_EQ(StaticType::HashCode<void>().hash_code,
            ReferenceFnv("unsigned int __cdecl StaticType::HashCode<void>(void)"));
}

TEST(StaticType, NameRecordCarriesReadableTextAndTheSameHash) {
  const StaticTypeInfo& named = StaticType::Name<std::string>();
  EXPECT_EQ(named.hash_code, StaticType::HashCode<std::string>().hash_code);
  EXPECT_EQ(named.display_name,
            std::string("const char *__cdecl StaticType::Name<") + kStringSpelling + ">(void)");
  EXPECT_EQ(StaticType::Name<ProbeRecord>().display_name,
            "const char *__cdecl StaticType::Name<struct Kestrel::ProbeRecord>(void)");
  EXPECT_EQ(StaticType::Name<ProbeRecord>().hash_code,
            StaticType::HashCode<ProbeRecord>().hash_code);
}

TEST(StaticType, DisplayNameKeepsLeadingZeros) {
  // This spelling hashes below 0x01000000 (found by search with a separate tool).
  const StaticTypeInfo info = StaticType::MakeHashCodeInfo("struct Probe131");
  EXPECT_EQ(info.hash_code, 0x005ADAE4u);
  EXPECT_EQ(info.display_name, "#005ADAE4");
}

TEST(StaticType, ContainersAreWrittenOutWithSpacedClosingBrackets) {
  const std::string vector_of_strings = std::string("class std::vector<") + kStringSpelling +
                                        ",class std::allocator<" + kStringSpelling + " > >";
  EXPECT_EQ(StaticTypeSpelling<std::vector<std::string>>::Text(), vector_of_strings);
  EXPECT_EQ(StaticType::HashCode<std::vector<std::string>>().hash_code, 0xBFDBCD22u);

  EXPECT_EQ(StaticTypeSpelling<std::vector<int>>::Text(),
            "class std::vector<int,class std::allocator<int> >");
  EXPECT_EQ(StaticTypeSpelling<std::vector<ProbeRecord>>::Text(),
            "class std::vector<struct Kestrel::ProbeRecord,"
            "class std::allocator<struct Kestrel::ProbeRecord> >");
  EXPECT_EQ((StaticTypeSpelling<std::unordered_map<int, bool>>::Text()),
            "class std::unordered_map<int,bool,struct std::hash<int>,struct std::equal_to<int>,"
            "class std::allocator<struct std::pair<int const ,bool> > >");
  EXPECT_EQ((StaticTypeSpelling<std::map<int, bool>>::Text()),
            "class std::map<int,bool,struct std::less<int>,"
            "class std::allocator<struct std::pair<int const ,bool> > >");
  EXPECT_EQ(TemplateSpelling("class X", {"int", "unsigned int"}), "class X<int,unsigned int>");
}

TEST(StaticType, DistinctTypesHaveDistinctIdentities) {
  const uint32_t hashes[] = {
      StaticType::HashCode<int>().hash_code,
      StaticType::HashCode<unsigned int>().hash_code,
      StaticType::HashCode<long>().hash_code,
      StaticType::HashCode<long long>().hash_code,
      StaticType::HashCode<unsigned long long>().hash_code,
      StaticType::HashCode<signed char>().hash_code,
      StaticType::HashCode<char>().hash_code,
      StaticType::HashCode<bool>().hash_code,
      StaticType::HashCode<float>().hash_code,
      StaticType::HashCode<double>().hash_code,
      StaticType::HashCode<ProbeRecord>().hash_code,
      StaticType::HashCode<ProbeEnum>().hash_code,
      StaticType::HashCode<std::vector<ProbeRecord>>().hash_code,
      StaticType::HashCode<std::vector<uint8_t>>().hash_code,
  };
  for (size_t i = 0; i < std::size(hashes); ++i) {
    for (size_t j = i + 1; j < std::size(hashes); ++j) {
      EXPECT_NE(hashes[i], hashes[j]) << i << " vs " << j;
    }
  }
  EXPECT_EQ(StaticTypeSpelling<long long>::Text(), "__int64");
  EXPECT_EQ(StaticTypeSpelling<unsigned long long>::Text(), "unsigned __int64");
}

TEST(StaticType, IdentityIsComputedOnceAndCached) {
  const StaticTypeInfo* first = &StaticType::HashCode<ProbeRecord>();
  const StaticTypeInfo* second = &StaticType::HashCode<ProbeRecord>();
  EXPECT_EQ(first, second);
  EXPECT_NE(first, &StaticType::Name<ProbeRecord>());
  EXPECT_EQ(
      first->hash_code,
      ReferenceFnv("unsigned int __cdecl StaticType::HashCode<struct Kestrel::ProbeRecord>(void)"));
}

static_assert(HasStaticTypeSpelling<ProbeRecord>);
static_assert(HasStaticTypeSpelling<std::vector<std::vector<int>>>);
static_assert(!HasStaticTypeSpelling<std::pair<int, int>>);

}  // namespace
}  // namespace Kestrel
