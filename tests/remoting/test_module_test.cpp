#include "tests/remoting/test_module.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "binding/core_value_conversion.h"
#include "formats/json_reader.h"
#include "formats/json_writer.h"
#include "host_abi/http_method.h"
#include "remoting/argument_binding.h"
#include "tests/support/dispatch_support.h"
#include "util/counting_allocator.h"

namespace Kestrel::Testing {
namespace {

using Client::ReadPacked;
using RemotingTest::RequestBuilder;
using RemotingTest::ResponseHolder;

// What a call answered, copied out of the response record.
struct Reply {
  bool failed = false;
  std::string error;
  uint32_t status = 0;
  BindingProperty value;

  std::string Json() const { return WriteJson(value); }
  // The JSON of the field `name` of the value.
  std::string Json(const char* name) const { return WriteJson(value.GetField(name)); }
};

// Host values for request arguments, released when the test ends.
class HostValues {
 public:
  HostValues() = default;
  HostValues(const HostValues&) = delete;
  HostValues& operator=(const HostValues&) = delete;
  ~HostValues() {
    for (Client::CoreValue& value : values_) ReleaseToCoreValue(value);
  }
  // The host form of `property`.
  Client::CoreValue Make(const BindingProperty& property) {
    Client::CoreValue& value = values_.emplace_back();
    ToCoreValue(property, value, nullptr);
    return value;
  }
  Client::CoreValue FromJson(const char* json) {
    PropertyResult parsed = ParseJson(json);
    EXPECT_TRUE(parsed.IsValid()) << json;
    return Make(parsed);
  }

 private:
  std::deque<Client::CoreValue> values_;
};

class TestModuleTest : public ::testing::Test {
 protected:
  TestModuleTest() : module_(CreateTestModule()) {}

  Reply Call(const char* function, RequestBuilder& request) {
    Reply reply;
    const Client::CoreFunctionDescriptor* descriptor = module_->FindDescriptor(function);
    EXPECT_NE(descriptor, nullptr) << function;
    if (descriptor == nullptr) return reply;
    ResponseHolder response;
    CallDescriptor(*descriptor, response.get(), request.Build());
    reply.failed = response.failed();
    reply.error = response.error();
    reply.status = response.status();
    std::string message;
    EXPECT_TRUE(FromCoreValue(response.raw().value, reply.value, "<value>", &message)) << message;
    return reply;
  }
  Reply Call(const char* function, uint32_t method, std::string path) {
    RequestBuilder request(method, std::move(path));
    return Call(function, request);
  }
  // The error of a call of the scalars function with `query`, "" on success.
  std::string ScalarsError(const std::string& query) {
    return Call(kScalarsFunction, kMethodGet, "/scalars/x?" + query).error;
  }
  std::string VectorsError(const std::string& query) {
    return Call(kVectorsFunction, kMethodPost, "/vectors/x?" + query).error;
  }

  std::unique_ptr<TestModule> module_;
};

TEST_F(TestModuleTest, DescriptorsDescribeEveryRoute) {
  ASSERT_EQ(module_->descriptor_count(), 12u);
  for (std::size_t i = 0; i < module_->descriptor_count(); ++i) {
    const Client::CoreFunctionDescriptor& descriptor = module_->descriptor(i);
    ASSERT_NE(ReadPacked(descriptor.function.name), nullptr) << i;
    EXPECT_EQ(module_->FindDescriptor(descriptor.function.name), &descriptor);
    EXPECT_NE(ReadPacked(descriptor.callback), nullptr);
    EXPECT_NE(ReadPacked(descriptor.function.function_context), nullptr);
  }
  EXPECT_EQ(module_->FindDescriptor("Nothing"), nullptr);

  const auto* put = module_->FindDescriptor(kPutRecordFunction);
  ASSERT_NE(put, nullptr);
  EXPECT_EQ(ReadPacked(put->method), kMethodPut);
  EXPECT_STREQ(put->path, "/records/{id}");
  EXPECT_EQ(ReadPacked(module_->FindDescriptor(kDeleteRecordFunction)->method), kMethodDelete);
  const auto* purge = module_->FindDescriptor(kPurgeFunction);
  EXPECT_EQ(ReadPacked(purge->method), kMethodCustom);
  EXPECT_STREQ(purge->method_name, "PURGE");
  EXPECT_EQ(ReadPacked(module_->FindDescriptor(kAnyMethodFunction)->method), 0u);
  const auto* echo = module_->FindDescriptor(kHostArgumentsFunction);
  EXPECT_STREQ(echo->path, "");
  ASSERT_EQ(ReadPacked(echo->function.argument_count), 4u);
  EXPECT_EQ(ReadPacked(echo->function.arguments[2].type.kind), 17u);
  EXPECT_STREQ(echo->function.arguments[2].type.type_name, "Inner");

  // Every native kind but the callback appears among the arguments.
  std::vector<bool> seen(20, false);
  for (std::size_t i = 0; i < module_->descriptor_count(); ++i) {
    const Client::CoreFunctionRecord& function = module_->descriptor(i).function;
    for (uint32_t a = 0; a < function.argument_count; ++a) {
      const Client::CoreTypeId& type = function.arguments[a].type;
      if (type.kind < seen.size()) seen[type.kind] = true;
      if (type.element_kind < seen.size()) seen[type.element_kind] = true;
    }
  }
  for (uint32_t kind = 1; kind < 20; ++kind) {
    if (kind == 18) continue;
    EXPECT_TRUE(seen[kind]) << "kind " << kind;
  }

  // A path no route takes.
  Reply missing = Call(kScalarsFunction, kMethodGet, "/nothing");
  EXPECT_EQ(missing.error, "Invalid function");
  EXPECT_EQ(missing.status, 404u);
}

TEST_F(TestModuleTest, EveryScalarKindFromTheQuery) {
  Reply reply = Call(kScalarsFunction, kMethodGet,
                     "/scalars/x?flag&int8=-128&uint8=255&int16=0x7FFF&uint16=65535"
                     "&int32=-2147483648&uint32=4294967295&int64=-9223372036854775808"
                     "&uint64=18446744073709551615&single=1.5&real=-2.25&text=a%20b+c"
                     "&object=%7B%22k%22%3A1%7D&blob=aGk%3D&shade=Dark&tone=100");
  ASSERT_FALSE(reply.failed) << reply.error;
  const BindingProperty& v = reply.value;
  EXPECT_TRUE(v.GetField("flag").GetBool());
  EXPECT_EQ(v.GetField("int8").GetSigned(), -128);
  EXPECT_EQ(v.GetField("uint8").GetUnsigned(), 255u);
  EXPECT_EQ(v.GetField("int16").GetSigned(), 32767);
  EXPECT_EQ(v.GetField("uint16").GetUnsigned(), 65535u);
  EXPECT_EQ(v.GetField("int32").GetSigned(), INT32_MIN);
  EXPECT_EQ(v.GetField("uint32").GetUnsigned(), UINT32_MAX);
  EXPECT_EQ(v.GetField("int64").GetSigned(), INT64_MIN);
  EXPECT_EQ(v.GetField("uint64").GetUnsigned(), UINT64_MAX);
  EXPECT_EQ(v.GetField("single").GetDouble(), 1.5);
  EXPECT_EQ(v.GetField("real").GetDouble(), -2.25);
  EXPECT_EQ(v.GetField("text").GetString(), "a b c");
  EXPECT_EQ(reply.Json("object"), "{\"k\":1}");  // a composite text read as JSON
  EXPECT_EQ(reply.Json("blob"), "\"aGk=\"");
  EXPECT_EQ(reply.Json("shade"), "\"Dark\"");
  EXPECT_EQ(reply.Json("tone"), "\"High\"");

  // Octal, a text object, an enum by number, a 1-byte enum, optional ones left out.
  reply = Call(kScalarsFunction, kMethodGet, "/scalars/x?int8=017&object=abc&shade=1&tone=0x1");
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.value.GetField("int8").GetSigned(), 15);
  EXPECT_EQ(reply.Json("object"), "\"abc\"");
  EXPECT_EQ(reply.Json("shade"), "\"Light\"");
  EXPECT_EQ(reply.Json("tone"), "\"Low\"");
  EXPECT_FALSE(reply.value.GetField("flag").GetBool());  // required bool starts false
  EXPECT_EQ(reply.value.GetField("uint64").GetUnsigned(), 0u);
  EXPECT_EQ(reply.Json("text"), "\"\"");

