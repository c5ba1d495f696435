#include "remoting/route_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/type_registry.h"
#include "remoting/remoting_endpoints.h"

namespace Kestrel {
namespace {

TEST(RouteBuilderTest, RegistrationDeducesTypesAndDeclaresArguments) {
  TypeRegistry registry;
  RouteTable routes;
  RouteBuilder builder = RegisterRoute(
      registry, routes, HttpMethod::kPut, "/a-b/c_d/{+rest}/",
      [](const RemotingRequest&, std::string rest, CallResult&, std::vector<int64_t> /*values*/,
         BindingProperty /*extra*/) -> MaybeType<uint16_t> { return uint16_t(rest.size()); },
      {"tag-a", "", "tag-b"});
  ASSERT_FALSE(builder.failed());
  builder.Argument("rest", "The rest.")
      .Body("values", "Numbers.", FieldType{NativeKind::kVector, NativeKind::kInt32, nullptr})
      .Argument("extra", "", ArgumentLocation::kHeader, true);

  const FunctionRecord* record = registry.FindFunction("PutABCDByRest");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(builder.record(), record);
  EXPECT_EQ(record->registry, &registry);
  EXPECT_EQ(record->result_type.primary.kind, NativeKind::kUInt16);
  EXPECT_EQ(record->tags, (std::vector<std::string>{"tag-a", "tag-b"}));
  // Request and result parameters take no argument position.
  ASSERT_EQ(record->arguments.size(), 3u);
  EXPECT_EQ(record->arguments[0].name, "rest");
  EXPECT_EQ(record->arguments[0].description, "The rest.");
  EXPECT_EQ(record->arguments[0].type.primary.kind, NativeKind::kString);
  EXPECT_EQ(record->arguments[1].name, "values");
  EXPECT_EQ(record->arguments[1].type.primary.kind, NativeKind::kVector);
  EXPECT_EQ(record->arguments[1].type.primary.element_kind, NativeKind::kInt64);
  EXPECT_EQ(record->arguments[1].type.effective().element_kind, NativeKind::kInt32);
  EXPECT_EQ(record->arguments[2].type.primary.kind, NativeKind::kObject);
  EXPECT_TRUE(record->arguments[2].optional);

  const FunctionRoute* route = routes.Find("PutABCDByRest");
  ASSERT_NE(route, nullptr);
  EXPECT_EQ(route->function(), record);
  EXPECT_EQ(route->path(), "/a-b/c_d/{+rest}");
  EXPECT_EQ(route->method(), HttpMethod::kPut);
  EXPECT_EQ(route->argument_locations(),
            (std::vector<ArgumentLocation>{ArgumentLocation::kAny, ArgumentLocation::kBody,
                                           ArgumentLocation::kHeader}));
  ASSERT_NE(route->handler(), nullptr);
  EXPECT_EQ(route->handler()->RequestParameterType().hash_code,
            StaticType::HashCode<RemotingRequest>().hash_code);
}

TEST(RouteBuilderTest, ASecondRegistrationOfANameChangesNothing) {
  TypeRegistry registry;
  RemotingEndpoints endpoints(registry, nullptr);
  endpoints.SetTags({"first"});
  endpoints.Get("/x", [](int32_t a) -> MaybeType<int32_t> { return a; }).Argument("a", "First.");
  const FunctionRoute* route = endpoints.routes().Find("GetX");
  ASSERT_NE(route, nullptr);
  const FunctionHandler* handler = route->handler();

  endpoints.SetTags({"second"});
  RouteBuilder again = endpoints.Get("/x", [](std::string /*b*/) -> MaybeType<void> { return {}; });
  EXPECT_TRUE(again.failed());
  EXPECT_EQ(again.route(), nullptr);
  again.Argument("b", "Second.", ArgumentLocation::kQuery)
      .Body("c")
      .SetPath("/y")
      .SetMethod(HttpMethod::kPost)
      .SetDescription("changed");
  EXPECT_EQ(again.position(), 2u);  // declarations still advance

  const FunctionRecord* record = registry.FindFunction("GetX");
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(record->arguments.size(), 1u);
  EXPECT_EQ(record->arguments[0].name, "a");
  EXPECT_EQ(record->arguments[0].description, "First.");
  EXPECT_EQ(record->description, "");
  EXPECT_EQ(record->tags, std::vector<std::string>{"first"});
  EXPECT_EQ(route->handler(), handler);
  EXPECT_EQ(route->path(), "/x");
  EXPECT_EQ(route->method(), HttpMethod::kGet);
  EXPECT_TRUE(route->argument_locations().empty());
}

TEST(RouteBuilderTest, MethodPathAndCustomMethod) {
  TypeRegistry registry;
  RouteTable routes;
  RouteBuilder builder =
      RegisterNamedFunction(registry, routes, "Named", []() -> MaybeType<void> { return {}; });
  FunctionRoute* route = builder.route();
  ASSERT_NE(route, nullptr);
  EXPECT_EQ(route->path(), "");
  EXPECT_EQ(route->method(), HttpMethod::kNone);
  EXPECT_EQ(route->handler()->RequestParameterType().hash_code,
            StaticType::HashCode<void>().hash_code);
  builder.SetCustomMethod("PURGE").SetPath("/");
  EXPECT_EQ(route->method(), HttpMethod::kCustom);
  EXPECT_EQ(route->method_name(), "PURGE");
  EXPECT_EQ(route->path(), "/");
  builder.SetMethod(HttpMethod::kDelete).SetPath("/a//");
  EXPECT_EQ(route->method_name(), "");
  EXPECT_EQ(route->path(), "/a/");
  // A body declared at a later position grows the locations with kAny.
  builder.Argument("a").Argument("b").Body("c");
  EXPECT_EQ(route->argument_locations(),
            (std::vector<ArgumentLocation>{ArgumentLocation::kAny, ArgumentLocation::kAny,
                                           ArgumentLocation::kBody}));
}

}  // namespace
}  // namespace Kestrel
