#include "remoting/argument_binding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/type_building.h"
#include "formats/json_reader.h"
#include "formats/msgpack_reader.h"
#include "formats/yaml_reader.h"
#include "host_abi/core_value.h"
#include "host_abi/http_method.h"
#include "remoting/remoting_endpoints.h"
#include "tests/support/dispatch_support.h"

namespace Kestrel::RemotingTest {
struct BindPoint {
  int32_t x = 0;
  int32_t y = 0;
};
}  // namespace Kestrel::RemotingTest
VYN_STATIC_TYPE(Kestrel::RemotingTest::BindPoint, "struct Kestrel::RemotingTest::BindPoint");

namespace Kestrel {
namespace {

using RemotingTest::BindPoint;
using RemotingTest::RequestBuilder;
using RemotingTest::ResponseHolder;

// The message of a (failed) parse, copied out of the temporary result.
std::string ErrorOf(const PropertyResult& result) {
  return std::string(result.GetError());
}

BindingProperty PointProperty(const BindPoint& point) {
  BindingProperty value;
  value.Field("x").SetSigned(point.x);
  value.Field("y").SetSigned(point.y);
  return value;
}

class ArgumentBindingTest : public ::testing::Test {
 protected:
  ArgumentBindingTest() : endpoints_(registry_, nullptr) {
    registry_.RegisterStruct<BindPoint>("BindPoint")
        .AddField("x", &BindPoint::x)
        .AddField("y", &BindPoint::y);

    // Echoes every argument but `tail`, the path parameter that also takes
    // the query string (a literal route would not match a path with a query).
    endpoints_
        .Post("/echo/{tail}",
              [this](std::string /*tail*/, std::string id, std::string token, bool flag,
                     int32_t count, std::vector<std::string> items, BindPoint p,
                     BindingProperty doc) -> MaybeType<BindingProperty> {
                ++calls_;
                BindingProperty out;
                out.Field("id").SetString(id);
                out.Field("token").SetString(token);
                out.Field("flag").SetBool(flag);
                out.Field("count").SetSigned(count);
                for (const std::string& item : items) out.Field("items").Append().SetString(item);
                out.Field("p") = PointProperty(p);
                if (!doc.IsEmpty()) out.Field("doc") = doc;
                return out;
              })
        .Argument("tail")
        .Argument("id", "", ArgumentLocation::kAny, true)
        .Argument("X-Token", "", ArgumentLocation::kAny, true)
        .Argument("flag")
        .Argument("count", "", ArgumentLocation::kAny, true)
        .Argument("items", "", ArgumentLocation::kAny, true)
        .Argument("p", "", ArgumentLocation::kAny, true)
        .Argument("doc", "", ArgumentLocation::kAny, true);

    // A pattern route: its parameter takes the rest of the path, query included.
    endpoints_
        .Post("/prec/{id}",
              [](std::string id, std::string token) -> MaybeType<std::string> {
                return id + "|" + token;
              })
        .Argument("id")
        .Argument("token", "", ArgumentLocation::kAny, true);

    endpoints_
        .Get("/loc/{id}",
             [](std::string id, std::string q, std::string h) -> MaybeType<std::string> {
               return id + "," + q + "," + h;
             })
        .Argument("id", "", ArgumentLocation::kPath)
        .Argument("q", "", ArgumentLocation::kQuery, true)
        .Argument("h", "", ArgumentLocation::kHeader, true);

    endpoints_
        .Post("/body",
              [](int32_t n, BindPoint first, BindPoint second) -> MaybeType<BindingProperty> {
                BindingProperty out;
                out.Field("n").SetSigned(n);
                out.Field("first") = PointProperty(first);
                out.Field("second") = PointProperty(second);
                return out;
              })
        .Argument("n", "", ArgumentLocation::kAny, true)
        .Body("first")
        .Argument("second", "", ArgumentLocation::kBody, true);
  }

  void Call(std::string_view name, RequestBuilder& request, ResponseHolder& response) {
    const FunctionRoute* route = endpoints_.routes().Find(name);
    ASSERT_NE(route, nullptr) << name;
    const FunctionRoute* routes[] = {route};
    Dispatch(response.get(), &request.Build(), routes);
  }

