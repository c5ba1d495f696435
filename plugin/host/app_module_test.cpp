#include "plugin/host/app_module.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <string>
#include <vector>

#include "devhost/host/core_host.h"
#include "log/logger.h"
#include "tests/support/capturing_log_target.h"
#include "tests/support/host_test_module.h"
#include "util/counting_allocator.h"

namespace Kestrel::Client::HostTest {
namespace {

using DevHost::CallRequest;
using DevHost::CoreHost;
using DevHost::HostOptions;
using DevHost::ScriptedResponse;
using Kestrel::kMethodGet;
using Kestrel::kMethodPost;

HostOptions HostAt(uint32_t major, uint32_t minor, uint32_t patch) {
  HostOptions options;
  options.api_major = major;
  options.api_minor = minor;
  options.api_patch = patch;
  options.plugin_id = 7;
  return options;
}

bool HasSubscription(const CoreHost& host, const std::string& name, uint32_t flag) {
  for (const auto& subscription : host.active_subscriptions()) {
    if (subscription.name == name && subscription.flag == flag) return true;
  }
  return false;
}

TEST(PluginEntry, AcceptsHostsOfTheSameMajorNotBelowThePlugin) {
  struct Case {
    LoadPluginFunction load;
    uint32_t major, minor, patch;
    bool accepted;
  };
  const Case cases[] = {
      {&LoadTestModule, 18, 0, 0, true},      {&LoadTestModule, 18, 7, 3, true},
      {&LoadTestModule, 17, 9, 9, false},     {&LoadTestModule, 19, 0, 0, false},
      {&LoadTestModule1825, 18, 2, 5, true},  {&LoadTestModule1825, 18, 3, 0, true},
      {&LoadTestModule1825, 18, 2, 4, false}, {&LoadTestModule1825, 18, 1, 9, false},
      {&LoadTestModule1825, 18, 10, 0, true}, {&LoadTestModule1825, 0, 2, 5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << "." << c.patch);
    CoreHost host(HostAt(c.major, c.minor, c.patch));
    EXPECT_EQ(host.Load(c.load).has_value(), c.accepted);
  }
}

TEST(PluginEntry, FillsTheRecordWithVersionNameTableAndDescription) {
  CorePluginRecord record{};
  record.version_major = 18;
  record.version_minor = 7;
  record.version_patch = 3;
  LoadTestModule(&record);
  ASSERT_NE(record.module, nullptr);
  EXPECT_EQ(record.version_major, 18u);
  EXPECT_EQ(record.version_minor, 0u);  // the plugin's own version, not the host's
  EXPECT_EQ(record.version_patch, 0u);
  EXPECT_STREQ(record.plugin_name, "tmx-be-test-plugin");
  ASSERT_NE(record.entry_table, nullptr);
  ASSERT_NE(record.api_description, nullptr);

  auto* module = static_cast<TestModule*>(static_cast<CoreAppModule*>(record.module));
  EXPECT_EQ(record.entry_table, module->entry_table());
  EXPECT_EQ(module->host_version(), (SemanticVersion{18, 7, 3, "", ""}));
  EXPECT_EQ(module->tags(), (std::vector<std::string>{"Plugins", "Plugin tmx-be-test-plugin"}));
  // Framework and feature records are both described; feature routes carry the tags.
  EXPECT_NE(module->registry().FindEvent("OnServiceProxyUuidEvent"), nullptr);
  const FunctionRecord* get = module->registry().FindFunction("GetTestPluginV1Item");
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(get->tags, module->tags());
  EXPECT_EQ(record.api_description->function_count, 4u);
  EXPECT_EQ(module->core(), nullptr);  // not started before Initialize

  const int destroyed = TestModule::destroyed;
  record.entry_table->Shutdown(record.module);
  EXPECT_EQ(TestModule::destroyed, destroyed + 1);
}

TEST(PluginEntry, RefusedHostGetsTheReportAndAnEmptyRecord) {
  CapturingLogTarget capture;
  capture.Configure(kLogLevelOkay, 0, 0, "#M");
  const int destroyed = TestModule::destroyed;
  CorePluginRecord record{};
  record.version_major = 19;
  record.entry_table = reinterpret_cast<const ModuleEntryTable*>(0x10);  // the host's leftovers
  record.module = reinterpret_cast<void*>(0x20);
  LoadTestModule(&record);

  EXPECT_EQ(record.version_major, 18u);
  EXPECT_EQ(record.entry_table, nullptr);
  EXPECT_EQ(record.module, nullptr);
  EXPECT_EQ(record.plugin_name, nullptr);
  EXPECT_EQ(record.api_description, nullptr);
  EXPECT_EQ(TestModule::destroyed, destroyed + 1);  // made in step 1, not leaked
  const auto entries = capture.entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].level, kLogLevelError);
  EXPECT_NE(entries[0].message.find("Expression: ALE-EECF0606"), std::string::npos);
  EXPECT_NE(entries[0].message.find(
                "Description: test-plugin which supports plugin API 18.0.0 is not compatible "
                "with core's plugin API 19.0.0"),
            std::string::npos);
}