  // Each kind's rejections, with their exact messages.
  EXPECT_EQ(ScalarsError("int8=128"), "Value 128 for 'int8' of type int8 is out of range");
  EXPECT_EQ(ScalarsError("int8=0x80"), "Value 0x80 for 'int8' of type int8 is out of range");
  EXPECT_EQ(ScalarsError("uint16=-1"), "Value -1 for 'uint16' of type uint16 is out of range");
  EXPECT_EQ(ScalarsError("uint32=-0"), "Value -0 for 'uint32' of type uint32 is out of range");
  EXPECT_EQ(ScalarsError("int32=12abc"),
            "Value 12abc for 'int32' of type int32 is in an incorrect format");
  EXPECT_EQ(ScalarsError("int64=9223372036854775808"),
            "Value 9223372036854775808 for 'int64' of type int64 is out of range");
  EXPECT_EQ(ScalarsError("single=1e39"), "Value 1e39 for 'single' of type float is out of range");
  EXPECT_EQ(ScalarsError("real=1e-400"), "Value 1e-400 for 'real' of type double is out of range");
  EXPECT_EQ(ScalarsError("real=1.5x"),
            "Value 1.5x for 'real' of type double is in an incorrect format");
  EXPECT_EQ(ScalarsError("flag=TRUE"),
            "Value TRUE for 'flag' of type bool is in an incorrect format. Options are \"true\", "
            "\"false\", \"1\", \"0\".");
  EXPECT_EQ(ScalarsError("shade=7"), "7 is not a valid Shade enumeration value for 'shade'.");
  EXPECT_EQ(ScalarsError("tone=0"), "0 is not a valid Tone enumeration value for 'tone'.");
  EXPECT_EQ(ScalarsError("blob=a*b"),
            "Couldn't assign string value to 'blob' of type blob because the input has invalid "
            "base64 characters.");
  // '+' is a space in a query, which Base64 does not allow.
  EXPECT_EQ(ScalarsError("blob=a+b="),
            "Couldn't assign string value to 'blob' of type blob because the input has invalid "
            "base64 characters.");
  EXPECT_EQ(ScalarsError("blob=a%2Bb%3D"), "");
}

TEST_F(TestModuleTest, NamedBindingMessages) {
  // Unknown argument, also for an empty piece and a handler that would ignore it.
  EXPECT_EQ(ScalarsError("nope=1"), "Unknown argument 'nope' for 'GetScalarsByRest'.");
  EXPECT_EQ(ScalarsError("int8=1&&int16=2"), "Unknown argument '' for 'GetScalarsByRest'.");
  EXPECT_EQ(ScalarsError("nope.0=1"), "Unknown argument 'nope' for 'GetScalarsByRest'.");
  // An argument whose location is fixed, named from another source.
  Reply reply = Call(kLocatedFunction, kMethodGet, "/located/1/x?id=5");
  EXPECT_EQ(reply.error,
            "Argument 'id' for 'GetLocatedByIdByRest' was specified in an invalid location.");
  reply = Call(kLocatedFunction, kMethodGet, "/located/1/x?X-Trace=5");
  EXPECT_EQ(reply.error,
            "Argument 'X-Trace' for 'GetLocatedByIdByRest' was specified in an invalid location.");
  // Expected value: an empty value for a kind that has no empty form.
  EXPECT_EQ(ScalarsError("int32="), "Expected value for argument 'int32'.");
  EXPECT_EQ(ScalarsError("text"), "Expected value for argument 'text'.");
  // Empty values of the kinds that have one.
  reply = Call(kScalarsFunction, kMethodGet, "/scalars/x?flag=&object=");
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_TRUE(reply.value.GetField("flag").GetBool());
  EXPECT_EQ(reply.Json("object"), "{}");
  reply = Call(kScalarsFunction, kMethodGet, "/scalars/x?flag=0");
  EXPECT_FALSE(reply.value.GetField("flag").GetBool());
  reply = Call(kVectorsFunction, kMethodPost, "/vectors/x?int32s=&inner=");
  EXPECT_EQ(reply.error,
            "Couldn't assign value to 'inner' of type Inner because the input structure doesn't "
            "have required field 'id'.");
  reply = Call(kVectorsFunction, kMethodPost, "/vectors/x?int32s=");
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(WriteJson(reply.value.GetField("vectors").GetField("int32s")), "[]");
  // A later duplicate replaces the earlier value.
  reply = Call(kScalarsFunction, kMethodGet, "/scalars/x?int16=1&int16=2");
  EXPECT_EQ(reply.value.GetField("int16").GetSigned(), 2);
  // "?" at the end means no query.
  reply = Call(kScalarsFunction, kMethodGet, "/scalars/x?");
  EXPECT_FALSE(reply.failed) << reply.error;
}

TEST_F(TestModuleTest, ContainersFromTheQuery) {
  Reply reply =
      Call(kVectorsFunction, kMethodPost,
           "/vectors/x?int32s=[1,-2,3]&bools.1=true&items.2=c&items.0=a"
           "&inner.id=4&inner.label=four&inner_map.k.id=9"
           "&nested=---%0A- [1, 2]%0A- []%0A&int16s=%92%01%02&counts.b=2&counts.a=1"
           "&shades=[%22Dark%22,0]&singles=[0.5]&reals.0=2.5&uint64s=[18446744073709551615]"
           "&inners=[{%22id%22:1},{%22id%22:2,%22label%22:%22b%22}]"
           "&blobs=[%22aGk=%22]&objects=[1,%22s%22,null]"
           "&int8s=[-1]&uint16s=[7]&uint32s=[8]&int64s=[-9]");
  ASSERT_FALSE(reply.failed) << reply.error;
  const BindingProperty& vectors = reply.value.GetField("vectors");
  auto json = [&](const char* name) { return WriteJson(vectors.GetField(name)); };
  EXPECT_EQ(json("int32s"), "[1,-2,3]");
  EXPECT_EQ(json("bools"), "[false,true]");  // the empty first element keeps its default
  EXPECT_EQ(json("texts"), "[\"a\",\"\",\"c\"]");
  EXPECT_EQ(json("nested"), "[[1,2],[]]");  // YAML
  EXPECT_EQ(json("int16s"), "[1,2]");       // MessagePack
  EXPECT_EQ(json("shades"), "[\"Dark\",\"None\"]");
  EXPECT_EQ(json("singles"), "[0.5]");
  EXPECT_EQ(json("reals"), "[2.5]");
  EXPECT_EQ(json("uint64s"), "[18446744073709551615]");
  EXPECT_EQ(json("inners"), "[{\"id\":1,\"label\":\"\"},{\"id\":2,\"label\":\"b\"}]");
  EXPECT_EQ(json("blobs"), "[\"aGk=\"]");
  EXPECT_EQ(json("objects"), "[1,\"s\",null]");
  EXPECT_EQ(json("int8s"), "[-1]");
  EXPECT_EQ(json("uint16s"), "[7]");
  EXPECT_EQ(json("uint32s"), "[8]");
  EXPECT_EQ(json("int64s"), "[-9]");
  EXPECT_EQ(reply.Json("inner"), "{\"id\":4,\"label\":\"four\"}");
  EXPECT_EQ(reply.Json("counts"), "{\"a\":1,\"b\":2}");
  EXPECT_EQ(reply.Json("inners"), "{\"k\":{\"id\":9,\"label\":\"\"}}");

  // Failures inside containers name the innermost path.
  EXPECT_EQ(VectorsError("inners=[{%22id%22:%22x%22}]"),
            "Value x for 'id' of type int32 is in an incorrect format");
  EXPECT_EQ(VectorsError("int8s=[1,300]"), "Value 300 for 'int8s' of type int8 is out of range");
  EXPECT_EQ(VectorsError("int32s=abc"),
            "Couldn't assign value to 'int32s' of type vector because the input not a "
            "collection.");
  // A map is not a composite kind: its text stays a string, so only dotted
  // names can fill it.
  EXPECT_EQ(VectorsError("counts=%7B%22a%22%3A1%7D"),
            "Couldn't assign value to 'counts' of type map because the input not a structure.");
  EXPECT_EQ(VectorsError("inner=abc"),
            "Couldn't assign value to 'inner' of type Inner because the input not a structure.");
  EXPECT_EQ(VectorsError("inner.label=x"),
            "Couldn't assign value to 'inner' of type Inner because the input structure doesn't "
            "have required field 'id'.");
  EXPECT_EQ(VectorsError("inner.-1=z&inner.id=1"), "");  // '-1' is a field name, not an index
  EXPECT_EQ(VectorsError("int32s=[1,"),
            "Couldn't deserialize JSON value for parameter 'int32s' of 'PostVectorsByRest': "
            "Error: Invalid value. at offset 3.");
  EXPECT_EQ(VectorsError("nested=---%0A[1"),
            "Couldn't deserialize YAML value for parameter 'nested' of 'PostVectorsByRest': "
            "YAML parser error: did not find expected ',' or ']'. At line: 2 col: 0");
  EXPECT_EQ(VectorsError("int16s=%81%01%01"),
            "Couldn't deserialize MessagePack value for parameter 'int16s' of "
            "'PostVectorsByRest': Invalid MessagePack data at position 2. Map keys must be "
            "strings.");
  // A MessagePack array that ends early keeps the elements read so far.
  Reply short_array = Call(kVectorsFunction, kMethodPost, "/vectors/x?int16s=%92%01");
  ASSERT_FALSE(short_array.failed) << short_array.error;
  EXPECT_EQ(WriteJson(short_array.value.GetField("vectors").GetField("int16s")), "[1]");
  // A dotted name's decoding message names its last segment; dotted values are strings.
  EXPECT_EQ(VectorsError("int32s.0=%7B"),
            "Value { for 'int32s' of type int32 is in an incorrect format");
}

TEST_F(TestModuleTest, DottedIndexesAreBounded) {
  EXPECT_EQ(VectorsError("items.2x=a"), "Index 2x is in an incorrect format");
  EXPECT_EQ(VectorsError("items.0x=a"), "Index 0x is in an incorrect format");
  EXPECT_EQ(VectorsError("items.09=a"), "Index 09 is in an incorrect format");  // octal
  EXPECT_EQ(VectorsError("items.99999999999=a"), "Index 99999999999 is out of range");
  EXPECT_EQ(VectorsError("items.2147483648=a"), "Index 2147483648 is out of range");
  EXPECT_EQ(VectorsError("items.99999999999999999999999=a"),
            "Index 99999999999999999999999 is out of range");
  // Hexadecimal and octal indexes.
  Reply reply = Call(kVectorsFunction, kMethodPost, "/vectors/x?items.0x2=h&items.03=o");
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(WriteJson(reply.value.GetField("vectors").GetField("texts")),
            "[\"\",\"\",\"h\",\"o\"]");

  // Growth is bounded by 65,536 past the current size.
  EXPECT_EQ(VectorsError("items.65536=a"), "Index 65536 is out of range");
  reply = Call(kVectorsFunction, kMethodPost, "/vectors/x?items.65535=a");
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.value.GetField("vectors").GetField("texts").Size(), 65536u);
  EXPECT_EQ(VectorsError("items=[%22a%22,%22b%22]&items.65538=z"), "Index 65538 is out of range");
  reply = Call(kVectorsFunction, kMethodPost, "/vectors/x?items=[%22a%22,%22b%22]&items.65537=z");
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.value.GetField("vectors").GetField("texts").Size(), 65538u);

  // The hostile piece fails cleanly without allocating anything like its index.
  const std::string piece = "items.200000000=a";
  const AllocatorCounters before = ReadAllocatorCounters();
  const std::string error = VectorsError(piece);
  const AllocatorCounters after = ReadAllocatorCounters();
  EXPECT_EQ(error, "Index 200000000 is out of range");
  EXPECT_LT(after.bytes_allocated - before.bytes_allocated, 64u * 1024u);
  // The bound holds for a whole call: pieces that each stay within it cannot
  // add up to an allocation that exhausts the address space.
  std::string steps;
  for (int i = 1; i <= 3000; ++i) steps += "&objects." + std::to_string(i * 65535) + "=a";
  const AllocatorCounters steps_before = ReadAllocatorCounters();
  EXPECT_EQ(VectorsError("items.1=a" + steps), "Index 65535 is out of range");
  EXPECT_LT(ReadAllocatorCounters().bytes_allocated - steps_before.bytes_allocated,
            16u * 1024u * 1024u);
  EXPECT_EQ(VectorsError("items.3=a&objects.65531=b"), "");  // 4 + 65,532 elements
  EXPECT_EQ(VectorsError("items.3=a&objects.65532=b"), "Index 65532 is out of range");
  // Dotted names are bounded in depth like the body readers' nesting.
  std::string levels = "objects";
  for (int i = 0; i < 511; ++i) levels += ".0";
  {
    // The echo is deeper than a host value may be read back, so look at the record.
    RequestBuilder request(kMethodPost, "/vectors/x?" + levels + ".a=1");
    ResponseHolder response;
    CallDescriptor(*module_->FindDescriptor(kVectorsFunction), response.get(), request.Build());
    EXPECT_FALSE(response.failed()) << response.error();
    EXPECT_EQ(ReadPacked(response.raw().value.kind), Client::CoreValueKind::kStructure);
  }
  EXPECT_EQ(VectorsError(levels + ".0.a=1"),
            "Argument 'objects' for 'PostVectorsByRest' is nested deeper than 512 levels.");
  // Nested indexes are bounded at each level.
  EXPECT_EQ(VectorsError("objects.0.70000=a"), "Index 70000 is out of range");
  reply = Call(kVectorsFunction, kMethodPost, "/vectors/x?objects.1.2=a");
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(WriteJson(reply.value.GetField("vectors").GetField("objects")),
            "[null,[null,null,\"a\"]]");
}

