// End-to-end tests of libvyn_spectator.so: the library is loaded with the
// platform's loader and driven only through the host records, by the
// in-process host playing the gameflow plugin, the login service proxy and
// the game server.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "devhost/host/core_host.h"
#include "devhost/peers/roster.h"
#include "devhost/peers/simulated_peers.h"

namespace Kestrel::DevHost {
namespace {

constexpr char kAvailability[] = "/vyn-spectator/v1/buddy/spectate";
constexpr char kLaunch[] = "/vyn-spectator/v1/spectate/launch";
constexpr char kCurrent[] = "/vyn-spectator/v1/spectate";
constexpr char kGameJson[] =
    R"({"allowObserveMode":"ALL","dropInSpectateGameId":"42","gameQueueType":"ARAM"})";
constexpr char kAnswerTypeName[] =
    "const char *__cdecl StaticType::Name<struct "
    "Kestrel::Client::Spectator::LCDS::SpectateAvailabilityResponseDto>(void)";

Roster TestRoster() {
  Roster roster;
  roster.players = {{"Ann", true}, {"Bob", false}, {"Cid", true}};
  return roster;
}

CallRequest WithBody(uint32_t method, std::string path, std::string content_type,
                     std::string body) {
  CallRequest request;
  request.method = method;
  request.path = std::move(path);
  request.content_type = std::move(content_type);
  request.body = std::move(body);
  return request;
}

HostValue Json(std::string_view text) {
  MaybeType<HostValue> value = HostValue::FromJson(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value.has_value() ? value.TakeValue() : HostValue();
}

class SpectatorLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peers_.Install(&host_);
    MaybeType<void> loaded = host_.LoadLibrary(VYN_SPECTATOR_LIBRARY);
    ASSERT_TRUE(loaded.has_value()) << loaded.ToText();
    MaybeType<void> started = host_.Initialize();
    ASSERT_TRUE(started.has_value()) << started.ToText();
    host_.ClearRecords();
  }
  void TearDown() override {
    host_.Shutdown();
    host_.Unload();
  }

  CallOutcome Call(const CallRequest& request) {
    MaybeType<CallOutcome> outcome = host_.Call(request);
    EXPECT_TRUE(outcome.has_value()) << outcome.ToText();
    return outcome.has_value() ? outcome.TakeValue() : CallOutcome();
  }

  // The feature's own lines: errors (level 2). Progress of service-proxy
  // requests is logged at level 3 and left out here.
  std::vector<std::string> LoggedErrors() const {
    std::vector<std::string> texts;
    for (const LogLine& line : host_.log_lines()) {
      if (line.level == 2) texts.push_back(line.text);
    }
    return texts;
  }

  // Public so that table-driven cases can arrange them.
 public:
  CoreHost host_;
  SimulatedPeers peers_{TestRoster()};
};

TEST_F(SpectatorLibraryTest, HandshakeNamesThePluginAndDescribesThreeEndpoints) {
  EXPECT_EQ(host_.plugin_name(), "tmx-be-vyn-spectator");
  const Client::ApiDescription* api = host_.api();
  ASSERT_NE(api, nullptr);
  ASSERT_EQ(api->function_count, 3u);
  std::vector<std::string> paths;
  for (uint32_t i = 0; i < api->function_count; ++i) {
    paths.push_back(api->functions[i].path);
  }
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{kAvailability, kCurrent, kLaunch}));
}

TEST_F(SpectatorLibraryTest, AvailabilityAnswersTheServersNamesForEveryBodyFormat) {
  const std::string msgpack_body = std::string(
      "\x93\xA3"
      "Cid"
      "\xA3"
      "Bob"
      "\xA3"
      "Ann",
      13);
  const CallRequest requests[] = {
      WithBody(kMethodPost, kAvailability, "application/json", R"(["Cid","Bob","Ann"])"),
      WithBody(kMethodPost, kAvailability, "application/x-yaml", "---\n- Cid\n- Bob\n- Ann\n"),
      WithBody(kMethodPost, kAvailability, "application/x-msgpack", msgpack_body),
  };
  for (const CallRequest& request : requests) {
    SCOPED_TRACE(request.content_type);
    CallOutcome outcome = Call(request);
    EXPECT_FALSE(outcome.error) << outcome.error_text;
    EXPECT_EQ(outcome.status, 0u);
    EXPECT_EQ(outcome.ValueJson(), R"({"availableForWatching":["Cid","Ann"]})");
  }
  std::vector<ServerCall> calls = peers_.server_calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].service, "spectator");
  EXPECT_EQ(calls[0].method, "getDropInSpectateAvailability");
  EXPECT_EQ(calls[0].payload, R"({"teamOrSummonerIds":["Cid","Bob","Ann"]})");

  std::vector<RecordedRequest> sent = host_.requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].method, kMethodPost);
  EXPECT_EQ(sent[0].path, "/vyn-login/v1/service-proxy-uuid-requests");
  EXPECT_EQ(sent[0].ArgumentsJson(), R"(["spectator","getDropInSpectateAvailability",1,)"
                                     R"("{\"teamOrSummonerIds\":[\"Cid\",\"Bob\",\"Ann\"]}"])");
  // Each call waited for its answer once, yielding to the host meanwhile.
  EXPECT_EQ(host_.end_wait_count(), 3);
  EXPECT_GE(host_.yield_count(), 3);
}

