// Shutdown while calls are in progress, driven through the host records as a
// host does it at exit: from inside the host's `Yield` while an availability
// call waits for the server, from another host thread while two calls wait,
// and from inside the host's `SendRequest` while a launch hands its game to
// the gameflow plugin. A waiting availability call fails as any failed server
// call does, a launch completes, calls that start later answer "Finalizing";
// no assertion report, the module is destroyed exactly once and only when the
// last call leaves, and the counted memory comes back to its start.
//
// The host is the test's own function table: it holds the server's answers
// back, so that calls stay waiting until the test lets them go.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "host_abi/core_value.h"
#include "host_abi/host_records.h"
#include "plugin/host/plugin_entry.h"
#include "plugin/spectator/spectator_module.h"

namespace Kestrel::Client::Spectator {
namespace {

constexpr char kUuidPath[] = "/vyn-login/v1/service-proxy-uuid-requests";
constexpr char kUuidEvent[] = "OnServiceProxyUuidEvent";
constexpr char kEmptyText[] = "";
constexpr char kNames[] = R"(["Ann","Bob"])";
constexpr char kGame[] =
    R"({"allowObserveMode":"ALL","dropInSpectateGameId":"42","gameQueueType":"ARAM"})";
constexpr char kAvailabilityFinalizing[] =
    "Error getting spectate availability for summoner/team, request buddy size: 2, error: "
    "Finalizing (0)";
constexpr char kAvailabilityFinalizingLine[] =
    "vyn-spectator: Error getting spectate availability for summoner/team: Finalizing (0)";

// Counts destructions of the module, and the calls still inside it then.
std::atomic<int> g_destroyed{0};
std::atomic<int> g_calls_inside{0};
std::atomic<int> g_calls_inside_at_destruction{-1};

// Waits until `holds()` is true, for at most 30 s (the thread checker on a
// loaded machine is slow); false when the deadline passed first.
bool WaitUntil(const std::function<bool()>& holds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!holds()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class CountedSpectatorModule : public SpectatorModule {
 public:
  ~CountedSpectatorModule() override {
    ++g_destroyed;
    g_calls_inside_at_destruction = g_calls_inside.load();
  }
};

uint32_t VYN_CDECL LoadCounted(CorePluginRecord* record) {
  return LoadPlugin<CountedSpectatorModule>(record, PluginIdentity{"vyn-spectator"});
}

// A host that answers the uuid requests of the service proxy but holds the
// server's answers back, answers the gameflow plugin with success, and lets a
// test act from inside its `Yield` and `SendRequest`. It keeps counts only, so
// that its own records allocate nothing while memory is measured.
class HoldingHost {
 public:
  HoldingHost() {
    table_.functions = {&SendRequest, &Reserved2, &SendEvent, &Subscribe, &Unsubscribe,
                        &Reserved6,   &Yield,     &BeginWait, &EndWait,   &Log};
    table_.host = this;
    core_.functions = &table_.functions;
    core_.plugin_id = 3;
  }

  CoreInterface* core() { return &core_; }

  // Delivers the server's answer to the call `uuid` through the call-back
  // the module subscribed, as a host thread would.
  void DeliverAnswer(const char* uuid) {
    CoreValue payload{};
    if (!SetStructure(&payload, 2)) return;
    (void)SetEntryName(&payload.structure.entries[0], "uuid");
    (void)SetOwnedString(&payload.structure.entries[0].value, uuid);
    (void)SetEntryName(&payload.structure.entries[1], "payload");
    (void)SetOwnedString(&payload.structure.entries[1].value,
                         R"({"availableForWatching":["Ann"]})");
    CoreEvent event{};
    event.name = kUuidEvent;
    event.payload = payload;
    event.flag = 1;
    event.context = uuid_context;
    uuid_callback.load()(&event);
    ReleaseCoreValue(&payload);
  }

  // Called inside `Yield` and inside the gameflow request; may be empty.
  std::function<void()> on_yield;
  std::function<void()> on_gameflow;

  std::atomic<int> requests{0};
  std::atomic<int> waits_begun{0};
  std::atomic<int> waits_ended{0};
  std::atomic<int> events_sent{0};
  std::atomic<int> assertion_reports{0};
  // Error-level lines that end an availability call with "Finalizing".
  std::atomic<int> finalizing_lines{0};
  // The delivery call-back of the uuid answers and its context, as subscribed.
  std::atomic<CoreEventCallback> uuid_callback{nullptr};
  std::atomic<void*> uuid_context{nullptr};

 private:
  struct HostTable {
    CoreFunctionTable functions;
    HoldingHost* host;
  };
  static HoldingHost* From(CoreFunctionTable* table) {
    return reinterpret_cast<HostTable*>(table)->host;
  }
  static void VYN_CDECL ReleaseResponse(CoreResponse* response) {
    ReleaseCoreValue(&response->value);
    std::memset(static_cast<void*>(response), 0, sizeof *response);
  }
  static void VYN_CDECL SendRequest(CoreFunctionTable* table, CoreResponse* response,
                                    const CoreRequest* request) {
    HoldingHost* host = From(table);
    const int number = ++host->requests;
    std::memset(static_cast<void*>(response), 0, sizeof *response);
    response->content_type = kEmptyText;
    response->release = &ReleaseResponse;
    if (std::strcmp(request->path, kUuidPath) == 0) {
      char uuid[16];
      std::snprintf(uuid, sizeof uuid, "uuid-%d", number);
      (void)SetOwnedString(&response->value, uuid);
      return;
    }
    if (std::strcmp(request->path, kGameflowLaunchPath) == 0) {
      if (host->on_gameflow) host->on_gameflow();
      return;
    }
    response->error_flag = 1;
    static char no_such_path[] = "No such path";
    response->error_text = no_such_path;
    response->status_code = 404;
  }
  static void VYN_CDECL Subscribe(CoreFunctionTable* table, const char* name, uint32_t,
                                  CoreEventCallback callback, void* context, uint32_t) {
    if (std::strcmp(name, kUuidEvent) != 0) return;
    From(table)->uuid_callback = callback;
    From(table)->uuid_context = context;
  }
  static void VYN_CDECL Yield(CoreFunctionTable* table) {
    HoldingHost* host = From(table);
    if (host->on_yield) host->on_yield();
    std::this_thread::yield();
  }
  static void VYN_CDECL BeginWait(CoreFunctionTable* table, const char*, uint32_t) {
    ++From(table)->waits_begun;
  }
  static void VYN_CDECL EndWait(CoreFunctionTable* table) { ++From(table)->waits_ended; }
  static void VYN_CDECL SendEvent(CoreFunctionTable* table, const CoreEvent*) {
    ++From(table)->events_sent;
  }
  static void VYN_CDECL Log(CoreFunctionTable* table, int32_t level, const char* text) {
    if (text == nullptr) return;
    if (std::strstr(text, "ALE-") != nullptr) ++From(table)->assertion_reports;
    if (level == 2 && std::strstr(text, kAvailabilityFinalizingLine) != nullptr) {
      ++From(table)->finalizing_lines;
    }
  }
  static void VYN_CDECL Reserved2(CoreFunctionTable*, uint32_t, uint32_t) {}
  static void VYN_CDECL Unsubscribe(CoreFunctionTable*, const char*, uint32_t) {}
  static void VYN_CDECL Reserved6(CoreFunctionTable*, uint32_t, uint32_t, uint32_t, double,
                                  uint32_t) {}

  HostTable table_;
  CoreInterface core_;
};

// Live bytes and live allocations of the counting allocator, as the host reads
// them through the entry table.
struct LiveMemory {
  uint64_t bytes;
  uint64_t allocations;
  bool operator==(const LiveMemory&) const = default;
};

using ShutdownFunction = void(VYN_CDECL*)(void* module);
using MemoryStatsFunction = void(VYN_CDECL*)(uint32_t ignored, MemoryStats* stats);

// The entry table's memory statistics; the same function for every module.
MemoryStatsFunction g_read_memory = nullptr;

LiveMemory ReadLive() {
  MemoryStats stats{};
  g_read_memory(0, &stats);
  return {stats.bytes_allocated - stats.bytes_freed, stats.allocations - stats.frees};
}

// One loaded and initialized module, and the things a test needs of it after
// it is gone (the descriptors and the entry table die with it).
struct LoadedPlugin {
  CorePluginRecord record{};
  ShutdownFunction shutdown = nullptr;
  const CoreFunctionDescriptor* availability = nullptr;
  const CoreFunctionDescriptor* launch = nullptr;

  bool Load(HoldingHost& host) {
    record.version_major = 18;
    (void)LoadCounted(&record);
    if (record.entry_table == nullptr) return false;
    shutdown = record.entry_table->Shutdown;
    g_read_memory = record.entry_table->GetMemoryStats;
    for (uint32_t i = 0; i < record.api_description->function_count; ++i) {
      const CoreFunctionDescriptor& function = record.api_description->functions[i];
      if (std::strcmp(function.path, kAvailabilityPath) == 0) availability = &function;
      if (std::strcmp(function.path, kLaunchPath) == 0) launch = &function;
    }
    return availability != nullptr && launch != nullptr &&
           record.entry_table->Initialize(record.module, host.core()) == 1;
  }
  void Shutdown() { shutdown(record.module); }
};

// What one call answered.
struct Answer {
  bool error = false;
  std::string text;
  uint32_t status = 0;
};

// Calls `function` with the JSON `body` through its descriptor, on the
// calling thread, and counts the call as inside the module meanwhile. The
// descriptor is copied first: the module may be gone when the call returns.
Answer CallWithBody(const CoreFunctionDescriptor* function, const char* path, const char* body) {
  const CoreFunctionCallback callback = function->callback;
  CoreRequest request{};
  request.method = 6;  // POST
  request.path = path;
  request.function_context = function->function.function_context;
  request.content_type = "application/json";
  request.body = body;
  request.body_length = static_cast<uint32_t>(std::strlen(body));
  CoreResponse response{};
  ++g_calls_inside;
  callback(&response, &request);
  --g_calls_inside;
  Answer answer;
  answer.error = response.error_flag != 0;
  if (response.error_text != nullptr) answer.text = response.error_text;
  answer.status = response.status_code;
  if (response.release != nullptr) response.release(&response);
  return answer;
}

class SpectatorShutdown : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The first use fills process-wide caches (type identities, names, the
    // logger): one full cycle before any test measures memory.
    HoldingHost host;
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.Load(host));
    (void)CallWithBody(plugin.launch, kLaunchPath, kGame);
    host.on_yield = [&host] { host.DeliverAnswer("uuid-2"); };
    const Answer answer = CallWithBody(plugin.availability, kAvailabilityPath, kNames);
    ASSERT_FALSE(answer.error) << answer.text;
    // The failure path too (its first error line), through a shutdown.
    bool shut = false;
    host.on_yield = [&] {
      if (!shut) plugin.Shutdown();
      shut = true;
    };
    const Answer failed = CallWithBody(plugin.availability, kAvailabilityPath, kNames);
    ASSERT_EQ(failed.status, 500u) << failed.text;
  }