TEST_F(TestModuleTest, HeadersAndPathParameters) {
  RequestBuilder request(kMethodGet, "/located/12/a/b?q=1&any=query");
  request.Header("x-trace", "t1").Header("any", "header").Header("q", "ignored");
  Reply reply = Call(kLocatedFunction, request);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.Json(),
            "{\"any\":\"query\",\"id\":12,\"q\":\"1\",\"rest\":\"a/b?q=1&any=query\","
            "\"toggle\":false,\"trace\":\"t1\"}");

  // The argument "X-Trace" is looked up as "x-trace" only; a later duplicate wins.
  RequestBuilder upper(kMethodGet, "/located/1/x");
  upper.Header("X-Trace", "t2").Header("any", "first").Header("any", "second");
  reply = Call(kLocatedFunction, upper);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.Json("trace"), "\"\"");
  EXPECT_EQ(reply.Json("any"), "\"second\"");
  // A header for an argument of another location is not a candidate at all.
  RequestBuilder header_only(kMethodDelete, "/records/77");
  header_only.Header("if-match", "etag").Header("id", "5");
  reply = Call(kDeleteRecordFunction, header_only);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.Json(), "{\"id\":77,\"match\":\"etag\"}");

  // A simple parameter is decoded and never spans '/'.
  reply = Call(kLocatedFunction, kMethodGet, "/located/a%2Fb/x");
  EXPECT_EQ(reply.error, "Value a/b for 'id' of type int32 is in an incorrect format");
  EXPECT_EQ(Call(kLocatedFunction, kMethodGet, "/located/x").error, "Invalid function");
  // The query stays in a simple parameter's value and is still bound.
  reply = Call(kPutRecordFunction, kMethodPut, "/records/5?x=1");
  EXPECT_EQ(reply.error, "Unknown argument 'x' for 'PutRecordsById'.");
  reply = Call(kPutRecordFunction, kMethodPut, "/records/5?");
  EXPECT_EQ(reply.error, "Value 5? for 'id' of type uint32 is in an incorrect format");
  // Fragment parameters need a '#'.
  reply = Call(kDocsFunction, kMethodGet, "/docs/intro#set%20up");
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.Json(), "{\"page\":\"intro\",\"section\":\"set up\"}");
  EXPECT_EQ(Call(kDocsFunction, kMethodGet, "/docs/intro").error, "Invalid function");
  EXPECT_EQ(Call(kDocsFunction, kMethodGet, "/docs/p#").error,
            "Expected value for argument 'section'.");
  // Reserved parameters span '/'; '%' among the last two characters is dropped.
  RequestBuilder purge(kMethodCustom, "/cache/%41+b/c/100%");
  purge.MethodName("PURGE");
  reply = Call(kPurgeFunction, purge);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.Json(), "\"A b/c/100\"");
}

