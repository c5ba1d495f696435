#include "formats/json_native.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/type_building.h"
#include "formats/json_writer.h"
#include "tests/support/walk_probe.h"
#include "util/counting_allocator.h"

namespace JsonNativeProbe {
enum class Phase : int32_t { kIdle = 0, kBusy = 3 };
struct Item {
  int32_t id = 0;
  std::string label;
  bool operator==(const Item&) const = default;
};
struct Payload {
  uint64_t game_id = 0;
  Phase phase = Phase::kIdle;
  std::vector<uint8_t> token;
  std::vector<Item> items;
  std::unordered_map<std::string, int32_t> scores;
  double ratio = 0;
};
struct Unregistered {
  int32_t x = 0;
};
}  // namespace JsonNativeProbe

VYN_STATIC_TYPE(JsonNativeProbe::Phase, "enum JsonNativeProbe::Phase");
VYN_STATIC_TYPE(JsonNativeProbe::Item, "struct JsonNativeProbe::Item");
VYN_STATIC_TYPE(JsonNativeProbe::Payload, "struct JsonNativeProbe::Payload");
VYN_STATIC_TYPE(JsonNativeProbe::Unregistered, "struct JsonNativeProbe::Unregistered");

namespace Kestrel {
namespace {

using namespace JsonNativeProbe;

void RegisterProbes(TypeRegistry& registry) {
  registry.RegisterEnum<Phase>("Phase").AddValue("Idle", 0).AddValue("Busy", 3);
  registry.RegisterStruct<Item>("Item")
      .AddField("id", &Item::id, "", kFieldRequired)
      .AddField("label", &Item::label);
  registry.RegisterStruct<Payload>("Payload")
      .AddField("gameId", &Payload::game_id)
      .AddField("phase", &Payload::phase)
      .AddField("token", &Payload::token, "", kFieldOmitIfZero)
      .AddField("items", &Payload::items)
      .AddField("scores", &Payload::scores)
      .AddField("ratio", &Payload::ratio);
}

void ExpectNoLeak(const std::function<void()>& body) {
  body();
  const uint64_t before = ReadAllocatorCounters().live_bytes();
  body();
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), before);
}

TEST(JsonNative, SerializeWritesRegisteredNamesInNameOrder) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    Payload payload;
    payload.game_id = 18446744073709551615ull;
    payload.phase = Phase::kBusy;
    payload.token = {'a', 'b', 'c'};
    payload.items = {{1, "one"}};
    payload.scores = {{"z", 1}, {"a", -1}};
    payload.ratio = 100;
    MaybeType<std::string> text = SerializeJson(payload, registry);
    ASSERT_TRUE(text.has_value()) << text.ToText();
    EXPECT_EQ(text.value(),
              R"({"gameId":18446744073709551615,"items":[{"id":1,"label":"one"}],)"
              R"("phase":"Busy","ratio":100.0,"scores":{"a":-1,"z":1},"token":"YWJj"})");

    // An empty token is left out; an enum number without a name is written as a number.
    payload = Payload{};
    payload.phase = static_cast<Phase>(7);
    text = SerializeJson(payload, registry);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text.value(), R"({"gameId":0,"items":[],"phase":7,"ratio":0.0,"scores":{}})");

    MaybeType<std::string> list = SerializeJson(std::vector<Item>{{2, "x"}}, registry);
    ASSERT_TRUE(list.has_value());
    EXPECT_EQ(list.value(), R"([{"id":2,"label":"x"}])");
  });
}

TEST(JsonNative, SerializeOfAnUnregisteredTypeFailsWithItsReadableName) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    MaybeType<std::string> text = SerializeJson(Unregistered{}, registry);
    ASSERT_TRUE(text.is_failure());
    EXPECT_EQ(text.failure().code(), 0);
    EXPECT_STREQ(text.failure().message(),
                 "Failed to convert type \"const char *__cdecl "
                 "StaticType::Name<struct JsonNativeProbe::Unregistered>(void)\" to "
                 "BindingProperty for serialization");
  });
}

