#include "remoting/api_description.h"

#include <gtest/gtest.h>

#include <cstddef>

#include <cstring>
#include <string>
#include <vector>

#include "binding/type_building.h"
#include "remoting/remoting_endpoints.h"
#include "tests/support/dispatch_support.h"

namespace Kestrel::RemotingTest {
struct ApiPoint {
  int32_t x = 0;
  int32_t y = 0;
};
enum class ApiColor : int32_t { kRed = 1, kGreen = 2, kBlue = 3 };
struct ApiShape {
  std::string label;
  std::vector<ApiPoint> points;
  ApiColor color = ApiColor::kRed;
};
struct ApiEmpty {};
}  // namespace Kestrel::RemotingTest
VYN_STATIC_TYPE(Kestrel::RemotingTest::ApiPoint, "struct Kestrel::RemotingTest::ApiPoint");
VYN_STATIC_TYPE(Kestrel::RemotingTest::ApiColor, "enum Kestrel::RemotingTest::ApiColor");
VYN_STATIC_TYPE(Kestrel::RemotingTest::ApiShape, "struct Kestrel::RemotingTest::ApiShape");
VYN_STATIC_TYPE(Kestrel::RemotingTest::ApiEmpty, "struct Kestrel::RemotingTest::ApiEmpty");

namespace Kestrel {
namespace {

using Client::ReadPacked;
using RemotingTest::ApiColor;
using RemotingTest::ApiEmpty;
using RemotingTest::ApiPoint;
using RemotingTest::ApiShape;
using RemotingTest::RequestBuilder;
using RemotingTest::ResponseHolder;

// Follows the links of an array from `first`, as a host would.
template <class Record>
std::vector<const Record*> Walk(const Record* first) {
  std::vector<const Record*> records;
  for (const Record* record = first; record != nullptr && records.size() < 10000;
       record = record->next) {
    records.push_back(record);
  }
  return records;
}

std::vector<const Client::CoreFunctionDescriptor*> WalkDescriptors(
    const Client::CoreFunctionDescriptor* first) {
  std::vector<const Client::CoreFunctionDescriptor*> records;
  for (const Client::CoreFunctionDescriptor* record = first;
       record != nullptr && records.size() < 10000;
       record = reinterpret_cast<const Client::CoreFunctionDescriptor*>(record->function.next)) {
    records.push_back(record);
  }
  return records;
}

class ApiDescriptionTest : public ::testing::Test {
 protected:
  ApiDescriptionTest() : endpoints_(registry_, &gate_) {
    registry_.RegisterStruct<ApiPoint>("ApiPoint")
        .AddField("x", &ApiPoint::x, "Across.")
        .AddField("y", &ApiPoint::y, "Down.", kFieldRequired)
        .SetDescription("A point.")
        .AddTag("geometry");
    registry_.RegisterEnum<ApiColor>("ApiColor")
        .AddValue("Red", 1)
        .AddValue("Green", 2, "Leafy.")
        .AddValue("Blue", 3);
    registry_.RegisterStruct<ApiShape>("ApiShape")
        .AddField("label", &ApiShape::label, "", kFieldOmitIfZero)
        .AddField("points", &ApiShape::points)
        .AddField("color", &ApiShape::color);
    registry_.RegisterStruct<ApiEmpty>("ApiEmpty");
    registry_.RegisterEvent<ApiShape>("OnShape").SetDescription("A shape changed.").AddTag("ev");

    endpoints_.SetTags({"test-plugin", "v1"});
    endpoints_
        .Post("/shapes/{id}/",
              [](int32_t id, ApiShape shape, bool dry) -> MaybeType<ApiShape> {
                shape.label += "#" + std::to_string(id) + (dry ? "?" : "");
                return shape;
              })
        .Argument("id", "The id.", ArgumentLocation::kPath)
        .Body("shape", "The shape.")
        .Argument("dry", "Only check.", ArgumentLocation::kQuery, true)
        .SetDescription("Replaces a shape.")
        .SetHelp("Help text.")
        .SetThreadSafe(true);
    endpoints_.Get("/colors", []() -> MaybeType<std::vector<ApiColor>> {
      return std::vector<ApiColor>{ApiColor::kBlue, ApiColor::kRed};
    });
    endpoints_.Register(HttpMethod::kNone, "/purge", []() -> MaybeType<void> { return {}; })
        .SetCustomMethod("PURGE")
        .SetAsync(true);
    // A route whose function the registry does not know.
    endpoints_.routes().Register(nullptr, "Ghost", nullptr);
  }