TEST_F(TestModuleTest, MethodsAndCustomMethods) {
  // The custom method's name must match exactly, for method 8 only.
  for (const char* name : {"purge", "PURGE ", ""}) {
    RequestBuilder request(kMethodCustom, "/cache/k");
    request.MethodName(name);
    EXPECT_EQ(Call(kPurgeFunction, request).error, "Invalid function") << name;
  }
  EXPECT_EQ(Call(kPurgeFunction, kMethodCustom, "/cache/k").error, "Invalid function");  // no name
  EXPECT_EQ(Call(kPurgeFunction, kMethodGet, "/cache/k").error, "Invalid function");
  // Method-bound routes refuse other methods.
  EXPECT_EQ(Call(kScalarsFunction, kMethodPost, "/scalars/x").status, 404u);
  EXPECT_EQ(Call(kDeleteRecordFunction, kMethodPut, "/records/1").status, 404u);

  // A route without a method takes every method; 9 and above read as none.
  for (uint32_t method : {0u, kMethodHead, kMethodPost, 9u, 0xFFFFFFFFu}) {
    Reply reply = Call(kAnyMethodFunction, method, "/any/p");
    ASSERT_FALSE(reply.failed) << reply.error;
    EXPECT_EQ(reply.value.GetField("method").GetUnsigned(), method <= 8 ? method : 0u);
  }
  RequestBuilder custom(kMethodCustom, "/any/p");
  custom.MethodName("LINK");
  Reply reply = Call(kAnyMethodFunction, custom);
  EXPECT_EQ(reply.Json(), "{\"method\":8,\"method_name\":\"LINK\",\"rest\":\"p\"}");

  // A function without a path answers only to its own name.
  RequestBuilder named(kMethodGet, "EchoArguments");
  HostValues values;
  named.Argument(nullptr, values.FromJson("1")).Argument(nullptr, values.FromJson("\"t\""));
  reply = Call(kHostArgumentsFunction, named);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(Call(kHostArgumentsFunction, kMethodGet, "/EchoArguments").error, "Invalid function");
}

