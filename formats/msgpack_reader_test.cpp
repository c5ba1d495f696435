#include "formats/msgpack_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "formats/tree_builder.h"
#include "util/counting_allocator.h"

namespace Kestrel {
namespace {

using Bytes = std::vector<uint8_t>;

PropertyResult Parse(const Bytes& bytes, std::size_t* position) {
  return ParseMessagePack(bytes.data(), bytes.size(), position);
}

// Renders a tree as compact text: kind:value for scalars, [..] and {name:..}
// for containers, strings with their NULs shown as \0 and blobs in hex.
void Render(const BindingProperty& value, std::ostringstream& out) {
  switch (value.kind()) {
    case PropertyKind::kEmpty:
      out << "empty";
      break;
    case PropertyKind::kBool:
      out << "bool:" << (value.GetBool() ? "true" : "false");
      break;
    case PropertyKind::kSigned:
      out << "signed:" << value.GetSigned();
      break;
    case PropertyKind::kUnsigned:
      out << "unsigned:" << value.GetUnsigned();
      break;
    case PropertyKind::kFloat:
      out << "float:" << std::setprecision(17) << value.GetDouble();
      break;
    case PropertyKind::kString:
      out << "string:\"";
      for (char c : value.GetString()) {
        if (c == '\0') {
          out << "\\0";
        } else {
          out << c;
        }
      }
      out << '"';
      break;
    case PropertyKind::kBlob: {
      static const std::vector<uint8_t> kNone;
      out << "blob:";
      for (uint8_t byte : value.GetBlob(kNone)) {
        out << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(byte) << std::dec;
      }
      break;
    }
    case PropertyKind::kCollection: {
      out << '[';
      bool first = true;
      for (const BindingProperty& element : value.Elements()) {
        if (!first) out << ',';
        first = false;
        Render(element, out);
      }
      out << ']';
      break;
    }
    case PropertyKind::kStructure: {
      out << '{';
      bool first = true;
      value.ForEachField([&](std::string_view name, const BindingProperty& field) {
        if (!first) out << ',';
        first = false;
        out << name << ':';
        Render(field, out);
      });
      out << '}';
      break;
    }
    default:
      out << "other";
      break;
  }
}

std::string Render(const BindingProperty& value) {
  std::ostringstream out;
  Render(value, out);
  return out.str();
}

Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct ValueCase {
  Bytes input;
  std::string expected;
};

TEST(MessagePackReaderTest, EveryAcceptedTypeByteGivesItsKindAndConsumesTheValue) {
  const std::vector<ValueCase> cases = {
      // positive and negative fixint
      {{0x00}, "signed:0"},
      {{0x05}, "signed:5"},
      {{0x7F}, "signed:127"},
      {{0xE0}, "signed:-32"},
      {{0xFF}, "signed:-1"},
      // fixmap, fixarray, fixstr
      {{0x80}, "{}"},
      {{0x81, 0xA1, 'a', 0x01}, "{a:signed:1}"},
      {{0x82, 0xA1, 'b', 0xC3, 0xA1, 'a', 0xC2}, "{a:bool:false,b:bool:true}"},
      {{0x90}, "[]"},
      {{0x93, 0x01, 0xA1, 'x', 0xC0}, "[signed:1,string:\"x\",empty]"},
      {Concat({{0x9F}, Bytes(15, 0x07)}),
       "[signed:7,signed:7,signed:7,signed:7,signed:7,signed:7,signed:7,signed:7,signed:7,"
       "signed:7,signed:7,signed:7,signed:7,signed:7,signed:7]"},
      {{0xA0}, "string:\"\""},
      {{0xA3, 'a', 'b', 'c'}, "string:\"abc\""},
      {Concat({{0xBF}, Bytes(31, 'z')}), "string:\"" + std::string(31, 'z') + "\""},
      // nil, bool
      {{0xC0}, "empty"},
      {{0xC2}, "bool:false"},
      {{0xC3}, "bool:true"},
      // bin 8/16/32
      {{0xC4, 0x00}, "blob:"},
      {{0xC4, 0x02, 0x00, 0xFF}, "blob:00ff"},
      {{0xC5, 0x00, 0x03, 0x01, 0x02, 0x03}, "blob:010203"},
      {{0xC6, 0x00, 0x00, 0x00, 0x01, 0xAB}, "blob:ab"},
      // float 32/64
      {{0xCA, 0x3F, 0xC0, 0x00, 0x00}, "float:1.5"},
      {{0xCA, 0xC1, 0x20, 0x00, 0x00}, "float:-10"},
      {{0xCB, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0}, "float:1.5"},
      {{0xCB, 0xC0, 0x59, 0, 0, 0, 0, 0, 0}, "float:-100"},
      // uint 8/16/32/64
      {{0xCC, 0x05}, "unsigned:5"},
      {{0xCC, 0xFF}, "unsigned:255"},
      {{0xCD, 0x01, 0x00}, "unsigned:256"},
      {{0xCD, 0xFF, 0xFF}, "unsigned:65535"},
      {{0xCE, 0x01, 0x02, 0x03, 0x04}, "unsigned:16909060"},
      {{0xCE, 0xFF, 0xFF, 0xFF, 0xFF}, "unsigned:4294967295"},
      {{0xCF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}, "unsigned:4294967296"},
      {{0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "unsigned:18446744073709551615"},
      // int 8/16/32/64, sign-extended
      {{0xD0, 0x7F}, "signed:127"},
      {{0xD0, 0x80}, "signed:-128"},
      {{0xD1, 0xFF, 0xFE}, "signed:-2"},
      {{0xD1, 0x80, 0x00}, "signed:-32768"},
      {{0xD2, 0x80, 0x00, 0x00, 0x00}, "signed:-2147483648"},
      {{0xD2, 0x7F, 0xFF, 0xFF, 0xFF}, "signed:2147483647"},
      {{0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "signed:-9223372036854775808"},
      {{0xD3, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "signed:9223372036854775807"},
      {{0xD3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, "signed:-2"},
      // str 8/16/32, NULs kept in values
      {Concat({{0xD9, 0x03}, Text("abc")}), "string:\"abc\""},
      {Concat({{0xD9, 0x00}}), "string:\"\""},
      {Concat({{0xDA, 0x00, 0x03}, Text(std::string_view("a\0c", 3))}), "string:\"a\\0c\""},
      {Concat({{0xDB, 0x00, 0x00, 0x00, 0x02}, Text("hi")}), "string:\"hi\""},
      {Concat({{0xDA, 0x01, 0x00}, Bytes(256, 'q')}), "string:\"" + std::string(256, 'q') + "\""},
      // array 16/32, map 16/32
      {{0xDC, 0x00, 0x02, 0x01, 0xCC, 0x02}, "[signed:1,unsigned:2]"},
      {{0xDC, 0x00, 0x00}, "[]"},
      {{0xDD, 0x00, 0x00, 0x00, 0x01, 0xC3}, "[bool:true]"},
      {{0xDE, 0x00, 0x01, 0xA1, 'k', 0xC2}, "{k:bool:false}"},
      {{0xDF, 0x00, 0x00, 0x00, 0x01, 0xD9, 0x01, 'k', 0x90}, "{k:[]}"},
      // keys in every string form
      {{0x83, 0xD9, 0x01, 'a', 0x01, 0xDA, 0x00, 0x01, 'b', 0x02, 0xDB, 0, 0, 0, 1, 'c', 0x03},
       "{a:signed:1,b:signed:2,c:signed:3}"},
      // a nested document
      {{0x82, 0xA3, 'i', 'd', 's', 0x92, 0x81, 0xA1, 'n', 0x01,
        0x80, 0xA4, 'n', 'a', 'm', 'e',  0xA3, 'A',  'n', 'n'},
       "{ids:[{n:signed:1},{}],name:string:\"Ann\"}"},
  };
  for (const ValueCase& test : cases) {
    std::size_t position = 99;
    const PropertyResult result = Parse(test.input, &position);
    SCOPED_TRACE(test.expected);
    ASSERT_TRUE(result.IsValid()) << result.GetError();
    EXPECT_EQ(Render(result), test.expected);
    EXPECT_EQ(position, test.input.size());
  }
}

TEST(MessagePackReaderTest, Float32IsWidenedExactly) {
  std::size_t position = 0;
  // 0.1f: 0x3DCCCCCD
  const PropertyResult tenth = Parse({0xCA, 0x3D, 0xCC, 0xCC, 0xCD}, &position);
  ASSERT_EQ(tenth.kind(), PropertyKind::kFloat);
  EXPECT_EQ(tenth.GetDouble(), static_cast<double>(0.1f));
  EXPECT_NE(tenth.GetDouble(), 0.1);

  const PropertyResult infinity = Parse({0xCA, 0xFF, 0x80, 0x00, 0x00}, &position);
  EXPECT_EQ(infinity.GetDouble(), -std::numeric_limits<double>::infinity());
  const PropertyResult nan = Parse({0xCA, 0x7F, 0xC0, 0x00, 0x00}, &position);
  ASSERT_EQ(nan.kind(), PropertyKind::kFloat);
  EXPECT_NE(nan.GetDouble(), nan.GetDouble());
  const PropertyResult tiny = Parse({0xCA, 0x00, 0x00, 0x00, 0x01}, &position);  // denormal
  EXPECT_EQ(tiny.GetDouble(), static_cast<double>(std::numeric_limits<float>::denorm_min()));
}

TEST(MessagePackReaderTest, UnassignedAndExtensionTypesAreRefused) {
  for (uint8_t type : {0xC1, 0xC7, 0xC8, 0xC9, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8}) {
    std::size_t position = 0;
    const PropertyResult alone = Parse({type, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}, &position);
    EXPECT_FALSE(alone.IsValid());
    EXPECT_EQ(alone.GetError(), "Invalid MessagePack data at position 1.") << int{type};
    EXPECT_EQ(position, 1u);
    // Inside a container the position is still the one after the type byte,
    // and the partly built tree is dropped.
    const PropertyResult nested = Parse({0x82, 0xA1, 'a', 0x01, 0xA1, 'b', type}, &position);
    EXPECT_FALSE(nested.IsValid());
    EXPECT_EQ(nested.GetError(), "Invalid MessagePack data at position 7.");
    EXPECT_EQ(Render(nested), "{error:string:\"Invalid MessagePack data at position 7.\"}");
  }
}

struct FailureCase {
  Bytes input;
  std::string message;
};

TEST(MessagePackReaderTest, TruncatedItemsNameTheirSizeAndWhereTheyStart) {
  const std::string k8 = "Invalid MessagePack data. 8-bit integer value at position ";
  const std::string k16 = "Invalid MessagePack data. 16-bit integer value at position ";
  const std::string k32 = "Invalid MessagePack data. 32-bit integer value at position ";
  const std::string k64 = "Invalid MessagePack data. 64-bit integer value at position ";
  const std::string kEnd = " is truncated.";
  const std::vector<FailureCase> cases = {
      // 1-byte lengths and values
      {{0xCC}, k8 + "1" + kEnd},
      {{0xD0}, k8 + "1" + kEnd},
      {{0xC4}, k8 + "1" + kEnd},
      {{0xD9}, k8 + "1" + kEnd},
      // 2-byte lengths, counts and values
      {{0xCD, 0x01}, k16 + "1" + kEnd},
      {{0xD1}, k16 + "1" + kEnd},
      {{0xC5, 0x00}, k16 + "1" + kEnd},
      {{0xDA, 0x00}, k16 + "1" + kEnd},
      {{0xDC, 0x00}, k16 + "1" + kEnd},
      {{0xDE}, k16 + "1" + kEnd},
      // 4-byte lengths, counts, values and float 32
      {{0xCE, 0x00, 0x00, 0x00}, k32 + "1" + kEnd},
      {{0xD2, 0x00}, k32 + "1" + kEnd},
      {{0xCA, 0x3F, 0xC0}, k32 + "1" + kEnd},
      {{0xC6, 0x00, 0x00}, k32 + "1" + kEnd},
      {{0xDB}, k32 + "1" + kEnd},
      {{0xDD, 0x00, 0x00, 0x00}, k32 + "1" + kEnd},
      {{0xDF, 0x00}, k32 + "1" + kEnd},
      // 8-byte values and float 64
      {{0xCF, 0, 0, 0, 0, 0, 0, 0}, k64 + "1" + kEnd},
      {{0xD3}, k64 + "1" + kEnd},
      {{0xCB, 0x3F, 0xF8}, k64 + "1" + kEnd},
      // string and blob bytes: declared size, then where the bytes start
      {{0xA5, 'a', 'b'}, "Invalid MessagePack data. String of size 5 at position 1 is truncated."},
      {{0xD9, 0x05, 'a'}, "Invalid MessagePack data. String of size 5 at position 2 is truncated."},
      {{0xDA, 0x01, 0x00, 'a'},
       "Invalid MessagePack data. String of size 256 at position 3 is truncated."},
      {{0xDB, 0x00, 0x00, 0x00, 0x05, 'a', 'b', 'c', 'd'},
       "Invalid MessagePack data. String of size 5 at position 5 is truncated."},
      {{0xC4, 0x03, 0x01},
       "Invalid MessagePack data. Raw bytes of size 3 at position 2 are truncated."},
      {{0xC5, 0x00, 0x03},
       "Invalid MessagePack data. Raw bytes of size 3 at position 3 are truncated."},
      {{0xC6, 0x00, 0x00, 0x00, 0x03, 0x01, 0x02},
       "Invalid MessagePack data. Raw bytes of size 3 at position 5 are truncated."},
      // positions count from the start of the whole input
      {{0x92, 0x01, 0xCD, 0x01}, k16 + "3" + kEnd},
      {{0x81, 0xA3, 'a'}, "Invalid MessagePack data. String of size 3 at position 2 is truncated."},
      {{0x81, 0xD9}, k8 + "2" + kEnd},
      {{0x81, 0xA1, 'k', 0xC4, 0x02},
       "Invalid MessagePack data. Raw bytes of size 2 at position 5 are truncated."},
  };
  for (const FailureCase& test : cases) {
    std::size_t position = 0;
    const PropertyResult result = Parse(test.input, &position);
    EXPECT_FALSE(result.IsValid()) << test.message;
    EXPECT_EQ(result.GetError(), test.message);
  }
}

TEST(MessagePackReaderTest, MapKeysMustBeStrings) {
  const std::string k2 = "Invalid MessagePack data at position 2. Map keys must be strings.";
  for (uint8_t key : {0x01, 0xC0, 0xC3, 0xC4, 0xCC, 0x90, 0x80, 0xFF, 0xC1}) {
    std::size_t position = 0;
    const PropertyResult result = Parse({0x81, key, 0x01, 0x01, 0x01}, &position);
    EXPECT_FALSE(result.IsValid());
    EXPECT_EQ(result.GetError(), k2) << int{key};
    EXPECT_EQ(position, 2u);
  }
  std::size_t position = 0;
  const PropertyResult second = Parse({0x82, 0xA1, 'a', 0x01, 0x92}, &position);
  EXPECT_EQ(second.GetError(), "Invalid MessagePack data at position 5. Map keys must be strings.");
}

TEST(MessagePackReaderTest, ReadsOneValueAndLeavesTheRestToTheCaller) {
  std::size_t position = 0;
  PropertyResult result = Parse({0x01, 0x02}, &position);
  EXPECT_EQ(Render(result), "signed:1");
  EXPECT_EQ(position, 1u);

  result = Parse({0x90, 0x01}, &position);
  EXPECT_EQ(Render(result), "[]");
  EXPECT_EQ(position, 1u);

  result = Parse({0x91, 0x91, 0x01, 0xC3, 0xC3}, &position);
  EXPECT_EQ(Render(result), "[[signed:1]]");
  EXPECT_EQ(position, 3u);

  result = Parse({0x81, 0xA1, 'a', 0x80, 0x05}, &position);
  EXPECT_EQ(Render(result), "{a:{}}");
  EXPECT_EQ(position, 4u);

  // Counts of 16 and 32 bits are big-endian: the container ends where its
  // count says, before the next element.
  const struct {
    Bytes input;
    std::string expected;
    std::size_t end;
  } counted[] = {
      {{0xDC, 0x00, 0x01, 0x01, 0x02}, "[signed:1]", 4},
      {{0xDD, 0x00, 0x00, 0x00, 0x01, 0x01, 0x02}, "[signed:1]", 6},
      {{0xDE, 0x00, 0x01, 0xA1, 'a', 0x01, 0x02}, "{a:signed:1}", 6},
      {{0xDF, 0x00, 0x00, 0x00, 0x01, 0xA1, 'a', 0x01, 0x02}, "{a:signed:1}", 8},
  };
  for (const auto& row : counted) {
    result = Parse(row.input, &position);
    EXPECT_EQ(Render(result), row.expected);
    EXPECT_EQ(position, row.end) << row.expected;
  }

  // Without an output position.
  result = ParseMessagePack(Bytes{0xC3}.data(), 1, nullptr);
  EXPECT_EQ(Render(result), "bool:true");
}

TEST(MessagePackReaderTest, InputEndingInsideAContainerKeepsWhatWasRead) {
  std::size_t position = 0;
  PropertyResult result = Parse({0x92, 0x01}, &position);
  ASSERT_TRUE(result.IsValid());
  EXPECT_EQ(Render(result), "[signed:1]");
  EXPECT_EQ(position, 2u);

  // A key without its value makes no member.
  result = Parse({0x82, 0xA1, 'a', 0x01, 0xA1, 'b'}, &position);
  ASSERT_TRUE(result.IsValid());
  EXPECT_EQ(Render(result), "{a:signed:1}");
  EXPECT_EQ(position, 6u);

  result = Parse({0x91, 0x82, 0xA1, 'x', 0x92, 0xC2}, &position);
  ASSERT_TRUE(result.IsValid());
  EXPECT_EQ(Render(result), "[{x:[bool:false]}]");

  result = Parse({0xDD, 0x00, 0x00, 0x00, 0x05}, &position);
  ASSERT_TRUE(result.IsValid());
  EXPECT_EQ(Render(result), "[]");
  EXPECT_EQ(position, 5u);
}

TEST(MessagePackReaderTest, EmptyInputGivesAnEmptyValidValue) {
  std::size_t position = 7;
  PropertyResult result = Parse({}, &position);
  EXPECT_TRUE(result.IsValid());
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(position, 0u);

  position = 7;
  result = ParseMessagePack(nullptr, 0, &position);
  EXPECT_TRUE(result.IsValid());
  EXPECT_TRUE(result.IsEmpty());
  EXPECT_EQ(position, 0u);
}

TEST(MessagePackReaderTest, KeysAreCutAtNulButStringValuesAreNot) {
  std::size_t position = 0;
  const PropertyResult result =
      Parse({0x82, 0xA3, 'a', 0x00, 'b', 0xA3, 'x', 0x00, 'y', 0xA1, 'a', 0x01}, &position);
  ASSERT_TRUE(result.IsValid());
  // "a\0b" and "a" name the same member; the later value wins.
  EXPECT_EQ(Render(result), "{a:signed:1}");

  const PropertyResult value = Parse({0x81, 0xA1, 'k', 0xA3, 'x', 0x00, 'y'}, &position);
  EXPECT_EQ(value.GetField("k").Size(), 3u);
  EXPECT_EQ(value.GetField("k").GetString(), std::string_view("x\0y", 3));
}

TEST(MessagePackReaderTest, RepeatedKeysReplaceTheEarlierValueUnlessNil) {
  const std::vector<ValueCase> cases = {
      // scalars: the later replaces, nil keeps
      {{0x83, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02, 0xA1, 'a', 0xC0}, "{a:signed:2}"},
      {{0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xC0}, "{a:signed:1}"},
      {{0x82, 0xA1, 'a', 0xC0, 0xA1, 'a', 0xC0}, "{a:empty}"},
      // an earlier array is replaced, not merged, and the next key is still a key
      {{0x83, 0xA1, 'a', 0x92, 0x01, 0x02, 0xA1, 'a', 0x91, 0x03, 0xA1, 'b', 0x04},
       "{a:[signed:3],b:signed:4}"},
      {{0x83, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0x90, 0xA1, 'b', 0x04}, "{a:[],b:signed:4}"},
      // an earlier map is replaced
      {{0x83, 0xA1, 'm', 0x81, 0xA1, 'x', 0x01, 0xA1, 'm', 0x81, 0xA1, 'y', 0x02, 0xA1, 'b', 0x04},
       "{b:signed:4,m:{y:signed:2}}"},
      // kinds change in both directions
      {{0x82, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0xA1, 's'}, "{a:string:\"s\"}"},
      {{0x82, 0xA1, 'a', 0x05, 0xA1, 'a', 0x81, 0xA1, 'z', 0xC3}, "{a:{z:bool:true}}"},
      {{0x82, 0xA1, 'a', 0x80, 0xA1, 'a', 0x91, 0x01}, "{a:[signed:1]}"},
      // a container followed by nil stays
      {{0x82, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0xC0}, "{a:[signed:1]}"},
      // nested: a repeated key inside a member of an outer repeated key
      {{0x82, 0xA1, 'o', 0x82, 0xA1, 'i', 0x91, 0x01, 0xA1, 'i', 0x91, 0x02, 0xA1, 'o', 0xC0},
       "{o:{i:[signed:2]}}"},
  };
  for (const ValueCase& test : cases) {
    std::size_t position = 0;
    const PropertyResult result = Parse(test.input, &position);
    SCOPED_TRACE(test.expected);
    ASSERT_TRUE(result.IsValid()) << result.GetError();
    EXPECT_EQ(Render(result), test.expected);
    EXPECT_EQ(position, test.input.size());
  }
}

TEST(MessagePackReaderTest, NilLeavesNewElementsAndMembersEmpty) {
  std::size_t position = 0;
  const PropertyResult result = Parse({0x93, 0xC0, 0x01, 0x81, 0xA1, 'n', 0xC0}, &position);
  ASSERT_TRUE(result.IsValid());
  EXPECT_EQ(Render(result), "[empty,signed:1,{n:empty}]");
}

// Depth of the chain of first elements (or first members) below `value`.
std::size_t NestingDepth(const BindingProperty& value) {
  std::size_t depth = 0;
  const BindingProperty* level = &value;
  while (level->kind() == PropertyKind::kCollection && level->Size() > 0) {
    level = &level->GetAt(0);
    ++depth;
  }
  return depth;
}

TEST(MessagePackReaderTest, NestingIsBoundedWithoutExhaustingTheStack) {
  std::size_t position = 0;
  // A value inside 512 arrays is accepted.
  Bytes deepest_allowed(kMaxNestingDepth, 0x91);
  deepest_allowed.push_back(0x2A);
  PropertyResult result = Parse(deepest_allowed, &position);
  ASSERT_TRUE(result.IsValid()) << result.GetError();
  EXPECT_EQ(NestingDepth(result), 512u);
  EXPECT_EQ(position, deepest_allowed.size());
  const BindingProperty* leaf = &result;
  for (std::size_t i = 0; i < kMaxNestingDepth; ++i) leaf = &leaf->GetAt(0);
  EXPECT_EQ(leaf->GetSigned(), 42);

  // One more array is refused where it opens.
  Bytes one_too_deep(kMaxNestingDepth + 1, 0x91);
  one_too_deep.push_back(0x2A);
  result = Parse(one_too_deep, &position);
  EXPECT_FALSE(result.IsValid());
  EXPECT_EQ(result.GetError(),
            "Invalid MessagePack data. Nesting deeper than 512 levels at position 513.");
  EXPECT_EQ(position, 513u);

  // Maps count as levels too.
  Bytes maps;
  for (std::size_t i = 0; i <= kMaxNestingDepth; ++i) {
    maps.insert(maps.end(), {0x81, 0xA1, 'k'});
  }
  maps.push_back(0x01);
  result = Parse(maps, &position);
  EXPECT_EQ(result.GetError(),
            "Invalid MessagePack data. Nesting deeper than 512 levels at position 1537.");

  // A million nested arrays: refused, nothing overflows.
  const Bytes hostile(1000000, 0x91);
  result = Parse(hostile, &position);
  EXPECT_FALSE(result.IsValid());
  EXPECT_EQ(result.GetError(),
            "Invalid MessagePack data. Nesting deeper than 512 levels at position 513.");

  // Depth that closes again does not accumulate: many arrays at depth 512.
  Bytes siblings(kMaxNestingDepth - 2, 0x91);
  siblings.push_back(0xDC);
  siblings.push_back(0x03);
  siblings.push_back(0xE8);  // 1000 siblings
  for (int i = 0; i < 1000; ++i) siblings.insert(siblings.end(), {0x91, 0x01});
  result = Parse(siblings, &position);
  ASSERT_TRUE(result.IsValid()) << result.GetError();
  EXPECT_EQ(position, siblings.size());
}

TEST(MessagePackReaderTest, DeclaredLengthsNeverAllocateBeforeTheBytesArrive) {
  struct HostileCase {
    Bytes input;
    std::string expected;  // rendered value, or the error
  };
  const std::vector<HostileCase> cases = {
      {{0xDD, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x02}, "[signed:1,signed:2]"},
      {{0xDD, 0x00, 0xFF, 0xFF, 0xFF, 0x01, 0x02}, "[signed:1,signed:2]"},
      {{0xDC, 0xFF, 0xFF, 0xC3}, "[bool:true]"},
      {{0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'a', 0x01}, "{a:signed:1}"},
      {{0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b'},
       "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated."},
      {{0xDB, 0x0F, 0xFF, 0xFF, 0xFF, 'a'},
       "Invalid MessagePack data. String of size 268435455 at position 5 is truncated."},
      {{0xC6, 0x0F, 0xFF, 0xFF, 0xFF, 0x00},
       "Invalid MessagePack data. Raw bytes of size 268435455 at position 5 are truncated."},
      {{0x81, 0xDB, 0x0F, 0xFF, 0xFF, 0xFF, 'k'},
       "Invalid MessagePack data. String of size 268435455 at position 6 is truncated."},
  };
  for (const HostileCase& test : cases) {
    const AllocatorCounters before = ReadAllocatorCounters();
    std::size_t position = 0;
    const PropertyResult result = Parse(test.input, &position);
    const AllocatorCounters after = ReadAllocatorCounters();
    SCOPED_TRACE(test.expected);
    EXPECT_EQ(result.IsValid() ? Render(result) : std::string(result.GetError()), test.expected);
    // Reserving for the declared count or length would take hundreds of MB.
    EXPECT_LT(after.bytes_allocated - before.bytes_allocated, 64u * 1024u);
  }
}

TEST(MessagePackReaderTest, LooksLikeMessagePackOnlyForContainerStarts) {
  for (int first = 0; first <= 0xFF; ++first) {
    const uint8_t byte = static_cast<uint8_t>(first);
    const bool expected = (first >= 0x80 && first <= 0x9F) || (first >= 0xDC && first <= 0xDF);
    EXPECT_EQ(LooksLikeMessagePack(&byte, 1), expected) << first;
  }
  const uint8_t map = 0x81;
  EXPECT_FALSE(LooksLikeMessagePack(&map, 0));
  EXPECT_FALSE(LooksLikeMessagePack(nullptr, 0));
  const Bytes json = Text("{\"a\":1}");
  EXPECT_FALSE(LooksLikeMessagePack(json.data(), json.size()));
}

}  // namespace
}  // namespace Kestrel
