#include "binding/native_walker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "binding/convert_native.h"
#include "binding/core_value_conversion.h"
#include "host_abi/core_value.h"
#include "tests/support/walk_probe.h"
#include "util/counting_allocator.h"

namespace Kestrel {
namespace {

using Client::CoreValue;
using Client::CoreValueKind;

// Every observable part of a host value, ownership and null arrays included.
std::string Describe(const CoreValue& value) {
  std::string text = std::to_string(static_cast<uint32_t>(value.kind)) + ":";
  switch (value.kind) {
    case CoreValueKind::kBool:
      return text + std::to_string(value.bool_value);
    case CoreValueKind::kSigned:
      return text + std::to_string(value.signed_value);
    case CoreValueKind::kUnsigned:
      return text + std::to_string(value.unsigned_value);
    case CoreValueKind::kFloat: {
      uint64_t bits;
      std::memcpy(&bits, &value.float_value, sizeof bits);
      return text + std::to_string(bits);
    }
    case CoreValueKind::kOwnedString:
    case CoreValueKind::kOwnedBlob:
      // One byte past the length: the terminating NUL.
      return text + std::string(value.bytes.data, value.bytes.length + 1);
    case CoreValueKind::kCollection:
      text += value.collection.items == nullptr ? "null[" : "[";
      for (uint32_t i = 0; i < value.collection.count; ++i) {
        text += Describe(value.collection.items[i]) + ",";
      }
      return text + "]";
    case CoreValueKind::kStructure:
      text += value.structure.entries == nullptr ? "null{" : "{";
      for (uint32_t i = 0; i < value.structure.count; ++i) {
        const Client::CoreStructEntry& entry = value.structure.entries[i];
        text += std::string(entry.name) + "/" + std::to_string(entry.name_owned) + "=" +
                Describe(entry.value) + ",";
      }
      return text + "}";
    default:
      return text;
  }
}

// The host value of each probe that converts, written out (see Describe):
// members in name order with owned names, omit-if-zero members left out,
// registered enums by name and others by number, owned texts cut at their
// first NUL, doubles as their IEEE bit patterns (0.1f is 0x3FB99999A0000000,
// NaN 0x7FF8000000000000, -0.0 the sign bit alone).
const std::map<std::string, std::string>& ExpectedHostValues() {
  using namespace std::string_literals;
  static const std::map<std::string, std::string> kValues = {
      {"defaults",
       "10:{adapted/1=2:0,adaptedList/1=9:null[],bits/1=9:null[],blob/1=8:\0,blobs/1=9:null[],"s
       "callback/1=3:0,counts/1=10:null{},d/1=4:0,f/1=4:0,flag/1=1:0,grid/1=9:null[],i16/1=2:0,"
       "i32/1=2:0,i64/1=2:0,i8/1=2:0,level/1=6:None\0,levels/1=9:null[],loose/1=2:0,"s
       "member/1=10:{children/1=9:null[],id/1=3:0,level/1=6:None\0,name/1=6:\0,},"s
       "members/1=9:null[],named/1=10:null{},numbers/1=9:null[],object/1=0:,reals/1=9:null[],"
       "sparseLeaf/1=10:{name/1=6:\0,z/1=2:0,},text/1=6:\0,texts/1=9:null[],u16/1=3:0,u32/1=3:0,"s
       "u64/1=3:0,u8/1=3:0,wide/1=6:None\0,}"s},
      {"filled",
       "10:{adapted/1=2:-5,adaptedList/1=9:[2:9,2:8,],bits/1=9:[1:1,1:0,1:1,],"
       "blob/1=8:\0\x01\xFF\0,blobs/1=9:[8:\t\0,8:\0,],callback/1=3:42,"s
       "counts/1=10:{a/1=2:-2,z/1=2:1,},d/1=4:9221120237041090560,f/1=4:4591870180174331904,"
       "flag/1=1:1,grid/1=9:[9:[3:1,],9:null[],9:[3:2,3:3,],],i16/1=2:-32768,"
       "i32/1=2:-2147483648,i64/1=2:-9223372036854775808,i8/1=2:-128,level/1=6:High\0,"s
       "levels/1=9:[6:High\0,2:5,],loose/1=2:1,"s
       "member/1=10:{children/1=9:[10:{children/1=9:null[],id/1=3:6,level/1=6:Top\0,"s
       "name/1=6:child\0,},],id/1=3:5,level/1=6:Low\0,name/1=6:lead\0,},"s
       "members/1=9:[10:{children/1=9:null[],id/1=3:1,level/1=6:None\0,name/1=6:one\0,},"s
       "10:{children/1=9:null[],id/1=3:2,level/1=6:High\0,name/1=6:two\0,},],"s
       "named/1=10:{p/1=10:{children/1=9:null[],id/1=3:8,level/1=6:Low\0,name/1=6:named\0,},},"s
       "numbers/1=9:[2:3,2:-4,],object/1=10:{k/1=9:[0:,6:deep\0,],},"s
       "reals/1=9:[4:4609434218613702656,4:9223372036854775808,4:9094988921128908188,"
       "4:4636737291354636288,],sparse/1=2:3,"
       "sparseLeaf/1=10:{name/1=6:named\0,z/1=2:0,},sparseList/1=9:[2:4,],sparseLoose/1=2:1,"s
       "sparseMood/1=6:Glad\0,sparseObject/1=2:6,sparseText/1=6:x\0,"s
       "text/1=6:q\"\\\n\x01/\xC3\xA9 end\0,texts/1=9:[6:a\0,6:\0,6:tab\there\0,],"s
       "u16/1=3:65535,u32/1=3:4294967295,u64/1=3:18446744073709551615,u8/1=3:255,"
       "wide/1=6:One\0,}"s},
      {"leaf", "10:{name/1=6:x\0,z/1=2:-1,}"s},
      {"leaf list", "9:[10:{name/1=6:a\0,z/1=2:1,},10:{name/1=6:b\0,z/1=2:2,},]"s},
      {"texts", "9:[6:x\0,6:\0,6:a\0,6:words, quoted \"\0,]"s},
      {"number", "2:-12"},
      {"enum", "6:Glad\0"s},
      {"unnamed enum", "2:1"},
      {"map", "10:{k/1=10:{name/1=6:v\0,z/1=2:1,},}"s},
      {"empty list of unknown", "10:{list/1=9:null[],}"},
      {"twice", "10:{same/1=6:two\0,}"s},
      {"shared, later zero", "10:{other/1=2:2,same/1=2:1,}"},
      {"shared, later set", "10:{other/1=2:2,same/1=2:5,}"},
      {"map, keys cut alike", "10:{j/1=2:3,k/1=2:1,}"},
      {"sparse, text cut to empty", "10:null{}"},
      {"sparse, one member", "10:{number/1=2:5,}"},
      {"sparse, nested member", "10:{inner/1=10:{n/1=2:7,},}"},
  };
  return kValues;
}

TEST(NativeWalkerTest, HostValueMatchesTreeConversion) {
  TypeRegistry registry;
  WalkProbe::RegisterProbes(registry);
  WalkProbe::ForEachProbe([&](const char* label, const auto& native, bool walks) {
    SCOPED_TRACE(label);
    PropertyResult converted;
    ConvertNative(converted, native, registry);
    CoreValue direct;
    std::memset(static_cast<void*>(&direct), 0xAB, sizeof direct);
    const bool walked = ToCoreValue(MakeNativeWalk(native, registry), direct, &registry);
    ASSERT_EQ(walked, walks);
    if (!walked) {
      EXPECT_EQ(direct.kind, CoreValueKind::kNil);
      return;
    }
    ASSERT_TRUE(converted.IsValid());
    // The walk also holds the same blocks as the tree's host value: every
    // array exactly as long as its count.
    ReleaseToCoreValue(direct);
    const uint64_t before_walk = ReadAllocatorCounters().live_bytes();
    ASSERT_TRUE(ToCoreValue(MakeNativeWalk(native, registry), direct, &registry));
    const uint64_t walk_bytes = ReadAllocatorCounters().live_bytes() - before_walk;
    CoreValue expected;
    const uint64_t before_tree = ReadAllocatorCounters().live_bytes();
    ToCoreValue(converted, expected, &registry);
    EXPECT_EQ(walk_bytes, ReadAllocatorCounters().live_bytes() - before_tree);
    const auto written = ExpectedHostValues().find(label);
    ASSERT_NE(written, ExpectedHostValues().end()) << "no host value written out";
    EXPECT_EQ(Describe(direct), written->second);
    EXPECT_EQ(Describe(expected), written->second);
    // Enums without a registry go out as numbers on both paths.
    CoreValue unnamed_direct;
    CoreValue unnamed_expected;
    ASSERT_TRUE(ToCoreValue(MakeNativeWalk(native, registry), unnamed_direct, nullptr));
    ToCoreValue(converted, unnamed_expected, nullptr);
    EXPECT_EQ(Describe(unnamed_direct), Describe(unnamed_expected));
    for (CoreValue* value : {&direct, &expected, &unnamed_direct, &unnamed_expected}) {
      ReleaseToCoreValue(*value);
    }
  });
}

TEST(NativeWalkerTest, OmittedZeroMembersGiveTheWrittenOutHostValue) {
  using namespace std::string_literals;
  using WalkProbe::Mood;
  using WalkProbe::Sparse;
  TypeRegistry registry;
  WalkProbe::RegisterProbes(registry);
  const struct {
    Sparse native;
    std::string expected;
  } rows[] = {
      {Sparse{}, "10:null{}"},
      // A text that starts with NUL is the empty text: left out.
      {Sparse{"\0x"s, 0, {}, {}, Mood::kCalm}, "10:null{}"},
      {Sparse{"", 0, {3}, {}, Mood::kCalm}, "10:{inner/1=10:{n/1=2:3,},}"s},
      {Sparse{"a\0b"s, -1, {0}, {0}, Mood::kGlad, WalkProbe::Loose::kOne, 7},
       "10:{adapted/1=2:7,list/1=9:[2:0,],loose/1=2:1,mood/1=6:Glad\0,number/1=2:-1,"
       "text/1=6:a\0,}"s},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.expected);
    CoreValue walked;
    ASSERT_TRUE(ToCoreValue(MakeNativeWalk(row.native, registry), walked, &registry));
    EXPECT_EQ(Describe(walked), row.expected);
    PropertyResult converted;
    ConvertNative(converted, row.native, registry);
    CoreValue tree;
    ToCoreValue(converted, tree, &registry);
    EXPECT_EQ(Describe(tree), row.expected);
    ReleaseToCoreValue(walked);
    ReleaseToCoreValue(tree);
  }
}

// Texts and names end at their first NUL wherever it lies, in texts short
// enough to be tested a word at a time and longer; bytes 0x01 and 0x80 next
// to it are not NULs.
TEST(NativeWalkerTest, TextsEndAtTheirFirstNulAtAnyOffset) {
  for (std::size_t length = 1; length <= 34; ++length) {
    for (std::size_t nul = 0; nul <= length; ++nul) {
      std::string text(length, '\x01');
      for (std::size_t i = 0; i < length; i += 2) text[i] = '\x80';
      if (nul < length) text[nul] = '\0';
      if (nul + 2 < length) text[nul + 2] = '\0';
      EXPECT_EQ(ConversionDetail::CutAtNul(text).size(), nul) << nul << " of " << length;
    }
  }
}

// Of fields or map keys that name one member (equal up to their first NUL),
// the last one written is kept, on every path.
TEST(NativeWalkerTest, SharedNamesKeepTheLastValueWritten) {
  using namespace std::string_literals;
  TypeRegistry registry;
  WalkProbe::RegisterProbes(registry);
  const auto describe = [&registry](const auto& native) {
    CoreValue walked;
    EXPECT_TRUE(ToCoreValue(MakeNativeWalk(native, registry), walked, &registry));
    PropertyResult converted;
    ConvertNative(converted, native, registry);
    CoreValue tree;
    ToCoreValue(converted, tree, &registry);
    EXPECT_EQ(Describe(walked), Describe(tree));
    std::string text = Describe(walked) + " members:";
    // Whole names: a member's name never keeps the part after a NUL.
    converted.ForEachField([&text](std::string_view name, const BindingProperty&) {
      text += " " + std::string(name);
    });
    ReleaseToCoreValue(walked);
    ReleaseToCoreValue(tree);
    return text;
  };
  EXPECT_EQ(describe(WalkProbe::Shared{}), "10:{other/1=2:2,same/1=2:1,} members: other same");
  EXPECT_EQ(describe(WalkProbe::Shared{1, 5, {}, 2}),
            "10:{other/1=2:2,same/1=2:5,} members: other same");
  const std::unordered_map<std::string, int32_t> counts{{"k\0a"s, 1}, {"j", 3}, {"k\0b"s, 2}};
  int32_t last = 0;
  for (const auto& [key, value] : counts) {
    if (key[0] == 'k') last = value;
  }
  EXPECT_EQ(describe(counts), "10:{j/1=2:3,k/1=2:" + std::to_string(last) + ",} members: j k");
}

}  // namespace
}  // namespace Kestrel