TEST(JsonNative, WalkedTextMatchesTheTreeText) {
  TypeRegistry registry;
  WalkProbe::RegisterProbes(registry);
  WalkProbe::ForEachProbe([&](const char* label, const auto& native, bool walks) {
    SCOPED_TRACE(label);
    PropertyResult converted;
    ConvertNative(converted, native, registry);
    std::string direct = "stale";
    ASSERT_EQ(WriteJson(MakeNativeWalk(native, registry), &registry, direct), walks);
    const MaybeType<std::string> serialized = SerializeJson(native, registry);
    if (!walks) {
      EXPECT_EQ(direct, "");
      // The fallback keeps the tree's answer, failure included.
      using Native = std::remove_cvref_t<decltype(native)>;
      const MaybeType<std::string> expected =
          WriteConvertedJson(converted, StaticType::Name<Native>(), registry);
      ASSERT_EQ(serialized.is_failure(), expected.is_failure());
      if (expected.is_failure()) {
        EXPECT_STREQ(serialized.failure().message(), expected.failure().message());
      } else {
        EXPECT_EQ(serialized.value(), expected.value());
      }
      return;
    }
    ASSERT_TRUE(converted.IsValid());
    EXPECT_EQ(direct, WriteJson(converted, &registry));
    EXPECT_EQ(serialized.value(), direct);
    std::string unnamed;
    ASSERT_TRUE(WriteJson(MakeNativeWalk(native, registry), nullptr, unnamed));
    EXPECT_EQ(unnamed, WriteJson(converted, nullptr));
  });
  // An empty dynamic root writes nothing on both paths.
  std::string empty = "stale";
  EXPECT_TRUE(WriteJson(MakeNativeWalk(BindingProperty(), registry), &registry, empty));
  EXPECT_EQ(empty, "");
}

TEST(JsonNative, ReadIntoFillsTheNativeValue) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    Payload payload;
    std::string message;
    ASSERT_TRUE(ReadJsonInto(R"({"gameId":"0x10","phase":"Busy","token":"YWJj",)"
                             R"("items":[{"id":4},null],"scores":{"k":2},"ratio":1,"x":[]})",
                             payload, registry, &message))
        << message;
    EXPECT_EQ(payload.game_id, 16u);
    EXPECT_EQ(payload.phase, Phase::kBusy);
    EXPECT_EQ(payload.token, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_EQ(payload.items, (std::vector<Item>{{4, ""}, {0, ""}}));
    EXPECT_EQ(payload.scores.at("k"), 2);
    EXPECT_EQ(payload.ratio, 1.0);

    // Round trip: the written text reads back into an equal value.
    MaybeType<std::string> text = SerializeJson(payload, registry);
    ASSERT_TRUE(text.has_value());
    Payload again;
    ASSERT_TRUE(ReadJsonInto(text.value(), again, registry));
    EXPECT_EQ(again.game_id, payload.game_id);
    EXPECT_EQ(again.phase, payload.phase);
    EXPECT_EQ(again.token, payload.token);
    EXPECT_EQ(again.items, payload.items);
    EXPECT_EQ(again.scores, payload.scores);
  });
}

TEST(JsonNative, ReadIntoReportsEachFailingStep) {
  ExpectNoLeak([] {
    TypeRegistry registry;
    RegisterProbes(registry);
    Item item;
    std::string message;
    EXPECT_FALSE(ReadJsonInto(R"({"id":1} x)", item, registry, &message));
    EXPECT_THAT(message, ::testing::StartsWith("Error: "));
    EXPECT_THAT(message, ::testing::EndsWith(" at offset 9."));

    EXPECT_FALSE(ReadJsonInto("", item, registry, &message));
    EXPECT_EQ(message, "A value for '<value>' is required.");

    EXPECT_FALSE(ReadJsonInto(R"({"label":"x"})", item, registry, &message));
    EXPECT_EQ(message,
              "Couldn't assign value to '<value>' of type Item because the input structure "
              "doesn't have required field 'id'.");

    Payload payload;
    EXPECT_FALSE(
        ReadJsonInto(R"({"items":[{"id":"7"},{"id":true}]})", payload, registry, &message));
    EXPECT_EQ(message,
              "Couldn't assign value to 'id' of type int32 because the input is of an invalid "
              "type bool.");
    ASSERT_EQ(payload.items.size(), 2u);
    EXPECT_EQ(payload.items[0].id, 7);

    // Without a message pointer only the outcome is reported.
    EXPECT_FALSE(ReadJsonInto(R"([1])", item, registry));
    EXPECT_TRUE(ReadJsonInto(R"({"id":-1})", item, registry));
    EXPECT_EQ(item.id, -1);
  });
}

}  // namespace
}  // namespace Kestrel
