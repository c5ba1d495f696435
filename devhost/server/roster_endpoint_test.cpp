#include "devhost/server/roster_endpoint.h"

#include <gtest/gtest.h>

#include <string>

namespace Kestrel::DevHost {
namespace {

TEST(RosterEndpointTest, RosterJsonParsesBackToTheSameRoster) {
  const char* text =
      R"({"players":[{"name":"Ann","inGame":true},{"name":"B\"o","inGame":false}],)"
      R"("gameflow":{"error":"Busy","status":503},"server":{"error":"Down","status":500}})";
  MaybeType<Roster> roster = ParseRoster(text);
  ASSERT_TRUE(roster.has_value()) << roster.ToText();
  EXPECT_EQ(RosterJson(roster.value()), text);
  EXPECT_EQ(RosterJson(Roster{}), R"({"players":[]})");
}

TEST(RosterEndpointTest, PutReplacesTheRosterOrKeepsItAndSaysWhy) {
  SimulatedPeers peers(DefaultRoster());
  HttpAnswer current = RosterAnswer(&peers);
  EXPECT_EQ(current.status, 200);
  EXPECT_EQ(current.body, RosterJson(DefaultRoster()));

  HttpAnswer refused = ReplaceRosterAnswer(&peers, R"({"players":[{"name":"Zed","inGame":1}]})");
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.body, R"({"message":"players[0].inGame must be true or false"})");
  EXPECT_TRUE(peers.roster().IsInGame("Ann"));

  HttpAnswer replaced =
      ReplaceRosterAnswer(&peers, R"({"players":[{"name":"Zed","inGame":true}]})");
  EXPECT_EQ(replaced.status, 200);
  EXPECT_EQ(replaced.body, R"({"players":[{"name":"Zed","inGame":true}]})");
  EXPECT_TRUE(peers.roster().IsInGame("Zed"));
  EXPECT_FALSE(peers.roster().IsInGame("Ann"));
  EXPECT_EQ(RosterAnswer(&peers).body, replaced.body);
}

TEST(RosterEndpointTest, WithoutPeersThereIsNoRoster) {
  EXPECT_EQ(RosterAnswer(nullptr).status, 404);
  EXPECT_EQ(ReplaceRosterAnswer(nullptr, "{}").status, 404);
}

}  // namespace
}  // namespace Kestrel::DevHost