TEST_F(SpectatorLibraryTest, AvailabilityFromAHostArgumentAndWithAnEmptyList) {
  CallRequest request;
  request.method = kMethodPost;
  request.path = kAvailability;
  request.arguments.emplace_back("summonerOrTeamNames", Json(R"(["Ann"])"));
  EXPECT_EQ(Call(request).ValueJson(), R"({"availableForWatching":["Ann"]})");

  CallOutcome empty = Call(CallRequest::Json(kMethodPost, kAvailability, "[]"));
  EXPECT_FALSE(empty.error) << empty.error_text;
  EXPECT_EQ(empty.ValueJson(), R"({"availableForWatching":[]})");
  // The empty list still reaches the server.
  EXPECT_EQ(peers_.server_calls().back().payload, R"({"teamOrSummonerIds":[]})");
}

TEST_F(SpectatorLibraryTest, AnAnswerDeliveredBeforeThePostReturnsIsHeldForItsCall) {
  host_.SetRequestHandler(
      kMethodPost, kServiceProxyUuidPath, [this](const RecordedRequest&) -> ScriptedResponse {
        host_.QueueEvent("OnServiceProxyUuidEvent",
                         Json(R"({"uuid":"early-1","serviceName":"spectator",)"
                              R"("methodName":"getDropInSpectateAvailability",)"
                              R"("payload":"{\"availableForWatching\":[\"Zed\"]}",)"
                              R"("status":"","error":""})"));
        EXPECT_EQ(host_.DeliverPending(), 1);
        return ScriptedResponse::Value(HostValue::String("early-1"));
      });
  CallOutcome outcome = Call(CallRequest::Json(kMethodPost, kAvailability, R"(["Zed"])"));
  EXPECT_FALSE(outcome.error) << outcome.error_text;
  EXPECT_EQ(outcome.ValueJson(), R"({"availableForWatching":["Zed"]})");
  // Matched as soon as the call was stored: no wait was needed.
  EXPECT_EQ(host_.end_wait_count(), 0);
}

TEST_F(SpectatorLibraryTest, AvailabilityFailuresAnswerStatus500WithTheirCause) {
  struct Case {
    const char* name;
    std::function<void(SpectatorLibraryTest&)> arrange;
    std::string cause;
  };
  const Case cases[] = {
      {"server error",
       [](SpectatorLibraryTest& test) {
         Roster roster = TestRoster();
         roster.server = PeerFailure{"Server unavailable", 500};
         test.peers_.SetRoster(roster);
       },
       "Server unavailable (0)"},
      {"login error response",
       [](SpectatorLibraryTest& test) {
         test.host_.SetRequestHandler(
             kMethodPost, kServiceProxyUuidPath,
             [](const RecordedRequest&) { return ScriptedResponse::Error("Login is down", 503); });
       },
       "Error response for POST /vyn-login/v1/service-proxy-uuid-requests: Login is down (0)"},
      {"undecodable payload",
       [](SpectatorLibraryTest& test) {
         CoreHost* host = &test.host_;
         host->SetRequestHandler(
             kMethodPost, kServiceProxyUuidPath, [host](const RecordedRequest&) {
               host->QueueEvent("OnServiceProxyUuidEvent",
                                Json(R"({"uuid":"u-9","serviceName":"spectator",)"
                                     R"("methodName":"m","payload":"not json",)"
                                     R"("status":"","error":""})"));
               return ScriptedResponse::Value(HostValue::String("u-9"));
             });
       },
       std::string("Failed to deserialize response payload \"not json\" to a ") + kAnswerTypeName +
           " (0)"},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    test_case.arrange(*this);
    host_.ClearRecords();
    CallOutcome outcome = Call(CallRequest::Json(kMethodPost, kAvailability, R"(["Ann","Bob"])"));
    EXPECT_TRUE(outcome.error);
    EXPECT_EQ(outcome.status, 500u);
    EXPECT_EQ(outcome.error_text,
              "Error getting spectate availability for summoner/team, request buddy size: 2, "
              "error: " +
                  test_case.cause);
    EXPECT_EQ(LoggedErrors(),
              std::vector<std::string>{
                  "vyn-spectator: Error getting spectate availability for summoner/team: " +
                  test_case.cause});
    peers_.SetRoster(TestRoster());
    peers_.Install(&host_);
  }
}

