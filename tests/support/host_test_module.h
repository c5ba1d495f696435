// Test support for the module's tests: a small feature module, entry functions
// that load it through `LoadPlugin`, and a module whose host is a script in
// the test (for records the in-process host cannot produce).
#ifndef VYN_TESTS_SUPPORT_HOST_TEST_MODULE_H_
#define VYN_TESTS_SUPPORT_HOST_TEST_MODULE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "binding/type_building.h"
#include "devhost/host/core_host.h"
#include "plugin/host/app_module.h"
#include "plugin/host/outgoing_request.h"
#include "plugin/host/plugin_entry.h"
#include "plugin/host/service_proxy.h"

namespace Kestrel::Client::HostTest {

// A record the test feature exchanges with its callers and other plugins.
struct Item {
  std::string name;
  int32_t count = 0;
};

}  // namespace Kestrel::Client::HostTest

VYN_STATIC_TYPE(Kestrel::Client::HostTest::Item, "struct Kestrel::Client::HostTest::Item");

namespace Kestrel::Client::HostTest {

// The test feature: registers `Item` and three endpoints.
//   GET  /test-plugin/v1/item         the stored item
//   POST /test-plugin/v1/item         stores the body item, forwards it to
//                                     POST /other/v1/item and publishes it
//   POST /test-plugin/v1/lookup       asks service "store", method "lookup"
//                                     with the body item and returns the answer
//   GET  /test-plugin/v1/broken       waits for a future without state
class TestModule : public CoreAppModule {
 public:
  static inline int destroyed = 0;
  static inline bool initialize_result = true;

  ~TestModule() override { ++destroyed; }

  void RegisterApi() override {
    registry()
        .RegisterStruct<Item>("Item")
        .AddField("name", &Item::name)
        .AddField("count", &Item::count);
    Get("/test-plugin/v1/item", [this]() -> MaybeType<Item> { return item_; });
    Post("/test-plugin/v1/item", [this](const Item& item) -> MaybeType<void> {
      item_ = item;
      MaybeType<void> sent = Request(requests(), HttpMethod::kPost, "/other/v1/item", item);
      if (sent.is_failure()) return sent.failure();
      return PublishResourceEvent(PluginResourceEventType::Update, "/test-plugin/v1/item", item_);
    }).Body("item");
    Post("/test-plugin/v1/lookup", [this](const Item& item) -> MaybeType<Item> {
      auto answer = CallService<Item>(*this, "store", "lookup", item);
      return Await(answer);
    }).Body("item");
    Get("/test-plugin/v1/broken", [this]() -> MaybeType<Item> {
      std::future<MaybeType<Item>> never_made;
      return Await(never_made);
    });
  }

  bool OnInitialize() override { return initialize_result; }

 private:
  Item item_;
};

inline uint32_t VYN_CDECL LoadTestModule(CorePluginRecord* record) {
  return LoadPlugin<TestModule>(record, PluginIdentity{"test-plugin"});
}

// The same module claiming plugin API 18.2.5.
inline uint32_t VYN_CDECL LoadTestModule1825(CorePluginRecord* record) {
  PluginIdentity identity{"test-plugin"};
  identity.api_version = SemanticVersion{18, 2, 5, "", ""};
  return LoadPlugin<TestModule>(record, identity);
}

// The module behind a host's load record; nullptr when nothing is loaded.
inline TestModule* ModuleOf(const DevHost::CoreHost& host) {
  return static_cast<TestModule*>(static_cast<CoreAppModule*>(host.plugin_record().module));
}

// A module whose host operations are the test's: `SendRequest` runs `respond`,
// the wait operations are counted. Registered like the feature above.
class ScriptedModule : public TestModule {
 public:
  std::function<void(CoreResponse*, const CoreRequest*)> respond;
  int yields = 0;
  int begin_waits = 0;
  int end_waits = 0;
  int sent_requests = 0;

  ScriptedModule() {
    RegisterFrameworkTypes(registry());
    RegisterApi();
  }
  void SendRequest(CoreResponse* response, const CoreRequest* request) override {
    ++sent_requests;
    if (respond) respond(response, request);
  }
  void Yield() override { ++yields; }
  void BeginWait(const char*, uint32_t) override { ++begin_waits; }
  void EndWait() override { ++end_waits; }
};

}  // namespace Kestrel::Client::HostTest

#endif  // VYN_TESTS_SUPPORT_HOST_TEST_MODULE_H_