  CallGate gate_{[](void*) {}, nullptr};
  TypeRegistry registry_;
  RemotingEndpoints endpoints_;
};

TEST_F(ApiDescriptionTest, DescriptorsFollowTheRouteTable) {
  const Client::ApiDescription& api = endpoints_.BuildApiDescription();
  EXPECT_EQ(&endpoints_.BuildApiDescription(), &api);  // built once
  ASSERT_EQ(ReadPacked(api.function_count), 4u);
  const auto descriptors = WalkDescriptors(api.functions);
  ASSERT_EQ(descriptors.size(), 4u);
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    EXPECT_EQ(reinterpret_cast<const char*>(descriptors[i]) -
                  reinterpret_cast<const char*>(api.functions),
              static_cast<std::ptrdiff_t>(i * sizeof(Client::CoreFunctionDescriptor)));
  }
  // Table order is byte order of the names.
  EXPECT_STREQ(descriptors[0]->function.name, "GetColors");
  EXPECT_EQ(ReadPacked(descriptors[1]->function.name), nullptr);  // Ghost
  EXPECT_STREQ(descriptors[2]->function.name, "PostShapesById");
  EXPECT_STREQ(descriptors[3]->function.name, "Purge");

  const Client::CoreFunctionDescriptor& post = *descriptors[2];
  EXPECT_EQ(ReadPacked(post.function.reserved), 0u);
  EXPECT_STREQ(post.function.name_space, "");
  EXPECT_STREQ(post.function.description, "Replaces a shape.");
  EXPECT_STREQ(post.function.help, "Help text.");
  EXPECT_EQ(ReadPacked(post.function.thread_safe), 1);
  EXPECT_EQ(ReadPacked(post.function.result_type.kind), 17u);
  EXPECT_STREQ(post.function.result_type.type_name, "ApiShape");
  EXPECT_STREQ(post.function.async_result_type_name, "");
  ASSERT_EQ(ReadPacked(post.function.tag_count), 2u);
  EXPECT_STREQ(post.function.tags[0], "test-plugin");
  EXPECT_STREQ(post.function.tags[1], "v1");
  ASSERT_EQ(ReadPacked(post.function.argument_count), 3u);
  const auto arguments = Walk(post.function.arguments);
  ASSERT_EQ(arguments.size(), 3u);
  EXPECT_STREQ(arguments[0]->name, "id");
  EXPECT_STREQ(arguments[0]->description, "The id.");
  EXPECT_EQ(ReadPacked(arguments[0]->type.kind), 6u);
  EXPECT_STREQ(arguments[0]->type.type_name, "");
  EXPECT_EQ(ReadPacked(arguments[0]->optional), 0);
  EXPECT_STREQ(arguments[1]->name, "shape");
  EXPECT_EQ(ReadPacked(arguments[1]->type.kind), 17u);
  EXPECT_STREQ(arguments[1]->type.type_name, "ApiShape");
  EXPECT_STREQ(arguments[2]->name, "dry");
  EXPECT_EQ(ReadPacked(arguments[2]->type.kind), 1u);
  EXPECT_EQ(ReadPacked(arguments[2]->optional), 1);
  const auto locations = Walk(post.argument_locations);
  ASSERT_EQ(locations.size(), 3u);
  EXPECT_EQ(ReadPacked(locations[0]->location), 2u);
  EXPECT_EQ(ReadPacked(locations[1]->location), 5u);
  EXPECT_EQ(ReadPacked(locations[2]->location), 1u);
  EXPECT_STREQ(post.path, "/shapes/{id}");  // one trailing '/' dropped
  EXPECT_EQ(ReadPacked(post.method), 6u);
  EXPECT_STREQ(post.method_name, "");
  EXPECT_EQ(ReadPacked(post.route_flag), 0);
  EXPECT_EQ(ReadPacked(post.route_text_lists), nullptr);
  EXPECT_EQ(ReadPacked(post.route_text_list_count), 0u);
  EXPECT_EQ(ReadPacked(post.callback), &CallFunctionDescriptor);