  void SetUp() override {
    g_destroyed = 0;
    g_calls_inside_at_destruction = -1;
  }
};

TEST_F(SpectatorShutdown, FromInsideYieldFailsTheWaitingAvailabilityCall) {
  HoldingHost host;
  const LiveMemory start = ReadLive();
  {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.Load(host));
    int destroyed_inside_yield = -1;
    host.on_yield = [&] {
      if (destroyed_inside_yield >= 0) return;
      plugin.Shutdown();
      destroyed_inside_yield = g_destroyed;
    };
    const Answer answer = CallWithBody(plugin.availability, kAvailabilityPath, kNames);
    EXPECT_TRUE(answer.error);
    EXPECT_EQ(answer.text, kAvailabilityFinalizing);
    EXPECT_EQ(answer.status, 500u);
    EXPECT_EQ(host.finalizing_lines, 1);
    EXPECT_EQ(destroyed_inside_yield, 0);
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(g_calls_inside_at_destruction, 1);  // on the call's thread, before it returned
    host.on_yield = nullptr;
  }
  EXPECT_EQ(host.waits_begun, 1);
  EXPECT_EQ(host.waits_ended, 1);
  EXPECT_EQ(host.assertion_reports, 0);
  EXPECT_EQ(ReadLive(), start);
}