TEST_F(TestModuleTest, BodiesOfEveryContentClass) {
  const std::string json =
      "{\"scalars\":{\"flag\":true,\"int8\":-8,\"uint8\":8,\"int16\":-16,\"uint16\":16,"
      "\"int32\":-32,\"uint32\":32,\"int64\":-64,\"uint64\":64,\"single\":0.25,\"real\":1e300,"
      "\"text\":\"t\",\"object\":{\"deep\":[1]},\"blob\":\"aGk=\",\"shade\":\"Dark\","
      "\"tone\":100},"
      "\"vectors\":{\"bools\":[true,false],\"texts\":[\"x\"],\"nested\":[[1],[2,3]],"
      "\"inners\":[{\"id\":5}],\"shades\":[1]},"
      "\"counts\":{\"a\":1},\"inners\":{\"k\":{\"id\":2}},\"inner\":{\"id\":3,\"label\":\"l\"},"
      "\"ignored\":1}";
  for (const char* type :
       {"application/json", "Application/JSON; charset=utf-8", "application/vnd.api+json"}) {
    RequestBuilder request(kMethodPut, "/records/42");
    request.Body(type, json);
    Reply reply = Call(kPutRecordFunction, request);
    ASSERT_FALSE(reply.failed) << type << ": " << reply.error;
    EXPECT_EQ(reply.Json("id"), "42");
    const BindingProperty& record = reply.value.GetField("record");
    EXPECT_EQ(WriteJson(record.GetField("scalars")),
              "{\"blob\":\"aGk=\",\"flag\":true,\"int16\":-16,\"int32\":-32,\"int64\":-64,"
              "\"int8\":-8,\"object\":{\"deep\":[1]},\"real\":1e300,\"shade\":\"Dark\","
              "\"single\":0.25,\"text\":\"t\",\"tone\":\"High\",\"uint16\":16,\"uint32\":32,"
              "\"uint64\":64,\"uint8\":8}");
    const BindingProperty& vectors = record.GetField("vectors");
    EXPECT_EQ(WriteJson(vectors.GetField("bools")), "[true,false]");
    EXPECT_EQ(WriteJson(vectors.GetField("nested")), "[[1],[2,3]]");
    EXPECT_EQ(WriteJson(vectors.GetField("inners")), "[{\"id\":5,\"label\":\"\"}]");
    EXPECT_EQ(WriteJson(vectors.GetField("shades")), "[\"Light\"]");
    EXPECT_EQ(WriteJson(record.GetField("inner")), "{\"id\":3,\"label\":\"l\"}");
    EXPECT_EQ(WriteJson(record.GetField("inners")), "{\"k\":{\"id\":2,\"label\":\"\"}}");
  }

  // YAML.
  RequestBuilder yaml(kMethodPut, "/records/1");
  yaml.Body("application/x-yaml", "inner:\n  id: 6\nscalars:\n  text: word\n  uint16: 0x10\n");
  Reply reply = Call(kPutRecordFunction, yaml);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(WriteJson(reply.value.GetField("record").GetField("inner")),
            "{\"id\":6,\"label\":\"\"}");
  EXPECT_EQ(reply.value.GetField("record").GetField("scalars").GetField("uint16").GetUnsigned(),
            16u);

  // MessagePack, read over the body's length: {"inner":{"id":1}}.
  const std::string msgpack("\x81\xA5inner\x81\xA2id\x01", 12);
  RequestBuilder packed(kMethodPut, "/records/1");
  packed.Body("application/x-msgpack-ext", msgpack);
  reply = Call(kPutRecordFunction, packed);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.value.GetField("record").GetField("inner").GetField("id").GetSigned(), 1);
  RequestBuilder extra(kMethodPut, "/records/1");
  extra.Body("application/x-msgpack", msgpack + '\xC0');
  EXPECT_EQ(Call(kPutRecordFunction, extra).error, "Extra MessgePack data found in body");
  RequestBuilder embedded_nul(kMethodPut, "/records/1");
  embedded_nul.Body("application/x-msgpack", std::string("\x81\xA5inner\x81\xA2id\x00", 12));
  reply = Call(kPutRecordFunction, embedded_nul);
  EXPECT_EQ(reply.value.GetField("record").GetField("inner").GetField("id").GetSigned(), 0);
  EXPECT_FALSE(reply.failed) << reply.error;

  // Unsupported, missing and malformed bodies.
  RequestBuilder plain(kMethodPut, "/records/1");
  plain.Body("text/plain", json);
  EXPECT_EQ(Call(kPutRecordFunction, plain).error, "Unsupported body content type");
  RequestBuilder untyped(kMethodPut, "/records/1");
  untyped.Body("", json);
  EXPECT_EQ(Call(kPutRecordFunction, untyped).error, "Unsupported body content type");
  EXPECT_EQ(Call(kPutRecordFunction, kMethodPut, "/records/1").error,
            "A value for 'record' is required.");
  RequestBuilder broken(kMethodPut, "/records/1");
  broken.Body("application/json", "{\"inner\":");
  EXPECT_EQ(Call(kPutRecordFunction, broken).error, "Error: Invalid value. at offset 9.");
  RequestBuilder no_id(kMethodPut, "/records/1");
  no_id.Body("application/json", "{\"inner\":{}}");
  EXPECT_EQ(Call(kPutRecordFunction, no_id).error,
            "Couldn't assign value to 'inner' of type Inner because the input structure doesn't "
            "have required field 'id'.");
  RequestBuilder not_struct(kMethodPut, "/records/1");
  not_struct.Body("application/json", "[1]");
  EXPECT_EQ(Call(kPutRecordFunction, not_struct).error,
            "Couldn't assign value to 'record' of type Everything because the input not a "
            "structure.");

  // Only the first body argument is served; a body to a function without one is ignored.
  RequestBuilder bodies(kMethodPost, "/bodies");
  bodies.Body("application/json", "[1,2]");
  reply = Call(kBodiesFunction, bodies);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.Json(), "{\"count\":0,\"first\":[1,2],\"second\":null}");
  RequestBuilder ignored(kMethodGet, "/scalars/x");
  ignored.Body("text/plain", "anything");
  EXPECT_FALSE(Call(kScalarsFunction, ignored).failed);
}