TEST(AppModule, InitializeStartsServicesAndShutdownUndoesThem) {
  CoreHost host(HostAt(18, 4, 1));
  ASSERT_TRUE(host.Load(&LoadTestModule).has_value());
  TestModule* module = ModuleOf(host);
  ASSERT_TRUE(host.Initialize().has_value());

  EXPECT_EQ(module->plugin_id(), 7u);
  EXPECT_EQ(module->user_agent(), "KestrelClient/18.4.1 (tmx-be-test-plugin)");
  EXPECT_NE(module->telemetry(), nullptr);
  EXPECT_EQ(host.active_subscriptions().size(), 3u);
  for (const char* name :
       {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}) {
    EXPECT_TRUE(HasSubscription(host, name, kServiceProxyEventFlag)) << name;
  }

  // Log lines now go to the host, the message alone, from level 0 up.
  host.ClearRecords();
  LogMessage(kLogLevelOkay, kLogGroupGen, "hello %d", 5);
  LogMessage(kLogLevelWarn, kLogGroupXtr, "suppressed");
  auto lines = host.log_lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, kLogLevelOkay);
  EXPECT_EQ(lines[0].text, "hello 5");

  module->SubscribeEvent("/a/b");
  const int destroyed = TestModule::destroyed;
  host.Shutdown();
  EXPECT_EQ(TestModule::destroyed, destroyed + 1);
  EXPECT_TRUE(host.active_subscriptions().empty());
  EXPECT_EQ(host.unsubscriptions().size(), 4u);
  for (const auto& unsubscription : host.unsubscriptions()) EXPECT_EQ(unsubscription.plugin_id, 7u);

  // The host log target went with the module: no line reaches the host any more.
  host.ClearRecords();
  LogMessage(kLogLevelError, kLogGroupGen, "after shutdown");
  EXPECT_TRUE(host.log_lines().empty());
}

TEST(AppModule, FailingOnInitializeFailsInitialize) {
  TestModule::initialize_result = false;
  CoreHost host;
  ASSERT_TRUE(host.Load(&LoadTestModule).has_value());
  EXPECT_TRUE(host.Initialize().is_failure());
  TestModule::initialize_result = true;
  // The entry table also refuses a null interface instead of crashing.
  CorePluginRecord record{};
  record.version_major = 18;
  LoadTestModule(&record);
  EXPECT_EQ(record.entry_table->Initialize(record.module, nullptr), 0);
  record.entry_table->Shutdown(record.module);
}

TEST(AppModule, AwaitPollsYieldsAndFramesTheWaitOnce) {
  ScriptedModule module;
  {
    std::promise<int> promise;
    std::future<int> future = promise.get_future();
    promise.set_value(4);
    EXPECT_EQ(module.Await(future), 4);
    EXPECT_EQ(module.begin_waits + module.end_waits + module.yields, 0);
  }
  {
    // Ready after three yields.
    std::promise<int> promise;
    std::future<int> future = promise.get_future();
    struct Counting : ScriptedModule {
      std::promise<int>* promise = nullptr;
      void Yield() override {
        if (++yields == 3) promise->set_value(9);
      }
    } counting;
    counting.promise = &promise;
    EXPECT_EQ(counting.Await(future), 9);
    EXPECT_EQ(counting.yields, 3);
    EXPECT_EQ(counting.begin_waits, 1);
    EXPECT_EQ(counting.end_waits, 1);
  }
}

