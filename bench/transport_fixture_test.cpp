#include "bench/transport_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

#include "binding/property_page_pool.h"
#include "devhost/host/host_value.h"
#include "plugin/spectator/spectator_module.h"
#include "util/counting_allocator.h"

namespace Kestrel::Bench {
namespace {

using Client::CoreRequest;
using Client::CoreResponse;
using Client::ReadPacked;

CoreResponse Zeroed() {
  CoreResponse response;
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  return response;
}

TEST(TransportFixtureTest, HandWrittenGetAnswersWhatTheDescriptorCallBackAnswers) {
  SpectatorInProcess plugin;
  MaybeType<void> started = plugin.Start();
  ASSERT_TRUE(started.has_value()) << started.ToText();
  const Client::CoreFunctionDescriptor* get =
      plugin.Find(Kestrel::kMethodGet, Client::Spectator::kCurrentGamePath);
  ASSERT_NE(get, nullptr);

  CoreRequest request{};
  request.method = Kestrel::kMethodGet;
  request.path = Client::Spectator::kCurrentGamePath;
  request.function_context = ReadPacked(get->function.function_context);
  Client::Spectator::Api::SpectateGameInfoResource game = plugin.CurrentGame();
  CoreRequest floor_request = request;
  floor_request.function_context = &game;

  CoreResponse ours = Zeroed();
  CoreResponse floor = Zeroed();
  ReadPacked(get->callback)(&ours, &request);
  HandWrittenCurrentGame(&floor, &floor_request);
  EXPECT_EQ(DevHost::CoreValueToJson(floor.value), kLaunchedGameJson);
  EXPECT_EQ(ResponseDifference(ours, floor), "");
  ReadPacked(floor.release)(&floor);

  // A floor answering another game is told apart.
  game.gameQueueType = "URF";
  HandWrittenCurrentGame(&floor, &floor_request);
  EXPECT_EQ(ResponseDifference(ours, floor), "value.gameQueueType: 'ARAM' vs 'URF'");
  // Both releases leave the record zeroed.
  ReadPacked(floor.release)(&floor);
  ReadPacked(ours.release)(&ours);
  const CoreResponse zeroed = Zeroed();
  EXPECT_EQ(std::memcmp(&floor, &zeroed, sizeof(CoreResponse)), 0);
  EXPECT_EQ(std::memcmp(&ours, &zeroed, sizeof(CoreResponse)), 0);
}

// The floor pays for its host record what a conforming plugin pays: every
// block of the answer (the entry array, three names, three texts) comes from
// the counting allocator and goes back to it on release.
TEST(TransportFixtureTest, HandWrittenGetCountsEveryHostRecordBlock) {
  Client::Spectator::Api::SpectateGameInfoResource game;
  game.allowObserveMode = "ALL";
  game.dropInSpectateGameId = "42";
  game.gameQueueType = "ARAM";
  CoreRequest request{};
  request.function_context = &game;
  CoreResponse floor = Zeroed();
  const AllocatorCounters before = ReadAllocatorCounters();
  HandWrittenCurrentGame(&floor, &request);
  const AllocatorCounters answered = ReadAllocatorCounters();
  ReadPacked(floor.release)(&floor);
  const AllocatorCounters released = ReadAllocatorCounters();
  EXPECT_EQ(answered.allocations - before.allocations, 7u);
  EXPECT_GT(answered.live_bytes(), before.live_bytes());
  EXPECT_EQ(released.frees - answered.frees, 7u);
  EXPECT_EQ(released.live_bytes(), before.live_bytes());
}

// The trees of a small call fit the stores' inline pages: the call takes no
// page, so it maps no region of the page pool (each call runs once before
// counting, so that nothing made once for the whole run is counted).
TEST(TransportFixtureTest, SmallCallsTakeNoPage) {
  struct SmallCall {
    uint32_t method;
    const char* path;
    const char* body;
    const char* answer;
  };
  const SmallCall calls[] = {
      {Kestrel::kMethodGet, Client::Spectator::kCurrentGamePath, "", kLaunchedGameJson},
      {Kestrel::kMethodPost, Client::Spectator::kLaunchPath, kLaunchedGameJson, "null"},
      {Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath, kAvailabilityBody,
       R"({"availableForWatching":["Ann"]})"},
      {Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath, R"(["Ann","Cleo","Esme"])",
       R"({"availableForWatching":["Ann","Cleo","Esme"]})"},
  };
  SpectatorInProcess plugin;
  MaybeType<void> started = plugin.Start();
  ASSERT_TRUE(started.has_value()) << started.ToText();
  for (const SmallCall& call : calls) {
    SCOPED_TRACE(std::string(call.path) + " " + call.body);
    const DevHost::CallRequest request =
        DevHost::CallRequest::Json(call.method, call.path, call.body);
    ASSERT_TRUE(plugin.host().Call(request).has_value());
    const PagePoolCounters before = PropertyPagePool::Instance().ReadCounters();
    MaybeType<DevHost::CallOutcome> outcome = plugin.host().Call(request);
    ASSERT_TRUE(outcome.has_value()) << outcome.ToText();
    EXPECT_EQ(outcome.value().error_text, "");
    EXPECT_EQ(outcome.value().ValueJson(), call.answer);
    const PagePoolCounters after = PropertyPagePool::Instance().ReadCounters();
    EXPECT_EQ(after.total_page_takes, before.total_page_takes);
    EXPECT_EQ(after.regions_obtained, before.regions_obtained);
  }
}

}  // namespace
}  // namespace Kestrel::Bench