TEST_F(TestModuleTest, HostArguments) {
  HostValues values;
  // Positional and named entries; an unnamed entry follows the path parameters.
  RequestBuilder request(kMethodGet, "EchoArguments");
  request.Argument(nullptr, values.FromJson("-7"))
      .Argument(nullptr, values.FromJson("\"text\""))
      .Argument("inner", values.FromJson("{\"id\":\"12\",\"label\":\"x\"}"))
      .Argument("extra", values.FromJson("{\"any\":[true,null,1.5]}"));
  Reply reply = Call(kHostArgumentsFunction, request);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.Json(),
            "{\"extra\":{\"any\":[true,null,1.5]},\"inner\":{\"id\":12,\"label\":\"x\"},"
            "\"number\":-7,\"text\":\"text\"}");

  RequestBuilder located(kMethodGet, "/located/3/r");
  located.Argument(nullptr, values.FromJson("\"from host\""));
  reply = Call(kLocatedFunction, located);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.Json("q"), "\"from host\"");

  // Every scalar kind as a named host value.
  RequestBuilder scalars(kMethodGet, "/scalars/x");
  BindingProperty blob;
  blob.SetBlob(std::vector<uint8_t>{0, 1, 255});
  scalars.Argument("int8", values.FromJson("-5"))
      .Argument("uint64", values.FromJson("18446744073709551615"))
      .Argument("single", values.FromJson("-0.5"))
      .Argument("real", values.FromJson("3"))
      .Argument("flag", values.FromJson("true"))
      .Argument("text", values.FromJson("\"s\""))
      .Argument("object", values.FromJson("[1]"))
      .Argument("blob", values.Make(blob))
      .Argument("shade", values.FromJson("2"))
      .Argument("uint16", values.FromJson("\"0x20\""));
  reply = Call(kScalarsFunction, scalars);
  ASSERT_FALSE(reply.failed) << reply.error;
  EXPECT_EQ(reply.value.GetField("int8").GetSigned(), -5);
  EXPECT_EQ(reply.value.GetField("uint64").GetUnsigned(), UINT64_MAX);
  EXPECT_EQ(reply.value.GetField("single").GetDouble(), -0.5);
  EXPECT_EQ(reply.value.GetField("real").GetDouble(), 3.0);
  EXPECT_TRUE(reply.value.GetField("flag").GetBool());
  EXPECT_EQ(reply.Json("object"), "[1]");
  EXPECT_EQ(reply.Json("blob"), "\"AAH/\"");
  EXPECT_EQ(reply.Json("shade"), "\"Dark\"");
  EXPECT_EQ(reply.value.GetField("uint16").GetUnsigned(), 32u);

  // Host values are converted by the native rules, never implicitly.
  RequestBuilder wrong(kMethodGet, "/scalars/x");
  wrong.Argument("flag", values.FromJson("1"));
  EXPECT_EQ(Call(kScalarsFunction, wrong).error,
            "Couldn't assign value to 'flag' of type bool because the input is of an invalid type "
            "unsigned.");
  RequestBuilder wrong_text(kMethodGet, "/scalars/x");
  wrong_text.Argument("text", values.FromJson("1"));
  EXPECT_EQ(Call(kScalarsFunction, wrong_text).error,
            "Couldn't assign value to 'text' because the input is not a string.");
  RequestBuilder wrong_blob(kMethodGet, "/scalars/x");
  wrong_blob.Argument("blob", values.FromJson("1"));
  EXPECT_EQ(Call(kScalarsFunction, wrong_blob).error,
            "Couldn't assign value to 'blob' of type blob because the input is not a blob.");
  RequestBuilder wrong_shade(kMethodGet, "/scalars/x");
  wrong_shade.Argument("shade", values.FromJson("1.5"));
  EXPECT_EQ(Call(kScalarsFunction, wrong_shade).error,
            "Couldn't assign value to 'shade' of enum type because the input is of an invalid "
            "type float.");

  // Required and unknown arguments.
  RequestBuilder missing(kMethodGet, "EchoArguments");
  missing.Argument("text", values.FromJson("\"t\""));
  EXPECT_EQ(Call(kHostArgumentsFunction, missing).error, "A value for 'number' is required.");
  RequestBuilder unknown(kMethodGet, "EchoArguments");
  unknown.Argument("nope", values.FromJson("1"));
  EXPECT_EQ(Call(kHostArgumentsFunction, unknown).error,
            "Unknown argument 'nope' for 'EchoArguments'.");
  RequestBuilder too_many(kMethodGet, "EchoArguments");
  for (int i = 0; i < 5; ++i) too_many.Argument(nullptr, values.FromJson("1"));
  EXPECT_EQ(Call(kHostArgumentsFunction, too_many).error,
            "Unknown argument '4' for 'EchoArguments'.");
  // A host value of an unknown kind.
  Client::CoreValue bad{};
  bad.kind = static_cast<Client::CoreValueKind>(77);
  RequestBuilder bad_kind(kMethodGet, "EchoArguments");
  bad_kind.Argument("extra", bad);
  Reply bad_reply = Call(kHostArgumentsFunction, bad_kind);
  EXPECT_TRUE(bad_reply.failed);
  EXPECT_EQ(bad_reply.error,
            "Couldn't assign value to 'extra' of type object because the input is of an "
            "incompatible type ''.");
}

