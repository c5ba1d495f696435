#include "devhost/server/api_document.h"
#include "devhost/server/api_listing.h"
#include "devhost/server/api_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "devhost/host/core_host.h"
#include "rapidjson/document.h"

namespace Kestrel::DevHost {
namespace {

using namespace Client;

// A description with one function of three arguments (body list of
// strings, optional query int, header text), a struct with a nested enum and
// a required field, an enum, a struct without fields and one event.
class ApiDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(static_cast<void*>(&function_), 0, sizeof(function_));
    arguments_[0] = {&arguments_[1], "names", "Who to look for", {15, 12, ""}, 0};
    arguments_[1] = {&arguments_[2], "limit", "", {6, 0, ""}, 1};
    arguments_[2] = {nullptr, "X-Trace", "", {12, 0, ""}, 0};
    locations_[0] = {&locations_[1], 5};
    locations_[1] = {&locations_[2], 1};
    locations_[2] = {nullptr, 4};
    function_.function.name = "PostThingsV1Find";
    function_.function.arguments = arguments_;
    function_.function.argument_count = 3;
    function_.function.result_type = {17, 0, "Thing"};
    function_.function.description = "Finds things.";
    function_.function.tags = tags_;
    function_.function.tag_count = 2;
    function_.argument_locations = locations_;
    function_.path = "/things/v1/find";
    function_.method = kMethodPost;

    fields_[0] = {&fields_[1], "name", "", 0, {12, 0, ""}, 2};
    fields_[1] = {nullptr, "color", "", 4, {16, 0, "Color"}, 0};
    enumerators_[0] = {&enumerators_[1], "Blue", "", 2};
    enumerators_[1] = {nullptr, "Red", "The red one", 1};
    types_[0] = {&types_[1], "Thing", "", 8, "A thing.", nullptr, 0, fields_, nullptr, 2};
    types_[1] = {&types_[2], "Color", "", 4, "", nullptr, 0, nullptr, enumerators_, 2};
    types_[2] = {nullptr, "Empty", "", 1, "", nullptr, 0, nullptr, nullptr, 0};
    event_ = {nullptr, "OnThing", "", "Thing", "Fired when a thing changes.", tags_, 1};
    api_ = {&function_, 1, types_, 3, &event_, 1};
  }

  const char* tags_[2] = {"Plugins", "Plugin tmx-be-things"};
  CoreArgumentRecord arguments_[3];
  CoreArgumentLocationEntry locations_[3];
  CoreFunctionDescriptor function_;
  CoreFieldRecord fields_[2];
  CoreEnumValueRecord enumerators_[2];
  CoreTypeRecord types_[3];
  CoreEventRecord event_;
  ApiDescription api_;
};

TEST_F(ApiDocumentTest, TextListsFunctionsTypesAndEvents) {
  EXPECT_EQ(DescribeApiText(api_, "tmx-be-things"),
            "Plugin tmx-be-things\n"
            "\n"
            "Functions (1)\n"
            "  POST /things/v1/find  (PostThingsV1Find) - Finds things.\n"
            "    argument names: vector<string> in body - Who to look for\n"
            "    argument limit: int32 in query, optional\n"
            "    argument X-Trace: string in header\n"
            "    result: Thing\n"
            "    tags: Plugins, Plugin tmx-be-things\n"
            "\n"
            "Types (3)\n"
            "  Thing (struct, 8 bytes) - A thing.\n"
            "    name: string\n"
            "    color: Color\n"
            "  Color (enum, 4 bytes)\n"
            "    Blue = 2\n"
            "    Red = 1 - The red one\n"
            "  Empty (enum, 1 bytes)\n"
            "\n"
            "Events (1)\n"
            "  OnThing: Thing - Fired when a thing changes.\n");
}

TEST_F(ApiDocumentTest, JsonCarriesTheSameContent) {
  rapidjson::Document json;
  json.Parse(DescribeApiJson(api_, "tmx-be-things").c_str());
  ASSERT_FALSE(json.HasParseError());
  const rapidjson::Value& function = json["functions"][0];
  EXPECT_STREQ(function["method"].GetString(), "POST");
  EXPECT_STREQ(function["arguments"][0]["location"].GetString(), "body");
  EXPECT_STREQ(function["arguments"][0]["type"]["text"].GetString(), "vector<string>");
  EXPECT_TRUE(function["arguments"][1]["optional"].GetBool());
  EXPECT_STREQ(function["result"]["typeName"].GetString(), "Thing");
  EXPECT_EQ(function["tags"].Size(), 2u);
  EXPECT_EQ(json["types"][0]["fields"][1]["offset"].GetUint(), 4u);
  EXPECT_EQ(json["types"][1]["enumerators"][1]["value"].GetInt(), 1);
  EXPECT_EQ(json["types"][2]["enumerators"].Size(), 0u);
  EXPECT_STREQ(json["events"][0]["payloadType"].GetString(), "Thing");
}

