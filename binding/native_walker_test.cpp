#include "binding/native_walker.h"

#include <gtest/gtest.h>

#include <cstring>
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
    EXPECT_EQ(Describe(direct), Describe(expected));
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
