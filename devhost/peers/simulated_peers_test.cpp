#include "devhost/peers/simulated_peers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "host_abi/core_value.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreArgument;
using Client::CoreRequest;
using Client::CoreResponse;

// Sends one request through the host's table as the plugin does, with
// positional text arguments; returns the response value as JSON or
// "error <text> <status>".
std::string Send(CoreHost* host, const char* path, const std::vector<std::string>& texts) {
  std::vector<CoreArgument> arguments(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    arguments[i].name = nullptr;
    arguments[i].value = Client::MakeBorrowedStringValue(texts[i].c_str());
  }
  CoreRequest request{};
  request.method = kMethodPost;
  request.path = path;
  request.arguments = arguments.data();
  request.argument_count = static_cast<uint32_t>(arguments.size());
  CoreResponse response;
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  host->functions()->SendRequest(host->functions(), &response, &request);
  std::string result = response.error_flag != 0 ? std::string("error ") + response.error_text +
                                                      " " + std::to_string(response.status_code)
                                                : CoreValueToJson(response.value);
  response.release(&response);
  return result;
}

TEST(SimulatedPeersTest, ServiceProxyByUuidAnswersFromTheRosterInRequestOrder) {
  CoreHost host;
  SimulatedPeers peers(DefaultRoster());
  peers.Install(&host);

  std::string uuid = Send(&host, kServiceProxyUuidPath,
                          {"spectator", "getDropInSpectateAvailability", "1",
                           R"({"teamOrSummonerIds":["Esme","Bob","Ann","Nobody","Ann"]})"});
  EXPECT_TRUE(std::regex_match(
      uuid, std::regex(R"("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")")))
      << uuid;

  std::vector<RecordedEvent> events = host.pending_events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "OnServiceProxyUuidEvent");
  EXPECT_EQ(events[0].payload.ToJson(),
            R"({"uuid":)" + uuid +
                R"(,"serviceName":"spectator","methodName":"getDropInSpectateAvailability",)"
                R"("payload":"{\"availableForWatching\":[\"Esme\",\"Ann\",\"Ann\"]}",)"
                R"("status":"200","error":""})");

  // An empty list is answered with an empty list; a second uuid differs.
  std::string second =
      Send(&host, kServiceProxyUuidPath,
           {"spectator", "getDropInSpectateAvailability", "1", R"({"teamOrSummonerIds":[]})"});
  EXPECT_NE(second, uuid);
  std::vector<ServerCall> calls = peers.server_calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].answer, R"({"availableForWatching":[]})");
}

TEST(SimulatedPeersTest, ServerFailuresAndOtherMethodsAnswerWithAnError) {
  CoreHost host;
  SimulatedPeers peers(DefaultRoster());
  peers.Install(&host);

  // The method variant answers under the reply name, with no uuid.
  EXPECT_EQ(Send(&host, kServiceProxyMethodPath,
                 {"spectator", "getDropInSpectateAvailability", "reply", "", "1",
                  R"({"teamOrSummonerIds":["Cleo"]})"}),
            "null");
  Send(&host, kServiceProxyUuidPath, {"spectator", "watchEverything", "1", "{}"});
  Send(&host, kServiceProxyUuidPath,
       {"spectator", "getDropInSpectateAvailability", "1", R"({"names":[]})"});
  Roster failing = DefaultRoster();
  failing.server = PeerFailure{"The spectator service is down %1", 500};
  peers.SetRoster(failing);
  Send(&host, kServiceProxyUuidPath,
       {"spectator", "getDropInSpectateAvailability", "1", R"({"teamOrSummonerIds":["Ann"]})"});

  std::vector<RecordedEvent> events = host.pending_events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].name, "OnServiceProxyMethodEvent");
  EXPECT_EQ(events[0].payload.ToJson(),
            R"({"uuid":"","serviceName":"spectator","methodName":"reply",)"
            R"("payload":"{\"availableForWatching\":[\"Cleo\"]}","status":"200","error":""})");
  auto error_of = [](const RecordedEvent& event) {
    return std::string(CoreValueText(*FindEntry(event.payload.get(), "error")));
  };
  EXPECT_EQ(error_of(events[1]), "Unknown service method spectator.watchEverything");
  EXPECT_EQ(error_of(events[2]), "Malformed payload for spectator.getDropInSpectateAvailability");
  // The configured text is used as it is ("%1" is not a placeholder here).
  EXPECT_EQ(error_of(events[3]), "The spectator service is down %1");
  EXPECT_EQ(CoreValueText(*FindEntry(events[3].payload.get(), "payload")), "");
  EXPECT_EQ(CoreValueText(*FindEntry(events[3].payload.get(), "status")), "500");
}

TEST(SimulatedPeersTest, GameflowAndTelemetryRecordWhatTheyGet) {
  CoreHost host;
  SimulatedPeers peers(DefaultRoster());
  peers.Install(&host);
  EXPECT_EQ(Send(&host, kGameflowLaunchPath, {"game-1"}), "null");
  EXPECT_EQ(Send(&host, "/telemetry/v1/events/spectate_started", {"payload"}), "null");

  Roster failing;
  failing.gameflow = PeerFailure{"Gameflow is busy", 503};
  peers.SetRoster(failing);
  EXPECT_EQ(Send(&host, kGameflowLaunchPath, {"game-2"}), "error Gameflow is busy 503");

  EXPECT_EQ(peers.launched_games(), (std::vector<std::string>{R"("game-1")", R"("game-2")"}));
  ASSERT_EQ(peers.telemetry().size(), 1u);
  EXPECT_EQ(peers.telemetry()[0].first, "spectate_started");
  EXPECT_EQ(peers.telemetry()[0].second, R"("payload")");
  EXPECT_TRUE(host.pending_events().empty());
}

}  // namespace
}  // namespace Kestrel::DevHost