TEST(AppModule, AwaitLabelsTheWaitAndReportsFutureErrors) {
  CoreHost host;
  ASSERT_TRUE(host.Load(&LoadTestModule).has_value());
  ASSERT_TRUE(host.Initialize().has_value());
  TestModule* module = ModuleOf(host);
  host.ClearRecords();
  {
    std::promise<MaybeType<int>> promise;
    std::future<MaybeType<int>> future = promise.get_future();
    DevHost::HostObserver observer;
    observer.on_begin_wait = [&](const std::string&) { promise.set_value(1); };
    host.SetObserver(observer);
    EXPECT_TRUE(module->Await(future).has_value());
    host.SetObserver({});
  }
  ASSERT_EQ(host.wait_labels().size(), 1u);
  EXPECT_EQ(host.wait_labels()[0],
            "Wait: future<const char *__cdecl StaticType::Name<class "
            "Kestrel::MaybeType<class Kestrel::Failure,int>>(void)>");
  EXPECT_EQ(host.end_wait_count(), 1);
  EXPECT_EQ(host.yield_count(), 1);

  host.ClearRecords();
  std::future<int> empty;
  EXPECT_THROW(module->Await(empty), std::future_error);
  std::future<int> broken;
  { broken = std::promise<int>().get_future(); }
  EXPECT_THROW(module->Await(broken), std::future_error);
  const auto lines = host.log_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].text.find("Expression: ALE-6D828C10"), std::string::npos);
  EXPECT_NE(lines[0].text.find("Caught std::future_error in AppModule::Await: (3) "),
            std::string::npos);
  EXPECT_NE(lines[1].text.find("AppModule::Await: (4) "), std::string::npos);  // broken promise

  module->YieldOnce();
  EXPECT_EQ(host.wait_labels().back(), "Wait: yield");
}

TEST(AppModule, RoutesServeCallsThroughTheHost) {
  CoreHost host;
  ASSERT_TRUE(host.Load(&LoadTestModule).has_value());
  ASSERT_TRUE(host.Initialize().has_value());
  host.SetRequestHandler(kMethodPost, "/other/v1/item",
                         [](const DevHost::RecordedRequest&) { return ScriptedResponse::Nil(); });
  auto stored = host.Call(
      CallRequest::Json(kMethodPost, "/test-plugin/v1/item", R"({"name":"lamp","count":2})"));
  ASSERT_TRUE(stored.has_value());
  EXPECT_FALSE(stored.value().error) << stored.value().error_text;
  auto read = host.Call(CallRequest::Json(kMethodGet, "/test-plugin/v1/item", ""));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read.value().ValueJson(), R"({"count":2,"name":"lamp"})");

  // A future error raised by Await inside a call ends as that call's error.
  auto broken = host.Call(CallRequest::Json(kMethodGet, "/test-plugin/v1/broken", ""));
  ASSERT_TRUE(broken.has_value());
  EXPECT_TRUE(broken.value().error);
  EXPECT_EQ(broken.value().status, 500u);
}

TEST(AppModule, MemoryStatsAndAFullCycleLeaveNoLiveBytes) {
  MemoryStats before{};
  CoreAppModule::ReadMemoryStats();
  CorePluginRecord record{};
  record.version_major = 18;
  LoadTestModule(&record);
  ASSERT_NE(record.entry_table, nullptr);
  record.entry_table->GetMemoryStats(0, &before);
  void* block = CountingAllocate(1000);
  MemoryStats after{};
  record.entry_table->GetMemoryStats(12345, &after);
  CountingFree(block);
  MemoryStats freed{};
  record.entry_table->GetMemoryStats(0, &freed);
  EXPECT_EQ(after.allocations, before.allocations + 1);
  const uint64_t block_size = after.bytes_allocated - before.bytes_allocated;
  EXPECT_GE(block_size, 1000u);
  EXPECT_EQ(freed.frees, after.frees + 1);
  EXPECT_EQ(freed.bytes_freed, after.bytes_freed + block_size);
  EXPECT_GE(after.peak_live_bytes, after.bytes_allocated - after.bytes_freed);
  EXPECT_EQ(after.reserved1, 0u);
  EXPECT_EQ(after.reserved2, 0u);
  record.entry_table->Shutdown(record.module);

  auto cycle = [] {
    CoreHost host;
    ASSERT_TRUE(host.Load(&LoadTestModule).has_value());
    ASSERT_TRUE(host.Initialize().has_value());
    host.SetRequestHandler(kMethodPost, "/other/v1/item",
                           [](const DevHost::RecordedRequest&) { return ScriptedResponse::Nil(); });
    auto outcome = host.Call(
        CallRequest::Json(kMethodPost, "/test-plugin/v1/item", R"({"name":"x","count":1})"));
    ASSERT_TRUE(outcome.has_value());
    EXPECT_FALSE(outcome.value().error);
    host.Shutdown();
  };
  cycle();  // first use fills process-wide caches (type identities, names)
  const uint64_t live = ReadAllocatorCounters().live_bytes();
  cycle();
  EXPECT_EQ(ReadAllocatorCounters().live_bytes(), live);
}

}  // namespace
}  // namespace Kestrel::Client::HostTest
