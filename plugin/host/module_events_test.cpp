#include "plugin/host/module_events.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "binding/type_registry.h"
#include "devhost/host/core_host.h"
#include "tests/support/host_test_module.h"

namespace Kestrel::Client::HostTest {
struct Unregistered {
  int32_t value = 0;
};
}  // namespace Kestrel::Client::HostTest

VYN_STATIC_TYPE(Kestrel::Client::HostTest::Unregistered,
                "struct Kestrel::Client::HostTest::Unregistered");

namespace Kestrel::Client::HostTest {
namespace {

using DevHost::CoreHost;
using DevHost::HostValue;

HostValue Json(const char* text) {
  MaybeType<HostValue> value = HostValue::FromJson(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value.has_value() ? value.TakeValue() : HostValue();
}

TEST(EventNameFromUri, KeepsFourPiecesOrSixForPlatformConfig) {
  const std::pair<const char*, const char*> cases[] = {
      {"/vyn-spectator/v1/spectate", "OnJsonApiEvent_vyn-spectator_v1_spectate"},
      {"/a/b/c/d/e", "OnJsonApiEvent_a_b_c"},
      {"a//b///c/", "OnJsonApiEvent_a_b_c"},
      {"/x", "OnJsonApiEvent_x"},
      {"", "OnJsonApiEvent"},
      {"///", "OnJsonApiEvent"},
      {"/vyn-platform-config/v1/a/b/c/d", "OnJsonApiEvent_vyn-platform-config_v1_a_b_c"},
      {"/vyn-platform-config/v1", "OnJsonApiEvent_vyn-platform-config_v1"},
      {"/a/vyn-platform-config/b/c/d", "OnJsonApiEvent_a_vyn-platform-config_b"},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(EventNameFromUri(path), name) << path;
}

TEST(MatchResourcePattern, StarsTakeOneSegmentWithoutBacktracking) {
  struct Case {
    const char* pattern;
    const char* path;
    bool match;
  };
  const Case cases[] = {
      {"/a/*/c", "/a/b/c", true},
      {"/a/*/c", "/a//c", true},
      {"/a/*/c", "/a/b/x/c", false},
      {"/a/*", "/a/bc", true},
      {"/a/*", "/a/", false},
      {"/a/*", "/a", false},
      {"/a/*x", "/a/bx", false},  // the star never gives the "x" back
      {"/a/b", "/a/b", true},
      {"/a/b", "/a/bc", false},
      {"/a/b", "/a", false},
      {"*", "", false},
      {"", "", true},
      {"/*/*", "/p/q", true},
      {"/*/*", "/p/", false},
      {"/a/*/", "/a/b/", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchResourcePattern(c.pattern, c.path), c.match) << c.pattern << " " << c.path;
  }
  // A long path is matched in one pass.
  EXPECT_TRUE(MatchResourcePattern("/*", "/" + std::string(100000, 'x')));
}

TEST(FrameworkTypes, AreRegisteredWithTheirTagAndIdentity) {
  TypeRegistry registry;
  RegisterFrameworkTypes(registry);
  for (const char* name : {"PluginManagerState", "PluginManagerResource", "PluginResourceEventType",
                           "PluginResourceEvent", "PluginLcdsEvent", "PluginLcdsResponse",
                           "PluginServiceProxyResponse"}) {
    const TypeRecord* type = registry.FindTypeByName(name);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_EQ(type->tags(), std::vector<std::string>{"kclient"}) << name;
  }
  EXPECT_EQ(registry.FindType<PluginServiceProxyResponse>(),
            registry.FindTypeByName("PluginServiceProxyResponse"));
  EXPECT_EQ(StaticType::HashCode<PluginServiceProxyResponse>().hash_code,
            Fnv1a32("unsigned int __cdecl StaticType::HashCode<struct "
                    "Kestrel::Client::AppModule::PluginServiceProxyResponse>(void)"));
  const TypeRecord* event_type = registry.FindTypeByName("PluginResourceEventType");
  ASSERT_NE(event_type->FindValue("Delete"), nullptr);
  EXPECT_EQ(event_type->FindValue("Delete")->value, 2);

  const auto events = registry.SnapshotEvents();
  std::vector<std::string> names;
  for (const EventRecord* event : events) {
    if (!event->tags.empty() && event->tags[0] == "kclient") names.push_back(event->name);
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"OnJsonApiEvent", "OnLcdsEvent", "OnServiceProxyUuidEvent",
                                      "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}));
  EXPECT_EQ(registry.FindEvent("OnLcdsEvent")->description,
            "Fired when a message is received over the LCDS connection.");
  EXPECT_EQ(registry.FindEvent("OnJsonApiEvent")->payload_type->hash_code,
            StaticType::HashCode<PluginResourceEvent>().hash_code);
}

class ModuleEvents : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.Load(&LoadTestModule).has_value());
    ASSERT_TRUE(host_.Initialize().has_value());
    module_ = ModuleOf(host_);
    host_.ClearRecords();
  }

  int CountSubscriptions(const std::string& name) {
    int count = 0;
    for (const auto& subscription : host_.subscriptions()) count += subscription.name == name;
    return count;
  }

  CoreHost host_;
  TestModule* module_ = nullptr;
};

TEST_F(ModuleEvents, SubscriptionsAreCountedPerEventName) {
  const std::string name = "OnJsonApiEvent_a_b_c";
  module_->SubscribeEvent("/a/b/c");
  module_->SubscribeEvent("/a/b/c/other");  // same name
  EXPECT_EQ(CountSubscriptions(name), 1);
  EXPECT_EQ(host_.subscriptions().back().flag, kResourceEventFlag);
  module_->UnsubscribeEvent("/a/b/c");
  EXPECT_TRUE(host_.unsubscriptions().empty());
  module_->UnsubscribeEvent("/a/b/c/other");
  ASSERT_EQ(host_.unsubscriptions().size(), 1u);
  EXPECT_EQ(host_.unsubscriptions()[0].name, name);
  // Subscribing again after the count fell to 0 subscribes at the host again.
  module_->SubscribeEvent("/a/b/c");
  EXPECT_EQ(CountSubscriptions(name), 2);
}

TEST_F(ModuleEvents, ResourceEventsReachExactAndPatternHandlers) {
  std::vector<std::string> calls;
  module_->AddResourceHandler("/a/b/c", [&](const PluginResourceEvent& event) {
    calls.push_back("exact " + event.uri + " " + std::string(event.data.GetString()));
  });
  module_->AddResourcePatternHandler(
      "/a/*/c", [&](const PluginResourceEvent&) { calls.push_back("pattern a/*/c"); });
  module_->AddResourcePatternHandler(
      "/a/*", [&](const PluginResourceEvent&) { calls.push_back("pattern a/*"); });
  module_->SubscribeEvent("/a/b/c");

  // Without the leading "/" the uri reaches the same handlers.
  host_.QueueEvent("OnJsonApiEvent_a_b_c",
                   Json(R"({"uri":"a/b/c","eventType":"Update","data":"v"})"));
  host_.DeliverPending();
  EXPECT_EQ(calls, (std::vector<std::string>{"exact a/b/c v", "pattern a/*/c"}));

  // A payload that does not convert is dropped; so is an unknown event type.
  calls.clear();
  host_.QueueEvent("OnJsonApiEvent_a_b_c", Json(R"({"uri":"/a/b/c","eventType":"Explode"})"));
  host_.QueueEvent("OnJsonApiEvent_a_b_c", Json(R"([1,2])"));
  host_.DeliverPending();
  EXPECT_TRUE(calls.empty());

  host_.QueueEvent("OnJsonApiEvent_a_b_c", Json(R"({"uri":"/a/bc","eventType":0})"));
  host_.DeliverPending();
  EXPECT_EQ(calls, std::vector<std::string>{"pattern a/*"});

  // A handler that throws does not take the host down.
  module_->AddResourceHandler(
      "/a/b/c", [](const PluginResourceEvent&) { throw std::runtime_error("handler failed"); });
  host_.QueueEvent("OnJsonApiEvent_a_b_c", Json(R"({"uri":"/a/b/c","eventType":1})"));
  EXPECT_NO_THROW(host_.DeliverPending());
}

TEST_F(ModuleEvents, PublishingSendsUnderTheDerivedAndTheBaseName) {
  Item item{"lamp", 3};
  ASSERT_TRUE(
      module_->PublishResourceEvent(PluginResourceEventType::Update, "/x", item).has_value());
  auto events = host_.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].name, "OnJsonApiEvent_x");
  EXPECT_EQ(events[1].name, "OnJsonApiEvent");
  for (const auto& event : events) {
    EXPECT_EQ(event.flag, 0u);
    EXPECT_EQ(event.payload.ToJson(),
              R"({"data":{"count":3,"name":"lamp"},"eventType":"Update","uri":"/x"})");
  }

  // An empty path derives the base name itself: one event only.
  host_.ClearRecords();
  PluginResourceEvent plain;
  ASSERT_TRUE(module_->SendJsonApiEvent("OnJsonApiEvent", plain).has_value());
  EXPECT_EQ(host_.events().size(), 1u);

  // A resource that does not convert sends nothing.
  host_.ClearRecords();
  MaybeType<void> unsent =
      module_->PublishResourceEvent(PluginResourceEventType::Create, "/y", Unregistered{});
  ASSERT_TRUE(unsent.is_failure());
  EXPECT_STREQ(unsent.failure().message(),
               "Couldn't convert native value because it's an unregistered structure.");
  EXPECT_TRUE(host_.events().empty());
}

}  // namespace
}  // namespace Kestrel::Client::HostTest