  const Client::CoreFunctionDescriptor& colors = *descriptors[0];
  EXPECT_EQ(ReadPacked(colors.function.result_type.kind), 15u);
  EXPECT_EQ(ReadPacked(colors.function.result_type.element_kind), 16u);
  EXPECT_STREQ(colors.function.result_type.type_name, "ApiColor");
  EXPECT_EQ(ReadPacked(colors.function.argument_count), 0u);
  EXPECT_EQ(ReadPacked(colors.function.arguments), nullptr);
  EXPECT_EQ(ReadPacked(colors.argument_locations), nullptr);

  const Client::CoreFunctionDescriptor& purge = *descriptors[3];
  EXPECT_EQ(ReadPacked(purge.method), 8u);
  EXPECT_STREQ(purge.method_name, "PURGE");
  EXPECT_STREQ(purge.path, "/purge");
  EXPECT_EQ(ReadPacked(purge.function.result_type.kind), 0u);
  EXPECT_STREQ(purge.function.async_result_type_name, "");

  // The descriptor of a function missing from the registry: zero but for its
  // link (bytes 0-3) and its context (bytes 8-11).
  const auto* ghost = reinterpret_cast<const unsigned char*>(descriptors[1]);
  constexpr std::size_t kLinkEnd = sizeof(void*);
  constexpr std::size_t kContextBegin = offsetof(Client::CoreFunctionRecord, function_context);
  constexpr std::size_t kContextEnd = kContextBegin + sizeof(void*);
  for (std::size_t i = kLinkEnd; i < sizeof(Client::CoreFunctionRecord); ++i) {
    if (i >= kContextBegin && i < kContextEnd) continue;
    EXPECT_EQ(ghost[i], 0) << "byte " << i;
  }
  EXPECT_NE(ReadPacked(descriptors[1]->function.function_context), nullptr);
  EXPECT_STREQ(descriptors[1]->path, "");
  EXPECT_EQ(ReadPacked(descriptors[1]->method), 0u);

  // Every context pair is (gate, route) and stays in the endpoints.
  for (const auto* descriptor : descriptors) {
    const auto* context =
        static_cast<const FunctionContext*>(descriptor->function.function_context);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->gate, &gate_);
    ASSERT_NE(context->route, nullptr);
  }
  EXPECT_EQ(static_cast<const FunctionContext*>(post.function.function_context)->route,
            endpoints_.routes().Find("PostShapesById"));
  EXPECT_EQ(endpoints_.contexts().size(), 4u);
}

