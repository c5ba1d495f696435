#include "bench/transport_fixture.h"

#include <gtest/gtest.h>

#include <cstring>

#include "devhost/host_value.h"
#include "plugin/spectator/spectator_module.h"

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

}  // namespace
}  // namespace Kestrel::Bench
