#include "devhost/peers/roster.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace Kestrel::DevHost {
namespace {

TEST(RosterTest, ParsesPlayersAndPeerFailures) {
  MaybeType<Roster> roster = ParseRoster(
      R"({"players":[{"name":"Ann","inGame":true},{"name":"Bob"}],)"
      R"("gameflow":{"error":"Gameflow is busy","status":503},"server":{"error":"Down"}})");
  ASSERT_TRUE(roster.has_value()) << roster.ToText();
  ASSERT_EQ(roster.value().players.size(), 2u);
  EXPECT_TRUE(roster.value().IsInGame("Ann"));
  EXPECT_FALSE(roster.value().IsInGame("Bob"));
  EXPECT_FALSE(roster.value().IsInGame("ann"));  // names are exact
  EXPECT_FALSE(roster.value().IsInGame("Zed"));
  ASSERT_TRUE(roster.value().gameflow.has_value());
  EXPECT_EQ(roster.value().gameflow->error, "Gameflow is busy");
  EXPECT_EQ(roster.value().gameflow->status, 503u);
  ASSERT_TRUE(roster.value().server.has_value());
  EXPECT_EQ(roster.value().server->status, 500u);  // the default

  MaybeType<Roster> empty = ParseRoster("{}");
  ASSERT_TRUE(empty.has_value());
  EXPECT_TRUE(empty.value().players.empty());
  EXPECT_FALSE(empty.value().gameflow.has_value());

  Roster demo = DefaultRoster();
  EXPECT_EQ(demo.players.size(), 5u);
  EXPECT_TRUE(demo.IsInGame("Ann"));
  EXPECT_FALSE(demo.IsInGame("Bob"));
}

TEST(RosterTest, BadRostersNameTheProblem) {
  const std::pair<const char*, const char*> cases[] = {
      {"[]", "The roster must be an object"},
      {R"({"player":[]})", "Unknown key 'player' in the roster"},
      {R"({"players":{}})", "players must be an array"},
      {R"({"players":[{"name":"A"},7]})", "players[1] must be an object"},
      {R"({"players":[{"inGame":true}]})", "players[0].name must be a non-empty string"},
      {R"({"players":[{"name":"A","inGame":"yes"}]})", "players[0].inGame must be true or false"},
      {R"({"players":[{"name":"A","team":1}]})", "Unknown key 'team' in players[0]"},
      {R"({"gameflow":{"status":503}})", "gameflow.error must be a non-empty string"},
      {R"({"gameflow":{"error":"x","status":99}})",
       "gameflow.status must be an integer from 100 to 599"},
      {R"({"server":{"error":"x","status":600}})",
       "server.status must be an integer from 100 to 599"},
      {R"({"server":"down"})", "server must be an object"},
  };
  for (const auto& [text, message] : cases) {
    MaybeType<Roster> roster = ParseRoster(text);
    ASSERT_TRUE(roster.is_failure()) << text;
    EXPECT_STREQ(roster.failure().message(), message) << text;
  }
  MaybeType<Roster> broken = ParseRoster("{\"players\":");
  ASSERT_TRUE(broken.is_failure());
  EXPECT_NE(std::string(broken.failure().message()).find("Invalid JSON"), std::string::npos);
}

TEST(RosterTest, FilesAreReadOrRefusedWithTheirName) {
  std::string path = ::testing::TempDir() + "roster_test.json";
  {
    std::ofstream file(path);
    file << R"({"players":[{"name":"Zoe","inGame":true}]})";
  }
  MaybeType<Roster> roster = LoadRosterFile(path);
  ASSERT_TRUE(roster.has_value()) << roster.ToText();
  EXPECT_TRUE(roster.value().IsInGame("Zoe"));
  {
    std::ofstream file(path);
    file << R"({"players":[{"name":"Zoe","inGame":1}]})";
  }
  MaybeType<Roster> bad = LoadRosterFile(path);
  ASSERT_TRUE(bad.is_failure());
  EXPECT_EQ(std::string(bad.failure().message()),
            "Bad roster file '" + path + "': players[0].inGame must be true or false");
  std::remove(path.c_str());

  MaybeType<Roster> missing = LoadRosterFile("/nonexistent/roster.json");
  ASSERT_TRUE(missing.is_failure());
  EXPECT_STREQ(missing.failure().message(), "Cannot read roster file '/nonexistent/roster.json'");
}

}  // namespace
}  // namespace Kestrel::DevHost