  // The JSON of a successful call of the echo function, or "error: <message>".
  std::string Echo(RequestBuilder& request) {
    ResponseHolder response;
    Call("PostEchoByTail", request, response);
    return response.failed() ? "error: " + response.error() : response.json();
  }
  std::string Echo(const std::string& path) {
    RequestBuilder request(kMethodPost, path);
    return Echo(request);
  }

  TypeRegistry registry_;
  RemotingEndpoints endpoints_;
  int calls_ = 0;
};

TEST_F(ArgumentBindingTest, NamedSourcesAndTheirPrecedence) {
  auto prec = [this](const char* path, const char* header) {
    RequestBuilder request(kMethodPost, path);
    if (header != nullptr) request.Header("id", header);
    ResponseHolder response;
    Call("PostPrecById", request, response);
    return response.failed() ? "error: " + response.error() : response.json();
  };
  // Header < path < query.
  EXPECT_EQ(prec("/prec/p", "h"), "\"p|\"");
  EXPECT_EQ(prec("/prec/p?id=q", "h"), "\"q|\"");
  EXPECT_EQ(prec("/prec/p?token=t", nullptr), "\"p?token=t|t\"");

  EXPECT_EQ(Echo("/echo/x"), R"({"count":0,"flag":false,"id":"","p":{"x":0,"y":0},"token":""})");
  RequestBuilder header_only(kMethodPost, "/echo/x");
  header_only.Header("id", "h");
  EXPECT_EQ(Echo(header_only), R"({"count":0,"flag":false,"id":"h","p":{"x":0,"y":0},"token":""})");
  RequestBuilder header_and_query(kMethodPost, "/echo/x?id=q");
  header_and_query.Header("id", "h");
  EXPECT_EQ(Echo(header_and_query),
            R"({"count":0,"flag":false,"id":"q","p":{"x":0,"y":0},"token":""})");

  // Header names are matched against the lower-cased argument name.
  RequestBuilder lower(kMethodPost, "/echo/x");
  lower.Header("x-token", "secret");
  EXPECT_EQ(Echo(lower), R"({"count":0,"flag":false,"id":"","p":{"x":0,"y":0},"token":"secret"})");
  RequestBuilder exact(kMethodPost, "/echo/x");
  exact.Header("X-Token", "secret");
  EXPECT_EQ(Echo(exact), R"({"count":0,"flag":false,"id":"","p":{"x":0,"y":0},"token":""})");

  // Query pieces: decoded, split at the first '=', a later duplicate wins, a
  // bare name sets a bool, '?' at the end means no query.
  EXPECT_EQ(Echo("/echo/x?flag&count=1&count=2&X-Token=a%3Db+c=d"),
            R"({"count":2,"flag":true,"id":"","p":{"x":0,"y":0},"token":"a=b c=d"})");
  EXPECT_EQ(Echo("/echo/x?flag=false"),
            R"({"count":0,"flag":false,"id":"","p":{"x":0,"y":0},"token":""})");
  EXPECT_EQ(Echo("/echo/x?"), R"({"count":0,"flag":false,"id":"","p":{"x":0,"y":0},"token":""})");
  EXPECT_EQ(calls_, 8);
}

TEST_F(ArgumentBindingTest, NamedBindingMessages) {
  EXPECT_EQ(Echo("/echo/x?zzz=1"), "error: Unknown argument 'zzz' for 'PostEchoByTail'.");
  EXPECT_EQ(Echo("/echo/x?flag=1&&count=2"), "error: Unknown argument '' for 'PostEchoByTail'.");
  EXPECT_EQ(Echo("/echo/x?zzz.3=1"), "error: Unknown argument 'zzz' for 'PostEchoByTail'.");
  EXPECT_EQ(Echo("/echo/x?count="), "error: Expected value for argument 'count'.");
  EXPECT_EQ(Echo("/echo/x?X-Token="), "error: Expected value for argument 'X-Token'.");
  EXPECT_EQ(calls_, 0);

  auto call_loc = [this](const char* path, const char* header) {
    RequestBuilder request(kMethodGet, path);
    if (header != nullptr) request.Header("h", header);
    ResponseHolder response;
    Call("GetLocById", request, response);
    return response.failed() ? "error: " + response.error() : response.json();
  };
  EXPECT_EQ(call_loc("/loc/1?id=2", nullptr),
            "error: Argument 'id' for 'GetLocById' was specified in an invalid location.");
  EXPECT_EQ(call_loc("/loc/1?h=x", nullptr),
            "error: Argument 'h' for 'GetLocById' was specified in an invalid location.");
  EXPECT_EQ(call_loc("/loc/1?q=z", "v"), "\"1?q=z,z,v\"");
  EXPECT_EQ(call_loc("/loc/a%2Fb", nullptr), "\"a/b,,\"");
}

TEST_F(ArgumentBindingTest, DottedPathsIntoCollectionsAndStructures) {
  const std::string tail = R"("p":{"x":0,"y":0},"token":""})";
  EXPECT_EQ(Echo("/echo/x?items.2=a"),
            R"({"count":0,"flag":false,"id":"","items":["","","a"],)" + tail);
  EXPECT_EQ(Echo("/echo/x?items.0x2=a&items.01=b"),
            R"({"count":0,"flag":false,"id":"","items":["","b","a"],)" + tail);
  EXPECT_EQ(Echo("/echo/x?p.x=3&p.y=-4"),
            R"({"count":0,"flag":false,"id":"","p":{"x":3,"y":-4},"token":""})");
  EXPECT_EQ(Echo("/echo/x?doc.a.1.b=%7B%7D"),
            R"({"count":0,"doc":{"a":[null,{"b":"{}"}]},"flag":false,"id":"",)" + tail);
  EXPECT_EQ(Echo("/echo/x?doc.-1=x"),
            R"({"count":0,"doc":{"-1":"x"},"flag":false,"id":"",)" + tail);

  EXPECT_EQ(Echo("/echo/x?items.2x=a"), "error: Index 2x is in an incorrect format");
  EXPECT_EQ(Echo("/echo/x?items.08=a"), "error: Index 08 is in an incorrect format");
  EXPECT_EQ(Echo("/echo/x?items.0x=a"), "error: Index 0x is in an incorrect format");
  EXPECT_EQ(Echo("/echo/x?items.99999999999=a"), "error: Index 99999999999 is out of range");
  EXPECT_EQ(Echo("/echo/x?items.2147483648=a"), "error: Index 2147483648 is out of range");
  EXPECT_EQ(Echo("/echo/x?items.99999999999999999999999=a"),
            "error: Index 99999999999999999999999 is out of range");
  // Indexes may grow collections by at most kMaxIndexGrowth elements.
  EXPECT_EQ(Echo("/echo/x?items.200000000=a"), "error: Index 200000000 is out of range");
  EXPECT_EQ(Echo("/echo/x?items.65536=a"), "error: Index 65536 is out of range");
  const std::string grown = Echo("/echo/x?items.65535=a");
  EXPECT_EQ(grown.find("error"), std::string::npos) << grown;
  EXPECT_NE(grown.find(R"("","a"],)"), std::string::npos);
  // Growth counts for the whole call, so steps that each stay within the
  // bound cannot add up past it.
  EXPECT_EQ(Echo("/echo/x?items.65535=a&items.131070=b"), "error: Index 131070 is out of range");
  const std::string stepped = Echo("/echo/x?items.32767=a&items.65535=b");
  EXPECT_EQ(stepped.find("error"), std::string::npos) << stepped.substr(0, 80);
  // '-1' is no index: the vector becomes a structure and fails its conversion.
  EXPECT_EQ(Echo("/echo/x?items.-1=a").rfind("error: ", 0), 0u);
}

TEST_F(ArgumentBindingTest, TextValuesOfCompositeArguments) {
  const std::string head = R"({"count":0,)";
  const std::string tail = R"("flag":false,"id":"","p":{"x":0,"y":0},"token":""})";
  // JSON after leading spaces, YAML after leading spaces, MessagePack by its first byte.
  EXPECT_EQ(Echo("/echo/x?doc=++%5B1,2%5D"), head + R"("doc":[1,2],)" + tail);
  EXPECT_EQ(Echo("/echo/x?doc=---%0Aa:+1"), head + R"("doc":{"a":1},)" + tail);
  EXPECT_EQ(Echo("/echo/x?doc=%81%A1a%05"), head + R"("doc":{"a":5},)" + tail);
  EXPECT_EQ(Echo("/echo/x?doc=plain"), head + R"("doc":"plain",)" + tail);
  EXPECT_EQ(Echo("/echo/x?p=%7B%22x%22:1,%22y%22:2%7D"),
            R"({"count":0,"flag":false,"id":"","p":{"x":1,"y":2},"token":""})");
  EXPECT_EQ(Echo("/echo/x?items=%5B%22a%22%5D"),
            R"({"count":0,"flag":false,"id":"","items":["a"],"p":{"x":0,"y":0},"token":""})");
  // Empty values of composite arguments are empty containers.
  EXPECT_EQ(Echo("/echo/x?items=&p=&doc="),
            R"({"count":0,"doc":{},"flag":false,"id":"","p":{"x":0,"y":0},"token":""})");
  // A string argument is never sniffed.
  EXPECT_EQ(Echo("/echo/x?X-Token=%5B1%5D"),
            R"({"count":0,"flag":false,"id":"","p":{"x":0,"y":0},"token":"[1]"})");
  // A text that is no struct reaches the conversion and fails there.
  EXPECT_EQ(Echo("/echo/x?p=abc").rfind("error: ", 0), 0u);
  EXPECT_EQ(calls_, 8);

  const std::string json_error = ErrorOf(ParseJson(std::string("[1,")));
  EXPECT_EQ(Echo("/echo/x?doc=%5B1,"),
            "error: Couldn't deserialize JSON value for parameter 'doc' of 'PostEchoByTail': " +
                json_error);
  const std::string yaml_error = ErrorOf(ParseYaml("---\n[1, 2"));
  EXPECT_EQ(Echo("/echo/x?doc=---%0A%5B1,+2"),
            "error: Couldn't deserialize YAML value for parameter 'doc' of 'PostEchoByTail': " +
                yaml_error);
  const uint8_t bad_pack[] = {0xDC, 0x00, 0x01, 0xC1};
  const std::string pack_error = ErrorOf(ParseMessagePack(bad_pack, sizeof(bad_pack), nullptr));
  ASSERT_FALSE(pack_error.empty());
  EXPECT_EQ(Echo("/echo/x?doc=%DC%00%01%C1"),
            "error: Couldn't deserialize MessagePack value for parameter 'doc' of "
            "'PostEchoByTail': " +
                pack_error);
  EXPECT_EQ(calls_, 8);
}

TEST_F(ArgumentBindingTest, HostArguments) {
  RequestBuilder named(kMethodPost, "/echo/x");
  named.Argument("X-Token", Client::MakeBorrowedStringValue("t"))
      .Argument("count", Client::MakeSignedValue(5));
  EXPECT_EQ(Echo(named), R"({"count":5,"flag":false,"id":"","p":{"x":0,"y":0},"token":"t"})");

  // Unnamed entries start after the path parameters: entry 0 is argument 1.
  RequestBuilder positional(kMethodPost, "/prec/p");
  positional.Argument(nullptr, Client::MakeBorrowedStringValue("t"));
  ResponseHolder response;
  Call("PostPrecById", positional, response);
  EXPECT_EQ(response.json(), "\"p|t\"");
  RequestBuilder no_path(kMethodPost, "/echo/x");
  no_path.Argument(nullptr, Client::MakeBorrowedStringValue("i"))
      .Argument(nullptr, Client::MakeBorrowedStringValue("t"))
      .Argument(nullptr, Client::MakeBoolValue(true));
  EXPECT_EQ(Echo(no_path), R"({"count":0,"flag":true,"id":"i","p":{"x":0,"y":0},"token":"t"})");

  // Host arguments come after the query.
  RequestBuilder over_query(kMethodPost, "/echo/x?count=1");
  over_query.Argument("count", Client::MakeSignedValue(9));
  EXPECT_EQ(Echo(over_query), R"({"count":9,"flag":false,"id":"","p":{"x":0,"y":0},"token":""})");

  RequestBuilder unknown(kMethodPost, "/echo/x");
  unknown.Argument("nope", Client::MakeSignedValue(1));
  EXPECT_EQ(Echo(unknown), "error: Unknown argument 'nope' for 'PostEchoByTail'.");

  RequestBuilder too_many(kMethodPost, "/echo/x");
  for (int i = 0; i < 8; ++i) too_many.Argument(nullptr, Client::MakeNilValue());
  EXPECT_EQ(Echo(too_many), "error: Unknown argument '8' for 'PostEchoByTail'.");

  Client::CoreValue odd = Client::MakeNilValue();
  odd.kind = static_cast<Client::CoreValueKind>(11);
  RequestBuilder bad_kind(kMethodPost, "/echo/x");
  bad_kind.Argument("doc", odd);
  EXPECT_EQ(Echo(bad_kind),
            "error: Couldn't assign value to 'doc' of type object because the input is of an "
            "incompatible type ''.");
}

TEST_F(ArgumentBindingTest, BodiesByContentClass) {
  auto post = [this](const char* content_type, std::string body, uint32_t length = 0xFFFFFFFFu) {
    RequestBuilder request(kMethodPost, "/body");
    request.Body(content_type, std::move(body));
    if (length != 0xFFFFFFFFu) request.BodyLength(length);
    ResponseHolder response;
    Call("PostBody", request, response);
    return response.failed() ? "error: " + response.error() : response.json();
  };
  const std::string ok = R"({"first":{"x":1,"y":2},"n":0,"second":{"x":0,"y":0}})";
  EXPECT_EQ(post("application/json", R"({"x":1,"y":2})"), ok);
  EXPECT_EQ(post("Application/JSON; charset=utf-8", R"({"x":1,"y":2})"), ok);
  EXPECT_EQ(post("application/vnd.api+json", R"({"x":1,"y":2})"), ok);
  EXPECT_EQ(post("application/x-yaml", "x: 1\ny: 2\n"), ok);
  EXPECT_EQ(post("application/x-msgpack", std::string("\x82\xA1x\x01\xA1y\x02", 7)), ok);
  EXPECT_EQ(post("application/x-msgpack-ext", std::string("\x82\xA1x\x01\xA1y\x02", 7)), ok);

  // Only the body's length is read; a NUL inside it still ends the text.
  EXPECT_EQ(post("application/json", R"({"x":1,"y":2}]]]garbage)", 13), ok);
  EXPECT_EQ(post("application/x-yaml", "x: 1\ny: 2\n: : [", 10), ok);
  EXPECT_EQ(post("application/json", std::string("{\"x\":1,\"y\":2}\0]]", 16)), ok);
  // A length that counts the terminating NUL.
  EXPECT_EQ(post("application/x-yaml", std::string("x: 1\ny: 2\n\0", 11), 11), ok);

  EXPECT_EQ(post("application/x-msgpack", std::string("\x82\xA1x\x01\xA1y\x02\x00", 8)),
            "error: Extra MessgePack data found in body");
  EXPECT_EQ(post("text/plain", "x"), "error: Unsupported body content type");
  EXPECT_EQ(post("", "x"), "error: Unsupported body content type");
  EXPECT_EQ(post("application/json", "{\"x\":"),
            "error: " + ErrorOf(ParseJson(std::string("{\"x\":"))));
  EXPECT_EQ(post("application/x-yaml", "[1, 2"), "error: " + ErrorOf(ParseYaml("[1, 2")));
  const std::string pack = "\xC1";
  EXPECT_EQ(post("application/x-msgpack", pack),
            "error: " + ErrorOf(ParseMessagePack(reinterpret_cast<const uint8_t*>(pack.data()), 1,
                                                 nullptr)));
  // A body argument is required unless declared optional.
  RequestBuilder no_body(kMethodPost, "/body");
  ResponseHolder response;
  Call("PostBody", no_body, response);
  EXPECT_EQ(response.error(), "A value for 'first' is required.");

  // A function without a body argument ignores the body, whatever its type.
  RequestBuilder ignored(kMethodPost, "/echo/x");
  ignored.Body("text/plain", "whatever");
  EXPECT_EQ(Echo(ignored), R"({"count":0,"flag":false,"id":"","p":{"x":0,"y":0},"token":""})");
}

TEST_F(ArgumentBindingTest, TextBodiesWithoutALengthRunToTheirNul) {
  // JSON and YAML bodies are NUL-terminated texts; their length serves
  // MessagePack, so a host may leave it 0.
  auto post = [this](const char* content_type, const char* body, uint32_t length) {
    RequestBuilder builder(kMethodPost, "/body");
    Client::CoreRequest request = builder.Build();
    request.content_type = content_type;
    request.body = body;
    request.body_length = length;
    const FunctionRoute* routes[] = {endpoints_.routes().Find("PostBody")};
    ResponseHolder response;
    Dispatch(response.get(), &request, routes);
    return response.failed() ? "error: " + response.error() : response.json();
  };
  const std::string ok = R"({"first":{"x":1,"y":2},"n":0,"second":{"x":0,"y":0}})";
  EXPECT_EQ(post("application/json", R"({"x":1,"y":2})", 0), ok);
  EXPECT_EQ(post("application/x-yaml", "x: 1\ny: 2\n", 0), ok);
  // A given length still bounds the text.
  EXPECT_EQ(post("application/json", R"({"x":1,"y":2}]])", 13), ok);
  EXPECT_EQ(post("application/json", R"({"x":1,"y":2})", 5),
            "error: " + ErrorOf(ParseJson(std::string(R"({"x":)"))));
  // A null body is no body, whatever its content type.
  EXPECT_EQ(post("application/json", nullptr, 0), "error: A value for 'first' is required.");
}

TEST(BodyContentClassTest, PrefixesIgnoringCase) {
  struct Case {
    const char* content_type;
    BodyContent expected;
  };
  const Case cases[] = {
      {"application/x-msgpack", BodyContent::kMessagePack},
      {"APPLICATION/X-MSGPACK-EXT", BodyContent::kMessagePack},
      {"application/json", BodyContent::kJson},
      {"application/jsonx", BodyContent::kJson},
      {"application/vnd.api+json; x=1", BodyContent::kJson},
      {"application/x-yaml", BodyContent::kYaml},
      {"application/yaml", BodyContent::kUnsupported},
      {"application/jso", BodyContent::kUnsupported},
      {" application/json", BodyContent::kUnsupported},
      {"", BodyContent::kUnsupported},
      {nullptr, BodyContent::kUnsupported},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BodyContentClass(c.content_type), c.expected)
        << (c.content_type != nullptr ? c.content_type : "(null)");
  }
}

TEST_F(ArgumentBindingTest, IndexSegmentsByBaseAndBound) {
  struct Case {
    const char* segment;
    std::size_t index;  // when `error` is empty
    const char* error;
  };
  // Bases as in C's unsigned conversion with base 0. Indexes of 2^31 and more
  // are out of range, and so are smaller ones that would grow the collection
  // past `kMaxIndexGrowth`.
  const Case cases[] = {
      {"0", 0, ""},
      {"7", 7, ""},
      {"010", 8, ""},
      {"0x1F", 31, ""},
      {"0X1f", 31, ""},
      {"2147483647", 0, "Index 2147483647 is out of range"},
      {"017777777777", 0, "Index 017777777777 is out of range"},
      {"0x7FFFFFFF", 0, "Index 0x7FFFFFFF is out of range"},
      {"2147483648", 0, "Index 2147483648 is out of range"},
      {"0x80000000", 0, "Index 0x80000000 is out of range"},
      {"18446744073709551616", 0, "Index 18446744073709551616 is out of range"},
      {"09", 0, "Index 09 is in an incorrect format"},
      {"0x", 0, "Index 0x is in an incorrect format"},
      {"0xg", 0, "Index 0xg is in an incorrect format"},
      {"1%20", 0, "Index 1  is in an incorrect format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.segment);
    const std::string echoed = Echo(std::string("/echo/x?items.") + c.segment + "=a");
    if (c.error[0] != '\0') {
      EXPECT_EQ(echoed, std::string("error: ") + c.error);
      continue;
    }
    std::string items = R"("items":[)";
    for (std::size_t i = 0; i < c.index; ++i) items += R"("",)";
    items += R"("a"])";
    EXPECT_NE(echoed.find(items), std::string::npos) << echoed;
  }
}

}  // namespace
}  // namespace Kestrel