TEST_F(TestModuleTest, RequestRecordAndResponseShape) {
  RequestBuilder request(kMethodGet, "/request/a/b?status=202");
  request.Header("X-One", "1").Header("two", "2").Header("two", "3").CallerId(77);
  const Client::CoreFunctionDescriptor* descriptor = module_->FindDescriptor(kRequestFunction);
  ASSERT_NE(descriptor, nullptr);
  ResponseHolder response;
  CallDescriptor(*descriptor, response.get(), request.Build());
  ASSERT_FALSE(response.failed()) << response.error();
  EXPECT_EQ(response.json(),
            "{\"caller\":77,\"headers\":{\"X-One\":\"1\",\"two\":\"3\"},\"method\":2,"
            "\"method_name\":\"\",\"path\":\"/request/a/b?status=202\",\"registry\":true,"
            "\"rest\":\"a/b?status=202\",\"timestamp\":true}");
  const Client::CoreResponse& raw = response.raw();
  EXPECT_EQ(ReadPacked(raw.status_code), 202u);
  EXPECT_STREQ(raw.content_type, "application/x-echo");
  ASSERT_EQ(ReadPacked(raw.header_count), 1u);
  EXPECT_STREQ(raw.headers[0].name, "X-Echo");
  EXPECT_STREQ(raw.headers[0].value, "a/b?status=202");
  EXPECT_EQ(ReadPacked(raw.result_flag), 7);
  EXPECT_EQ(ReadPacked(raw.body_encoding), 2u);
  EXPECT_EQ(ReadPacked(raw.release), &ResetResponse);

  // A handler's failure carries its code as status, or none.
  Reply reply = Call(kFailFunction, kMethodGet, "/fail/418");
  EXPECT_EQ(reply.error, "Failed with code 418");
  EXPECT_EQ(reply.status, 418u);
  reply = Call(kFailFunction, kMethodGet, "/fail/0");
  EXPECT_EQ(reply.error, "Failed with code 0");
  EXPECT_EQ(reply.status, 0u);
  // A binding failure has no status and an empty content type, never null.
  ResponseHolder failed;
  RequestBuilder bad(kMethodGet, "/scalars/x?nope");
  CallDescriptor(*module_->FindDescriptor(kScalarsFunction), failed.get(), bad.Build());
  EXPECT_EQ(failed.status(), 0u);
  ASSERT_NE(ReadPacked(failed.raw().content_type), nullptr);
  EXPECT_STREQ(failed.raw().content_type, "");
  // A request without a function context matches nothing.
  ResponseHolder orphan;
  RequestBuilder lost(kMethodGet, "/scalars/x");
  CallFunctionDescriptor(orphan.get(), &lost.Build());
  EXPECT_EQ(orphan.error(), "Invalid function");
  EXPECT_EQ(orphan.status(), 404u);
}

