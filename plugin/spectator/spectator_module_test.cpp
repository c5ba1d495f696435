// Tests of the spectator module that need the module itself rather than the
// library: states the host cannot produce from outside.
#include "plugin/spectator/spectator_module.h"

#include <gtest/gtest.h>

namespace Kestrel::Client::Spectator {
namespace {

// A module whose shutdown has begun: new service-proxy calls are refused.
class FinalizingSpectatorModule : public SpectatorModule {
 public:
  using AppModule::SetFinalizing;
};

TEST(SpectatorModuleTest, AvailabilityAfterShutdownBeganFailsWithoutSendingAnything) {
  FinalizingSpectatorModule module;
  module.RegisterApi();
  module.SetFinalizing();
  MaybeType<Api::SummonerOrTeamSpectateResource> result = module.GetAvailability({"Ann", "Bob"});
  ASSERT_TRUE(result.is_failure());
  EXPECT_EQ(result.failure().code(), 500);
  EXPECT_STREQ(result.failure().message(),
               "Error getting spectate availability for summoner/team, request buddy size: 2, "
               "error: Finalizing (0)");
}

TEST(SpectatorModuleTest, RegistersTheEndpointsInOrderWithTheModuleTags) {
  SpectatorModule module;
  module.SetPluginName(MakePluginNameRecord("vyn-spectator", "backend"));
  module.RegisterApi();
  const std::vector<const FunctionRecord*> functions = module.registry().SnapshotFunctions();
  ASSERT_EQ(functions.size(), 3u);
  EXPECT_EQ(functions[0]->name, "PostVynSpectatorV1BuddySpectate");
  EXPECT_EQ(functions[1]->name, "PostVynSpectatorV1SpectateLaunch");
  EXPECT_EQ(functions[2]->name, "GetVynSpectatorV1Spectate");
  ASSERT_EQ(functions[0]->arguments.size(), 1u);
  EXPECT_EQ(functions[0]->arguments[0].name, "summonerOrTeamNames");
  EXPECT_EQ(functions[1]->arguments[0].name, "spectateGameInfo");
  EXPECT_TRUE(functions[2]->arguments.empty());
  for (const FunctionRecord* function : functions) {
    EXPECT_EQ(function->tags, (std::vector<std::string>{"Plugins", "Plugin tmx-be-vyn-spectator"}));
    EXPECT_TRUE(function->description.empty());
  }
  EXPECT_EQ(module.current_game(), Api::SpectateGameInfoResource{});
}

}  // namespace
}  // namespace Kestrel::Client::Spectator