TEST_F(SpectatorShutdown, FromAnotherThreadFailsTwoWaitingCallsAndRefusesNewOnes) {
  HoldingHost host;
  const LiveMemory start = ReadLive();
  {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.Load(host));
    std::atomic<bool> released{false};
    // Holds each waiting call until released, and at most for WaitUntil's
    // deadline, so that a failure above cannot hang the test.
    host.on_yield = [&released] { (void)WaitUntil([&released] { return released.load(); }); };
    Answer first, second;
    std::thread one([&] { first = CallWithBody(plugin.availability, kAvailabilityPath, kNames); });
    std::thread two([&] { second = CallWithBody(plugin.availability, kAvailabilityPath, kNames); });
    EXPECT_TRUE(WaitUntil([&host] { return host.waits_begun >= 2; }))
        << "the two calls did not both begin waiting";

    plugin.Shutdown();
    EXPECT_EQ(g_destroyed, 0);  // both calls still wait inside the module

    // A call that starts now answers at once and sends nothing; an answer
    // that arrives now is dropped.
    const int requests = host.requests;
    const Answer late = CallWithBody(plugin.availability, kAvailabilityPath, kNames);
    EXPECT_TRUE(late.error);
    EXPECT_EQ(late.text, "Finalizing");
    EXPECT_EQ(host.requests, requests);
    host.DeliverAnswer("uuid-1");
    EXPECT_EQ(g_destroyed, 0);

    released = true;
    one.join();
    two.join();
    EXPECT_EQ(first.text, kAvailabilityFinalizing);
    EXPECT_EQ(second.text, kAvailabilityFinalizing);
    EXPECT_EQ(second.status, 500u);
    EXPECT_EQ(host.finalizing_lines, 2);
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_GE(g_calls_inside_at_destruction, 1);
    host.on_yield = nullptr;
  }
  EXPECT_EQ(host.waits_ended, 2);
  EXPECT_EQ(host.assertion_reports, 0);
  EXPECT_EQ(ReadLive(), start);
}

TEST_F(SpectatorShutdown, FromInsideSendRequestLetsTheLaunchComplete) {
  HoldingHost host;
  const LiveMemory start = ReadLive();
  {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.Load(host));
    int destroyed_inside_request = -1;
    host.on_gameflow = [&] {
      plugin.Shutdown();
      destroyed_inside_request = g_destroyed;
    };
    const Answer answer = CallWithBody(plugin.launch, kLaunchPath, kGame);
    EXPECT_FALSE(answer.error) << answer.text;
    EXPECT_EQ(destroyed_inside_request, 0);
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(g_calls_inside_at_destruction, 1);
    host.on_gameflow = nullptr;
  }
  EXPECT_EQ(host.events_sent, 2);  // the gameflow plugin took the game: published under both names
  EXPECT_EQ(host.assertion_reports, 0);
  EXPECT_EQ(ReadLive(), start);
}

}  // namespace
}  // namespace Kestrel::Client::Spectator