TEST_F(ApiDescriptionTest, HostCallsReachTheHandlerThroughTheCallBack) {
  const Client::ApiDescription& api = endpoints_.BuildApiDescription();
  const auto descriptors = WalkDescriptors(api.functions);
  ASSERT_EQ(descriptors.size(), 4u);

  const Client::CoreFunctionDescriptor& post = *descriptors[2];
  RequestBuilder request(6, "/shapes/7");
  request.Context(post.function.function_context)
      .Body("application/json", R"({"label":"sq","points":[{"x":1,"y":2}],"color":"Green"})");
  ResponseHolder response;
  post.callback(response.get(), &request.Build());
  EXPECT_FALSE(response.failed()) << response.error();
  EXPECT_EQ(response.json(), R"({"color":"Green","label":"sq#7","points":[{"x":1,"y":2}]})");

  const Client::CoreFunctionDescriptor& colors = *descriptors[0];
  RequestBuilder get(2, "/colors");
  get.Context(colors.function.function_context);
  ResponseHolder listed;
  colors.callback(listed.get(), &get.Build());
  EXPECT_EQ(listed.json(), R"(["Blue","Red"])");

  // The route without a handler answers like a missing function.
  RequestBuilder ghost(0, "Ghost");
  ghost.Context(descriptors[1]->function.function_context);
  ResponseHolder missing;
  descriptors[1]->callback(missing.get(), &ghost.Build());
  EXPECT_EQ(missing.error(), "Invalid function");
  EXPECT_EQ(missing.status(), 404u);
}

TEST_F(ApiDescriptionTest, TypesAndEvents) {
  const Client::ApiDescription& api = endpoints_.BuildApiDescription();
  const auto types = Walk(api.types);
  ASSERT_EQ(types.size(), api.type_count);
  ASSERT_EQ(types.size(), registry_.type_count());
  const std::vector<const TypeRecord*> registered = registry_.SnapshotTypes();
  for (std::size_t i = 0; i < types.size(); ++i) {
    EXPECT_STREQ(types[i]->name, registered[i]->name().c_str());
    EXPECT_EQ(reinterpret_cast<const char*>(types[i]) - reinterpret_cast<const char*>(api.types),
              static_cast<std::ptrdiff_t>(i * sizeof(Client::CoreTypeRecord)));
  }
  auto find = [&types](const char* name) -> const Client::CoreTypeRecord* {
    for (const auto* type : types) {
      if (std::strcmp(type->name, name) == 0) return type;
    }
    return nullptr;
  };

  const Client::CoreTypeRecord* point = find("ApiPoint");
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(ReadPacked(point->native_size), sizeof(ApiPoint));
  EXPECT_STREQ(point->description, "A point.");
  ASSERT_EQ(ReadPacked(point->tag_count), 1u);
  EXPECT_STREQ(point->tags[0], "geometry");
  EXPECT_EQ(ReadPacked(point->enumerators), nullptr);
  ASSERT_EQ(ReadPacked(point->member_count), 2u);
  const auto point_fields = Walk(point->fields);
  ASSERT_EQ(point_fields.size(), 2u);
  EXPECT_STREQ(point_fields[0]->name, "x");
  EXPECT_STREQ(point_fields[0]->description, "Across.");
  EXPECT_EQ(ReadPacked(point_fields[0]->offset), 0u);
  EXPECT_EQ(ReadPacked(point_fields[0]->type.kind), 6u);
  EXPECT_EQ(ReadPacked(point_fields[0]->flags), 0);
  EXPECT_STREQ(point_fields[1]->name, "y");
  EXPECT_EQ(ReadPacked(point_fields[1]->offset), 4u);
  EXPECT_EQ(ReadPacked(point_fields[1]->flags), 2);

  const Client::CoreTypeRecord* shape = find("ApiShape");
  ASSERT_NE(shape, nullptr);
  const auto shape_fields = Walk(shape->fields);
  ASSERT_EQ(shape_fields.size(), 3u);  // registration order
  EXPECT_STREQ(shape_fields[0]->name, "label");
  EXPECT_EQ(ReadPacked(shape_fields[0]->type.kind), 12u);
  EXPECT_EQ(ReadPacked(shape_fields[0]->flags), 1);
  EXPECT_STREQ(shape_fields[1]->name, "points");
  EXPECT_EQ(ReadPacked(shape_fields[1]->offset), offsetof(ApiShape, points));
  EXPECT_EQ(ReadPacked(shape_fields[1]->type.kind), 15u);
  EXPECT_EQ(ReadPacked(shape_fields[1]->type.element_kind), 17u);
  EXPECT_STREQ(shape_fields[1]->type.type_name, "ApiPoint");
  EXPECT_STREQ(shape_fields[2]->name, "color");
  EXPECT_EQ(ReadPacked(shape_fields[2]->type.kind), 16u);
  EXPECT_STREQ(shape_fields[2]->type.type_name, "ApiColor");

  const Client::CoreTypeRecord* color = find("ApiColor");
  ASSERT_NE(color, nullptr);
  EXPECT_EQ(ReadPacked(color->fields), nullptr);
  ASSERT_EQ(ReadPacked(color->member_count), 3u);
  const auto values = Walk(color->enumerators);
  ASSERT_EQ(values.size(), 3u);  // name order
  EXPECT_STREQ(values[0]->name, "Blue");
  EXPECT_EQ(ReadPacked(values[0]->value), 3);
  EXPECT_STREQ(values[1]->name, "Green");
  EXPECT_STREQ(values[1]->description, "Leafy.");
  EXPECT_EQ(ReadPacked(values[1]->value), 2);
  EXPECT_STREQ(values[2]->name, "Red");
  EXPECT_EQ(ReadPacked(values[2]->value), 1);

  const Client::CoreTypeRecord* empty = find("ApiEmpty");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(ReadPacked(empty->fields), nullptr);
  EXPECT_EQ(ReadPacked(empty->enumerators), nullptr);
  EXPECT_EQ(ReadPacked(empty->member_count), 0u);

  const auto events = Walk(api.events);
  ASSERT_EQ(events.size(), api.event_count);
  ASSERT_EQ(events.size(), registry_.event_count());
  const Client::CoreEventRecord* on_shape = events.back();
  EXPECT_STREQ(on_shape->name, "OnShape");
  EXPECT_STREQ(on_shape->payload_type_name, "ApiShape");
  EXPECT_STREQ(on_shape->description, "A shape changed.");
  ASSERT_EQ(ReadPacked(on_shape->tag_count), 1u);
  EXPECT_STREQ(on_shape->tags[0], "ev");
  EXPECT_EQ(ReadPacked(on_shape->next), nullptr);
}

TEST(MakeCoreTypeIdTest, KindsAndNames) {
  TypeRegistry registry;
  registry.RegisterStruct<ApiPoint>("ApiPoint");
  const TypeRecord* point = registry.FindType<ApiPoint>();
  ASSERT_NE(point, nullptr);
  struct Case {
    FieldType type;
    uint32_t kind;
    uint32_t element_kind;
    const char* name;
  };
  const Case cases[] = {
      {{NativeKind::kStruct, NativeKind::kNone, point}, 17, 0, "ApiPoint"},
      {{NativeKind::kVector, NativeKind::kStruct, point}, 15, 17, "ApiPoint"},
      {{NativeKind::kMap, NativeKind::kStruct, point}, 19, 17, "ApiPoint"},
      {{NativeKind::kEnum, NativeKind::kNone, nullptr}, 16, 0, ""},
      {{NativeKind::kObject, NativeKind::kNone, point}, 13, 0, ""},  // no name for other kinds
      {{static_cast<NativeKind>(20), static_cast<NativeKind>(77), nullptr}, 0, 0, ""},
      {{NativeKind::kNone, NativeKind::kNone, nullptr}, 0, 0, ""},
  };
  for (const Case& c : cases) {
    const Client::CoreTypeId id = MakeCoreTypeId(c.type);
    EXPECT_EQ(ReadPacked(id.kind), c.kind);
    EXPECT_EQ(ReadPacked(id.element_kind), c.element_kind);
    EXPECT_STREQ(id.type_name, c.name);
  }
}

}  // namespace
}  // namespace Kestrel