TEST_F(SpectatorLibraryTest, LaunchStoresTheGameCallsGameflowAndPublishesOnce) {
  CallOutcome outcome = Call(CallRequest::Json(kMethodPost, kLaunch, kGameJson));
  EXPECT_FALSE(outcome.error) << outcome.error_text;
  EXPECT_TRUE(outcome.value.is_nil());
  EXPECT_EQ(peers_.launched_games(), std::vector<std::string>{kGameJson});

  std::vector<RecordedRequest> sent = host_.requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].path, "/vyn-gameflow/v1/spectate/launch");
  EXPECT_EQ(sent[0].ArgumentsJson(), std::string("[") + kGameJson + "]");

  std::vector<RecordedEvent> events = host_.events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].name, "OnJsonApiEvent_vyn-spectator_v1_spectate");
  EXPECT_EQ(events[1].name, "OnJsonApiEvent");
  const std::string payload = std::string(R"({"data":)") + kGameJson +
                              R"(,"eventType":"Update","uri":"/vyn-spectator/v1/spectate"})";
  EXPECT_EQ(events[0].payload.ToJson(), payload);
  EXPECT_EQ(events[1].payload.ToJson(), payload);

  EXPECT_EQ(Call(CallRequest::Json(kMethodGet, kCurrent, "")).ValueJson(), kGameJson);
}

TEST_F(SpectatorLibraryTest, AFailedLaunchKeepsTheGameAndPublishesNothing) {
  EXPECT_EQ(Call(CallRequest::Json(kMethodGet, kCurrent, "")).ValueJson(),
            R"({"allowObserveMode":"","dropInSpectateGameId":"","gameQueueType":""})");
  Roster roster = TestRoster();
  roster.gameflow = PeerFailure{"Gameflow is busy", 409};
  peers_.SetRoster(roster);

  CallOutcome outcome = Call(CallRequest::Json(kMethodPost, kLaunch, kGameJson));
  EXPECT_TRUE(outcome.error);
  EXPECT_EQ(outcome.status, 0u);
  EXPECT_EQ(outcome.error_text,
            "Failed to set launch spectator mode: Error response for POST "
            "/vyn-gameflow/v1/spectate/launch: Gameflow is busy (409)");
  EXPECT_TRUE(host_.events().empty());
  EXPECT_EQ(LoggedErrors(),
            std::vector<std::string>{"vyn-spectator: Failed to set launch spectator mode: Error "
                                     "response for POST /vyn-gameflow/v1/spectate/launch: Gameflow "
                                     "is busy"});
  EXPECT_EQ(Call(CallRequest::Json(kMethodGet, kCurrent, "")).ValueJson(), kGameJson);
}

TEST_F(SpectatorLibraryTest, BodiesThatDoNotConvertAreRefusedBeforeTheHandlerRuns) {
  struct Case {
    CallRequest request;
    std::string message;
  };
  const Case cases[] = {
      {CallRequest::Json(kMethodPost, kLaunch, R"({"allowObserveMode":true})"),
       "Couldn't assign value to 'allowObserveMode' because the input is not a string."},
      {CallRequest::Json(kMethodPost, kAvailability, R"({"names":["Ann"]})"),
       "Couldn't assign value to 'summonerOrTeamNames' of type vector because the input not a "
       "collection."},
      {CallRequest::Json(kMethodPost, kAvailability, R"(["Ann",)"),
       "Error: Invalid value. at offset 7."},
      {WithBody(kMethodPost, kAvailability, "text/plain", "Ann"), "Unsupported body content type"},
      {WithBody(kMethodPost, kAvailability, "application/x-msgpack",
                std::string("\x91\xA3"
                            "Ann"
                            "\xC0",
                            6)),
       "Extra MessgePack data found in body"},
      {WithBody(kMethodPost, kLaunch, "application/x-yaml", "---\na: [1\n"),
       "YAML parser error: did not find expected ',' or ']'. At line: 2 col: 0"},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.message);
    CallOutcome outcome = Call(test_case.request);
    EXPECT_TRUE(outcome.error);
    EXPECT_EQ(outcome.status, 0u);
    EXPECT_EQ(outcome.error_text, test_case.message);
  }
  EXPECT_TRUE(host_.requests().empty());
  EXPECT_TRUE(peers_.launched_games().empty());
}