TEST_F(TestModuleTest, HostilePathsAreAnsweredWithoutCrashing) {
  const std::size_t kSize = 4u << 20;
  // A long path through a reserved parameter.
  Reply reply = Call(kScalarsFunction, kMethodGet, "/scalars/" + std::string(kSize, 'a'));
  EXPECT_FALSE(reply.failed) << reply.error.substr(0, 200);
  // A long simple parameter, then the same length that no route takes.
  reply = Call(kLocatedFunction, kMethodGet, "/located/" + std::string(kSize, '9') + "/x");
  EXPECT_EQ(reply.error.substr(0, 6), "Value ");
  EXPECT_EQ(Call(kLocatedFunction, kMethodGet, "/located/" + std::string(kSize, '/')).error,
            "Expected value for argument 'id'.");  // an empty id, the rest is slashes
  EXPECT_EQ(Call(kDocsFunction, kMethodGet, "/docs/" + std::string(kSize, '#')).status, 0u);

  // Many distinct query names: the first unknown name ends the call.
  std::string query = "/scalars/x?";
  for (std::size_t i = 0; query.size() < kSize; ++i) query += "n" + std::to_string(i) + "=&";
  EXPECT_EQ(Call(kScalarsFunction, kMethodGet, query).error,
            "Unknown argument 'n0' for 'GetScalarsByRest'.");
  // Many repeats of one name.
  std::string repeats = "/scalars/x?";
  while (repeats.size() < kSize) repeats += "int8=1&";
  EXPECT_EQ(Call(kScalarsFunction, kMethodGet, repeats).error,
            "Unknown argument '' for 'GetScalarsByRest'.");  // the trailing empty piece
  // Deeply dotted names of fields and of indexes.
  std::string deep = "/vectors/x?objects.0";
  while (deep.size() < kSize) deep += ".a";
  deep += "=1";
  EXPECT_EQ(Call(kVectorsFunction, kMethodPost, deep).error,
            "Argument 'objects' for 'PostVectorsByRest' is nested deeper than 512 levels.");
  std::string deep_indexes = "/vectors/x?objects";
  while (deep_indexes.size() < kSize) deep_indexes += ".0";
  deep_indexes += "=1";
  EXPECT_EQ(Call(kVectorsFunction, kMethodPost, deep_indexes).error,
            "Argument 'objects' for 'PostVectorsByRest' is nested deeper than 512 levels.");
}

TEST_F(TestModuleTest, CallsLeaveNoLiveBytesBehind) {
  auto run_all = [&] {
    HostValues values;
    Call(kScalarsFunction, kMethodGet, "/scalars/x?flag&int8=1&text=t&blob=aGk%3D&object=%7B%7D");
    Call(kScalarsFunction, kMethodGet, "/scalars/x?int8=999");
    Call(kVectorsFunction, kMethodPost, "/vectors/x?items.3=a&inners=[{%22id%22:1}]&nested=[[1]]");
    Call(kVectorsFunction, kMethodPost, "/vectors/x?items.200000000=a");
    Call(kVectorsFunction, kMethodPost, "/vectors/x?int16s=%92%01");
    RequestBuilder body(kMethodPut, "/records/1");
    body.Body("application/json", "{\"inner\":{\"id\":1},\"vectors\":{\"texts\":[\"a\"]}}");
    Call(kPutRecordFunction, body);
    RequestBuilder yaml(kMethodPut, "/records/1");
    yaml.Body("application/x-yaml", "inner: [");
    Call(kPutRecordFunction, yaml);
    RequestBuilder request(kMethodGet, "/request/x");
    request.Header("a", "b");
    Call(kRequestFunction, request);
    Call(kFailFunction, kMethodGet, "/fail/500");
    RequestBuilder host(kMethodGet, "EchoArguments");
    host.Argument(nullptr, values.FromJson("1")).Argument("text", values.FromJson("\"t\""));
    Call(kHostArgumentsFunction, host);
    Call(kLocatedFunction, kMethodGet, "/nothing");
  };
  run_all();  // first calls may fill caches that live as long as the process
  const uint64_t start = ReadAllocatorCounters().live_bytes();
  run_all();
  run_all();
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), start);
  // The module itself gives back everything it took.
  const uint64_t before_module = [&] {
    module_.reset();
    return ReadAllocatorCounters().live_bytes();
  }();
  module_ = CreateTestModule();
  run_all();
  module_.reset();
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), before_module);
}

}  // namespace
}  // namespace Kestrel::Testing