TEST_F(ApiDocumentTest, OpenApiDocumentHasPathsParametersBodiesAndSchemas) {
  rapidjson::Document doc;
  doc.Parse(BuildOpenApiDocument(api_, "tmx-be-things").c_str());
  ASSERT_FALSE(doc.HasParseError());
  EXPECT_STREQ(doc["openapi"].GetString(), "3.0.3");
  EXPECT_STREQ(doc["info"]["title"].GetString(), "tmx-be-things");
  EXPECT_TRUE(doc["info"]["license"].HasMember("name"));
  EXPECT_STREQ(doc["servers"][0]["url"].GetString(), "/");  // where it is served from
  EXPECT_EQ(doc["security"].Size(), 0u);
  const rapidjson::Value& post = doc["paths"]["/things/v1/find"]["post"];
  EXPECT_STREQ(post["operationId"].GetString(), "PostThingsV1Find");
  EXPECT_STREQ(post["summary"].GetString(), "Finds things.");
  ASSERT_EQ(post["parameters"].Size(), 2u);  // the body argument is the request body
  EXPECT_STREQ(post["parameters"][0]["in"].GetString(), "query");
  EXPECT_FALSE(post["parameters"][0]["required"].GetBool());
  EXPECT_STREQ(post["parameters"][0]["schema"]["format"].GetString(), "int32");
  EXPECT_STREQ(post["parameters"][1]["in"].GetString(), "header");
  const rapidjson::Value& body = post["requestBody"]["content"];
  EXPECT_STREQ(body["application/json"]["schema"]["type"].GetString(), "array");
  EXPECT_STREQ(body["application/json"]["schema"]["items"]["type"].GetString(), "string");
  EXPECT_TRUE(body.HasMember("application/x-yaml"));
  EXPECT_TRUE(body.HasMember("application/x-msgpack"));
  EXPECT_STREQ(
      post["responses"]["200"]["content"]["application/json"]["schema"]["$ref"].GetString(),
      "#/components/schemas/Thing");
  EXPECT_STREQ(post["responses"]["4XX"]["$ref"].GetString(), "#/components/responses/Refused");
  EXPECT_STREQ(post["responses"]["5XX"]["$ref"].GetString(), "#/components/responses/CallFailed");
  EXPECT_FALSE(post["responses"].HasMember("default"));
  EXPECT_FALSE(post["responses"].HasMember("204"));  // it always returns a Thing

  const rapidjson::Value& schemas = doc["components"]["schemas"];
  EXPECT_STREQ(schemas["Thing"]["properties"]["color"]["$ref"].GetString(),
               "#/components/schemas/Color");
  EXPECT_STREQ(schemas["Thing"]["required"][0].GetString(), "name");
  EXPECT_STREQ(schemas["Color"]["enum"][0].GetString(), "Blue");  // used through Thing
  EXPECT_FALSE(schemas.HasMember("Empty"));                       // used by no operation
  EXPECT_STREQ(schemas["Error"]["required"][0].GetString(), "message");
  EXPECT_STREQ(doc["x-events"][0]["name"].GetString(), "OnThing");
  EXPECT_STREQ(doc["x-events"][0]["payloadType"].GetString(), "Thing");

  // The host's own endpoint, under its own tag.
  const rapidjson::Value& roster = doc["paths"]["/devhost/roster"];
  EXPECT_STREQ(roster["put"]["tags"][0].GetString(), "vyn-devhost");
  EXPECT_STREQ(roster["get"]["responses"]["200"]["content"]["application/json"]["schema"]["$ref"]
                   .GetString(),
               "#/components/schemas/DevhostRoster");
  EXPECT_TRUE(schemas.HasMember("DevhostRosterPlayer"));

  // Without a description the summary is the function's name; functions
  // without a method are left out of the paths, and so are their types.
  function_.function.description = "";
  doc.Parse(BuildOpenApiDocument(api_, "x").c_str());
  EXPECT_STREQ(doc["paths"]["/things/v1/find"]["post"]["summary"].GetString(), "PostThingsV1Find");
  function_.method = kMethodNone;
  doc.Parse(BuildOpenApiDocument(api_, "x").c_str());
  EXPECT_EQ(doc["paths"].MemberCount(), 5u);  // the host's own
  EXPECT_FALSE(doc["components"]["schemas"].HasMember("Thing"));
}

TEST(ApiDocumentNamesTest, KindsTypesAndLocations) {
  EXPECT_EQ(TypeIdText({15, 17, "Thing"}), "vector<Thing>");
  EXPECT_EQ(TypeIdText({19, 6, ""}), "map<int32>");
  EXPECT_EQ(TypeIdText({17, 0, nullptr}), "struct");
  EXPECT_EQ(TypeIdText({0, 0, ""}), "none");
  EXPECT_EQ(LocationText(2), "path");
  EXPECT_EQ(LocationText(0), "any");
  EXPECT_EQ(LocationText(3), "location 3");
}

}  // namespace
}  // namespace Kestrel::DevHost