TEST_F(SpectatorLibraryTest, ADescriptorCalledWithAnotherMethodOrPathIsAnInvalidFunction) {
  const Client::ApiDescription* api = host_.api();
  ASSERT_NE(api, nullptr);
  const Client::CoreFunctionDescriptor* current = nullptr;
  for (uint32_t i = 0; i < api->function_count; ++i) {
    if (std::string(api->functions[i].path) == kCurrent) current = &api->functions[i];
  }
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(uint32_t{current->method}, kMethodGet);
  for (const CallRequest& request :
       {CallRequest::Json(kMethodPost, kCurrent, ""),
        CallRequest::Json(kMethodGet, "/vyn-spectator/v1/other", "")}) {
    CallOutcome outcome = host_.CallFunction(*current, request);
    EXPECT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error_text, "Invalid function");
    EXPECT_EQ(outcome.status, 404u);
  }
  EXPECT_TRUE(
      host_.Call(CallRequest::Json(kMethodGet, "/vyn-spectator/v2/spectate", "")).is_failure());
}

TEST_F(SpectatorLibraryTest, MemoryStaysFlatAcrossTenThousandCalls) {
  // Warm up every call of the loop once so that lazily made tables exist,
  // the page pool included: small calls take no page, so any of them may be
  // the first to make it.
  Call(CallRequest::Json(kMethodPost, kAvailability, R"(["Ann"])"));
  Call(CallRequest::Json(kMethodPost, kLaunch, kGameJson));
  Call(CallRequest::Json(kMethodGet, kCurrent, ""));
  Call(CallRequest::Json(kMethodPost, kLaunch, R"({"allowObserveMode":1})"));
  host_.ClearRecords();
  const MemoryStats before = host_.GetMemoryStats();
  for (int i = 0; i < 10000; ++i) {
    switch (i % 4) {
      case 0:
        Call(CallRequest::Json(kMethodPost, kAvailability, R"(["Ann","Bob"])"));
        break;
      case 1:
        Call(CallRequest::Json(kMethodPost, kLaunch, kGameJson));
        break;
      case 2:
        Call(CallRequest::Json(kMethodGet, kCurrent, ""));
        break;
      default:
        Call(CallRequest::Json(kMethodPost, kLaunch, R"({"allowObserveMode":1})"));
        break;
    }
    if (i % 500 == 0) host_.ClearRecords();
  }
  const MemoryStats after = host_.GetMemoryStats();
  EXPECT_GT(after.allocations, before.allocations);
  EXPECT_EQ(after.bytes_allocated - after.bytes_freed, before.bytes_allocated - before.bytes_freed);
  EXPECT_EQ(after.allocations - after.frees, before.allocations - before.frees);
}

TEST(SpectatorLibraryCycleTest, TwoFullCyclesInOneProcess) {
  for (int cycle = 0; cycle < 2; ++cycle) {
    SCOPED_TRACE(cycle);
    CoreHost host;
    SimulatedPeers peers(TestRoster());
    peers.Install(&host);
    ASSERT_TRUE(host.LoadLibrary(VYN_SPECTATOR_LIBRARY).has_value());
    ASSERT_TRUE(host.Initialize().has_value());
    MaybeType<CallOutcome> launched = host.Call(CallRequest::Json(kMethodPost, kLaunch, kGameJson));
    ASSERT_TRUE(launched.has_value());
    EXPECT_FALSE(launched.value().error) << launched.value().error_text;
    MaybeType<CallOutcome> current = host.Call(CallRequest::Json(kMethodGet, kCurrent, ""));
    ASSERT_TRUE(current.has_value());
    EXPECT_EQ(current.value().ValueJson(), kGameJson);
    // Every subscription the module made is released at shutdown.
    const size_t subscribed = host.active_subscriptions().size();
    EXPECT_EQ(subscribed, 3u);
    host.Shutdown();
    EXPECT_TRUE(host.active_subscriptions().empty());
    host.Unload();
  }
}

TEST(SpectatorLibraryHandshakeTest, AnIncompatibleHostGetsNoModule) {
  HostOptions options;
  options.api_major = 19;
  CoreHost host(options);
  MaybeType<void> loaded = host.LoadLibrary(VYN_SPECTATOR_LIBRARY);
  EXPECT_TRUE(loaded.is_failure());
  EXPECT_EQ(host.api(), nullptr);
  host.Unload();
}

}  // namespace
}  // namespace Kestrel::DevHost
