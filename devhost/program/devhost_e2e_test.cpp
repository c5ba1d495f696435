// End to end: the real plugin library behind the stand-in host, over HTTP on
// 127.0.0.1 and through the vyn-devhost program itself.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "devhost/host/core_host.h"
#include "devhost/peers/simulated_peers.h"
#include "devhost/server/http_server.h"
#include "httplib.h"
#include "platform/child_process.h"
#include "rapidjson/document.h"

// On Windows the HTTP library's system headers define LoadLibrary as a macro.
#undef LoadLibrary

namespace Kestrel::DevHost {
namespace {

constexpr const char* kLibrary = VYN_SPECTATOR_LIBRARY;
constexpr const char* kProgram = VYN_DEVHOST_PROGRAM;

constexpr const char* kBuddyPath = "/vyn-spectator/v1/buddy/spectate";
constexpr const char* kLaunchPath = "/vyn-spectator/v1/spectate/launch";
constexpr const char* kGamePath = "/vyn-spectator/v1/spectate";

// MessagePack of ["Ann", "Cleo", "Bob"].
const std::string kNamesMessagePack(
    "\x93\xA3"
    "Ann\xA4"
    "Cleo\xA3"
    "Bob",
    14);
// MessagePack of {"dropInSpectateGameId": "g3", "gameQueueType": "ARAM",
// "allowObserveMode": "false"}.
std::string GameMessagePack() {
  std::string bytes = "\x83";
  auto text = [&](const std::string& value) {
    bytes += static_cast<char>(0xA0 | value.size());
    bytes += value;
  };
  text("dropInSpectateGameId");
  text("g3");
  text("gameQueueType");
  text("ARAM");
  text("allowObserveMode");
  text("false");
  return bytes;
}

class DevHostHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peers_.Install(&host_);
    MaybeType<void> loaded = host_.LoadLibrary(kLibrary);
    ASSERT_TRUE(loaded.has_value()) << loaded.ToText();
    ASSERT_TRUE(host_.Initialize().has_value());
    // A few workers: these tests send one request at a time, and the memcheck
    // stage runs them, where each of the default 32 threads slows every
    // request past the client's timeout.
    HttpServerOptions options;
    options.worker_threads = 8;
    server_ = std::make_unique<DevHttpServer>(&host_, options);
    server_->ServeRoster(&peers_);
    MaybeType<int> port = server_->Bind("127.0.0.1", 0);
    ASSERT_TRUE(port.has_value()) << port.ToText();
    port_ = port.value();
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    thread_ = std::thread([this] { server_->Run(); });
  }

  void TearDown() override {
    if (server_ != nullptr) server_->Stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
    host_.Unload();
  }

  // "STATUS BODY" of a POST.
  std::string Post(const char* path, const std::string& body, const char* content_type) {
    auto response = client_->Post(path, body, content_type);
    if (!response) return "no response: " + httplib::to_string(response.error());
    return std::to_string(response->status) + " " + response->body;
  }

  CoreHost host_;
  SimulatedPeers peers_{DefaultRoster()};
  std::unique_ptr<DevHttpServer> server_;
  int port_ = 0;
  std::unique_ptr<httplib::Client> client_;
  std::thread thread_;
};

TEST_F(DevHostHttpTest, AvailabilityInJsonYamlAndMessagePack) {
  EXPECT_EQ(Post(kBuddyPath, R"(["Esme","Bob","Ann"])", "application/json"),
            R"(200 {"availableForWatching":["Esme","Ann"]})");
  EXPECT_EQ(Post(kBuddyPath, "---\n- Cleo\n- Dario\n", "application/x-yaml"),
            R"(200 {"availableForWatching":["Cleo"]})");
  EXPECT_EQ(Post(kBuddyPath, kNamesMessagePack, "application/x-msgpack"),
            R"(200 {"availableForWatching":["Ann","Cleo"]})");
  EXPECT_EQ(Post(kBuddyPath, "[]", "application/json"), R"(200 {"availableForWatching":[]})");

  // The server saw the names as sent, in order.
  std::vector<ServerCall> calls = peers_.server_calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].service, "spectator");
  EXPECT_EQ(calls[0].method, "getDropInSpectateAvailability");
  EXPECT_EQ(calls[0].payload, R"({"teamOrSummonerIds":["Esme","Bob","Ann"]})");
  EXPECT_EQ(calls[2].payload, R"({"teamOrSummonerIds":["Ann","Cleo","Bob"]})");
}

TEST_F(DevHostHttpTest, LaunchInEachFormatThenTheCurrentGame) {
  auto game = client_->Get(kGamePath);
  ASSERT_TRUE(game);
  EXPECT_EQ(game->status, 200);
  EXPECT_EQ(game->body, R"({"allowObserveMode":"","dropInSpectateGameId":"","gameQueueType":""})");

  EXPECT_EQ(
      Post(kLaunchPath,
           R"({"dropInSpectateGameId":"g1","gameQueueType":"RANKED","allowObserveMode":"true"})",
           "application/json"),
      "204 ");
  EXPECT_EQ(
      Post(kLaunchPath, "dropInSpectateGameId: g2\ngameQueueType: NORMAL\nallowObserveMode: 'x'\n",
           "application/x-yaml"),
      "204 ");
  EXPECT_EQ(Post(kLaunchPath, GameMessagePack(), "application/x-msgpack"), "204 ");
  game = client_->Get(kGamePath);
  ASSERT_TRUE(game);
  EXPECT_EQ(game->body,
            R"({"allowObserveMode":"false","dropInSpectateGameId":"g3","gameQueueType":"ARAM"})");

  std::vector<std::string> launched = peers_.launched_games();
  ASSERT_EQ(launched.size(), 3u);
  EXPECT_EQ(launched[1],
            R"({"allowObserveMode":"x","dropInSpectateGameId":"g2","gameQueueType":"NORMAL"})");
}

TEST_F(DevHostHttpTest, ErrorStatusesAndBodies) {
  Roster failing = DefaultRoster();
  failing.server = PeerFailure{"Service down", 500};
  failing.gameflow = PeerFailure{"Gameflow is busy", 503};
  peers_.SetRoster(failing);

  EXPECT_EQ(Post(kBuddyPath, R"(["Ann","Bob"])", "application/json"),
            R"x(500 {"message":"Error getting spectate availability for summoner/team, )x"
            R"x(request buddy size: 2, error: Service down (0)"})x");
  EXPECT_EQ(Post(kLaunchPath, R"({"dropInSpectateGameId":"g9"})", "application/json"),
            R"x(500 {"message":"Failed to set launch spectator mode: Error response for POST )x"
            R"x(/vyn-gameflow/v1/spectate/launch: Gameflow is busy (503)"})x");
  // The failed launch is still the current game.
  auto game = client_->Get(kGamePath);
  ASSERT_TRUE(game);
  EXPECT_NE(game->body.find(R"("dropInSpectateGameId":"g9")"), std::string::npos) << game->body;

  // A body that does not fit the argument, and one of a type nobody reads.
  std::string wrong = Post(kLaunchPath, R"({"allowObserveMode":true})", "application/json");
  EXPECT_EQ(wrong.substr(0, 16), "500 {\"message\":\"") << wrong;
  EXPECT_NE(wrong.find("allowObserveMode"), std::string::npos) << wrong;
  EXPECT_EQ(Post(kBuddyPath, "Ann", "text/plain"),
            R"(500 {"message":"Unsupported body content type"})");

  auto unknown = client_->Get("/vyn-spectator/v1/nothing");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
  EXPECT_EQ(unknown->body, R"({"message":"No function for GET /vyn-spectator/v1/nothing"})");
}

TEST_F(DevHostHttpTest, EventStreamCarriesTheLaunchUnderBothNames) {
  httplib::Client stream_client("127.0.0.1", port_);
  std::string received;
  std::mutex mutex;
  std::condition_variable changed;
  std::thread reader([&] {
    stream_client.Get("/events", [&](const char* data, size_t length) {
      std::lock_guard<std::mutex> lock(mutex);
      received.append(data, length);
      changed.notify_all();
      return true;
    });
  });
  auto wait_for = [&](const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30),
                            [&] { return received.find(text) != std::string::npos; });
  };
  ASSERT_TRUE(wait_for(": connected\n\n"));
  EXPECT_EQ(
      Post(kLaunchPath, R"({"dropInSpectateGameId":"g5","gameQueueType":"q"})", "application/json"),
      "204 ");
  const std::string data =
      R"(data: {"data":{"allowObserveMode":"","dropInSpectateGameId":"g5","gameQueueType":"q"},)"
      R"("eventType":"Update","uri":"/vyn-spectator/v1/spectate"})";
  EXPECT_TRUE(wait_for("event: OnJsonApiEvent\n" + data + "\n\n"));
  EXPECT_TRUE(wait_for("event: OnJsonApiEvent_vyn-spectator_v1_spectate\n" + data + "\n\n"));
  server_->Stop();
  reader.join();
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(received.size(),
            std::string(": connected\n\n").size() + 2 * data.size() +
                std::string("event: OnJsonApiEvent\n\n\n").size() +
                std::string("event: OnJsonApiEvent_vyn-spectator_v1_spectate\n\n\n").size());
}

// Follows one stream of the server in the background.
class StreamReader {
 public:
  StreamReader(int port, const char* path, httplib::Headers headers = {})
      : client_("127.0.0.1", port) {
    thread_ = std::thread([this, path, headers] {
      client_.Get(path, headers, [this](const char* data, size_t length) {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(data, length);
        changed_.notify_all();
        return true;
      });
    });
  }
  ~StreamReader() { thread_.join(); }  // the server stops first

  // What arrived once `text` has, or "" when it does not within the deadline.
  std::string WaitFor(const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    bool arrived = changed_.wait_for(lock, std::chrono::seconds(30),
                                     [&] { return received_.find(text) != std::string::npos; });
    return arrived ? received_ : std::string();
  }

 private:
  httplib::Client client_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string received_;
};

TEST_F(DevHostHttpTest, InspectorTellsCallsWhatTheySentAndTheLogAndResumes) {
  EXPECT_EQ(Post(kBuddyPath, R"(["Ann","Bob"])", "application/json"),
            R"(200 {"availableForWatching":["Ann"]})");
  Roster failing = DefaultRoster();
  failing.server = PeerFailure{"Service unavailable", 503};
  peers_.SetRoster(failing);
  EXPECT_EQ(Post(kBuddyPath, R"(["Ann"])", "application/json").substr(0, 4), "500 ");

  // A new stream starts with what is kept: both calls, what each sent and
  // the error line, each linked to its call.
  StreamReader first(port_, "/devhost/inspector");
  const std::string all = first.WaitFor(R"("number":2,)");
  ASSERT_NE(all, "");
  EXPECT_NE(all.find(R"("kind":"request","call":1,)"), std::string::npos);
  EXPECT_NE(all.find(R"("name":"/vyn-login/v1/service-proxy-uuid-requests")"), std::string::npos);
  EXPECT_NE(all.find(R"("kind":"delivery","call":2,)"), std::string::npos);
  EXPECT_NE(all.find(R"(event: log)"
                     "\n"
                     R"(data: {"level":2,)"),
            std::string::npos);
  EXPECT_NE(all.find(R"("status":200,"contentType":"application/json","bodyBytes":13,)"),
            std::string::npos);
  EXPECT_NE(all.find(R"("status":500,)"), std::string::npos);

  // A stream that saw up to the first call goes on after it.
  const size_t first_call = all.find("event: call\n");
  const size_t id_start = all.rfind("id: ", first_call) + 4;
  const std::string id = all.substr(id_start, all.find('\n', id_start) - id_start);
  StreamReader resumed(port_, "/devhost/inspector", {{"Last-Event-ID", id}});
  const std::string rest = resumed.WaitFor(R"("number":2,)");
  EXPECT_EQ(rest.find(R"("number":1,)"), std::string::npos);
  EXPECT_EQ(rest.find("id: " + id + "\n"), std::string::npos);
  EXPECT_NE(rest.find("id: " + std::to_string(std::stoi(id) + 1) + "\n"), std::string::npos);

  auto call = client_->Get("/devhost/calls/1");
  ASSERT_TRUE(call);
  EXPECT_EQ(call->status, 200);
  EXPECT_NE(call->body.find(R"("body":"[\"Ann\",\"Bob\"]"})"), std::string::npos);
  EXPECT_NE(call->body.find(R"("body":"{\"availableForWatching\":[\"Ann\"]}"})"),
            std::string::npos);
  // The changes over the call are those of its counters before and after.
  rapidjson::Document detail;
  detail.Parse(call->body.c_str());
  ASSERT_TRUE(detail.IsObject()) << call->body;
  for (const char* name : {"liveBytes", "allocations"}) {
    EXPECT_EQ(detail[name].GetInt64(),
              detail["memoryAfter"][name].GetInt64() - detail["memoryBefore"][name].GetInt64())
        << name;
  }
  for (const char* missing : {"/devhost/calls/3", "/devhost/calls/1x", "/devhost/calls/"}) {
    auto answer = client_->Get(missing);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 404) << missing;
  }
  auto memory = client_->Get("/devhost/memory");
  ASSERT_TRUE(memory);
  rapidjson::Document stats;
  stats.Parse(memory->body.c_str());
  ASSERT_TRUE(stats.IsObject()) << memory->body;
  EXPECT_GT(stats["liveBytes"].GetInt64(), 0);
  EXPECT_GE(stats["peakLiveBytes"].GetInt64(), stats["liveBytes"].GetInt64());
  server_->Stop();
}

TEST_F(DevHostHttpTest, OnlyTheServersOwnOriginChangesTheRosterOrCallsThePlugin) {
  const std::string own = "http://127.0.0.1:" + std::to_string(port_);
  const std::string zed = R"({"players":[{"name":"Zed","inGame":true}]})";
  for (const std::string& origin : {std::string("http://evil.example"), std::string("null"),
                                    "http://localhost:" + std::to_string(port_)}) {
    SCOPED_TRACE(origin);
    const httplib::Headers headers = {{"Origin", origin}};
    auto put = client_->Put("/devhost/roster", headers, zed, "application/json");
    auto post = client_->Post(kBuddyPath, headers, R"(["Ann"])", "application/json");
    auto get = client_->Get(kGamePath, headers);
    for (const auto* answer : {&put, &post, &get}) {
      ASSERT_TRUE(*answer);
      EXPECT_EQ((*answer)->status, 403);
      EXPECT_NE((*answer)->body.find("A page at '" + origin + "' may not call the plugin"),
                std::string::npos)
          << (*answer)->body;
    }
  }
  EXPECT_TRUE(peers_.roster().IsInGame("Ann"));
  EXPECT_TRUE(host_.calls().empty());

  // The page's own requests, and those of clients that send no Origin.
  auto put = client_->Put("/devhost/roster", {{"Origin", own}}, zed, "application/json");
  ASSERT_TRUE(put);
  EXPECT_EQ(put->status, 200);
  EXPECT_TRUE(peers_.roster().IsInGame("Zed"));
  auto post = client_->Post(kBuddyPath, {{"Origin", own}}, R"(["Zed"])", "application/json");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->body, R"({"availableForWatching":["Zed"]})");
  EXPECT_EQ(Post(kBuddyPath, R"(["Zed","Ann"])", "application/json"),
            R"(200 {"availableForWatching":["Zed"]})");
}

TEST_F(DevHostHttpTest, OpenApiDocumentListsTheThreePathsWithSchemas) {
  auto response = client_->Get("/openapi.json");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->status, 200);
  rapidjson::Document doc;
  doc.Parse(response->body.c_str());
  ASSERT_FALSE(doc.HasParseError());
  const rapidjson::Value& paths = doc["paths"];
  EXPECT_EQ(paths.MemberCount(), 8u);  // and the host's own five under /devhost/
  const rapidjson::Value& buddy = paths[kBuddyPath]["post"];
  EXPECT_STREQ(buddy["operationId"].GetString(), "PostVynSpectatorV1BuddySpectate");
  const rapidjson::Value& names = buddy["requestBody"]["content"]["application/json"]["schema"];
  EXPECT_STREQ(names["type"].GetString(), "array");
  EXPECT_STREQ(names["items"]["type"].GetString(), "string");
  EXPECT_STREQ(
      buddy["responses"]["200"]["content"]["application/json"]["schema"]["$ref"].GetString(),
      "#/components/schemas/SummonerOrTeamAvailabilty");
  EXPECT_STREQ(
      paths[kLaunchPath]["post"]["requestBody"]["content"]["application/x-yaml"]["schema"]["$ref"]
          .GetString(),
      "#/components/schemas/SpectateGameInfo");
  // 200 for what returns a value, 204 for what returns nothing, never both.
  EXPECT_FALSE(paths[kLaunchPath]["post"]["responses"].HasMember("200"));
  EXPECT_TRUE(paths[kLaunchPath]["post"]["responses"].HasMember("204"));
  EXPECT_FALSE(buddy["responses"].HasMember("204"));
  EXPECT_FALSE(paths[kGamePath]["get"]["responses"].HasMember("204"));
  EXPECT_STREQ(
      paths[kGamePath]["get"]["responses"]["200"]["content"]["application/json"]["schema"]["$ref"]
          .GetString(),
      "#/components/schemas/SpectateGameInfo");
  const rapidjson::Value& schemas = doc["components"]["schemas"];
  EXPECT_STREQ(schemas["SpectateGameInfo"]["properties"]["allowObserveMode"]["type"].GetString(),
               "string");
  EXPECT_STREQ(schemas["SummonerOrTeamAvailabilty"]["properties"]["availableForWatching"]["type"]
                   .GetString(),
               "array");
  // Types no operation uses are left out; events name their payload type.
  EXPECT_FALSE(schemas.HasMember("PluginResourceEventType"));
  EXPECT_STREQ(doc["x-events"][1]["payloadType"].GetString(), "PluginResourceEvent");
}

// ---------------------------------------------------------------------------
// The program

struct ProgramResult {
  int status;
  std::string output;
};

ProgramResult RunProgram(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), kProgram);
  std::string error;
  std::unique_ptr<Platform::ChildProcess> child = Platform::ChildProcess::Start(arguments, &error);
  if (child == nullptr) return {-1, error};
  std::string output = child->ReadAll();
  return {child->Wait(), output};
}

std::string WriteTempFile(const std::string& name, const std::string& content) {
  std::string path = ::testing::TempDir() + name;
  std::ofstream file(path, std::ios::binary);
  file << content;
  return path;
}

TEST(DevHostProgramTest, CallPrintsStatusAndResultOrError) {
  ProgramResult available =
      RunProgram({"call", "POST", kBuddyPath, "--body", R"(["Bob","Cleo"])", "--plugin", kLibrary});
  EXPECT_EQ(available.status, 0);
  EXPECT_EQ(available.output, "status: 200\n{\"availableForWatching\":[\"Cleo\"]}\n");

  std::string body = WriteTempFile("e2e_names.msgpack", kNamesMessagePack);
  ProgramResult verbose =
      RunProgram({"call", "POST", kBuddyPath, "--body", "@" + body, "--content-type",
                  "application/x-msgpack", "--verbose", "--plugin", kLibrary});
  EXPECT_EQ(verbose.status, 0);
  EXPECT_NE(verbose.output.find("request POST /vyn-login/v1/service-proxy-uuid-requests "
                                "[\"spectator\",\"getDropInSpectateAvailability\","),
            std::string::npos)
      << verbose.output;
  EXPECT_NE(verbose.output.find("delivered OnServiceProxyUuidEvent "), std::string::npos);
  EXPECT_NE(verbose.output.find("wait Wait: future<"), std::string::npos);
  EXPECT_NE(verbose.output.find("log ALWAYS| Fulfilled service proxy request: "),
            std::string::npos);
  EXPECT_NE(verbose.output.find("yields 1, waits ended 1\ncall took "), std::string::npos);
  EXPECT_EQ(verbose.output.substr(verbose.output.find("status:")),
            "status: 200\n{\"availableForWatching\":[\"Ann\",\"Cleo\"]}\n");
  std::remove(body.c_str());

  std::string roster = WriteTempFile(
      "e2e_roster.json", R"({"players":[],"gameflow":{"error":"No client","status":409}})");
  ProgramResult failed =
      RunProgram({"call", "POST", kLaunchPath, "--body", R"({"dropInSpectateGameId":"g"})",
                  "--roster", roster, "--plugin", kLibrary});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.output,
            "status: 500\n{\"message\":\"Failed to set launch spectator mode: Error response for "
            "POST /vyn-gameflow/v1/spectate/launch: No client (409)\"}\n");
  std::remove(roster.c_str());
}

TEST(DevHostProgramTest, DescribeInAllThreeForms) {
  ProgramResult text = RunProgram({"describe", "--plugin", kLibrary});
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.output.substr(0, text.output.find("\nFunctions")),
            "Plugin tmx-be-vyn-spectator\n");
  EXPECT_NE(text.output.find("  POST /vyn-spectator/v1/buddy/spectate  "
                             "(PostVynSpectatorV1BuddySpectate)\n"
                             "    argument summonerOrTeamNames: vector<string> in body\n"
                             "    result: SummonerOrTeamAvailabilty\n"
                             "    tags: Plugins, Plugin tmx-be-vyn-spectator\n"),
            std::string::npos)
      << text.output;
  EXPECT_NE(text.output.find("  OnJsonApiEvent: PluginResourceEvent - Fired when a resource is "
                             "changed.\n"),
            std::string::npos);
  EXPECT_NE(text.output.find("    dropInSpectateGameId: string\n"), std::string::npos);

  for (const char* form : {"--json", "--openapi"}) {
    ProgramResult json = RunProgram({"describe", form, "--plugin", kLibrary});
    EXPECT_EQ(json.status, 0);
    rapidjson::Document doc;
    doc.Parse(json.output.c_str());
    ASSERT_FALSE(doc.HasParseError()) << form;
    if (std::string(form) == "--json") {
      EXPECT_STREQ(doc["plugin"].GetString(), "tmx-be-vyn-spectator");
      EXPECT_EQ(doc["functions"].Size(), 3u);
    } else {
      EXPECT_EQ(doc["paths"].MemberCount(), 8u);
    }
  }
}

TEST(DevHostProgramTest, ServeAnswersAndStopsOnTerminate) {
  std::string error;
  std::unique_ptr<Platform::ChildProcess> child = Platform::ChildProcess::Start(
      {kProgram, "serve", "--port", "0", "--plugin", kLibrary}, &error);
  ASSERT_NE(child, nullptr) << error;
  const std::string marker = "listening on http://127.0.0.1:";
  std::string line;
  int port = 0;
  while (child->ReadLine(&line)) {
    size_t at = line.find(marker);
    if (at != std::string::npos) {
      port = std::stoi(line.substr(at + marker.size()));
      break;
    }
  }
  ASSERT_NE(port, 0) << "last line: " << line;

  httplib::Client client("127.0.0.1", port);
  // The program's 32 workers make each request slow under memcheck.
  client.set_read_timeout(60, 0);
  auto answer = client.Post(kBuddyPath, R"(["Ann"])", "application/json");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->body, R"({"availableForWatching":["Ann"]})");

  // A second server on the same port is refused with a clear message.
  ProgramResult busy = RunProgram({"serve", "--port", std::to_string(port), "--plugin", kLibrary});
  EXPECT_EQ(busy.status, 2);
  EXPECT_NE(busy.output.find("vyn-devhost: Cannot listen on 127.0.0.1:" + std::to_string(port) +
                             ": the port is busy or the address is not available"),
            std::string::npos)
      << busy.output;

  child->Terminate();
  std::string rest = child->ReadAll();
  EXPECT_NE(rest.find("vyn-devhost: stopped\n"), std::string::npos) << rest;
  EXPECT_EQ(child->Wait(), 0);
  EXPECT_FALSE(Platform::ProcessExists(child->pid()));
  EXPECT_FALSE(client.Get(kGamePath));  // nobody listens any more
}

TEST(DevHostProgramTest, ClearErrorsForBadInput) {
  ProgramResult missing = RunProgram({"describe", "--plugin", "/nonexistent/libvyn_spectator.so"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.output.find(
                "vyn-devhost: Cannot load plugin library '/nonexistent/libvyn_spectator.so': "),
            0u)
      << missing.output;

  ProgramResult usage = RunProgram({"call", "FETCH", "/x"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_EQ(usage.output.find("vyn-devhost: Unknown method 'FETCH'\nUsage:\n"), 0u);

  std::string roster = WriteTempFile("e2e_bad_roster.json", R"({"players":[{"name":1}]})");
  ProgramResult bad_roster =
      RunProgram({"serve", "--port", "0", "--roster", roster, "--plugin", kLibrary});
  EXPECT_EQ(bad_roster.status, 2);
  EXPECT_EQ(bad_roster.output,
            "vyn-devhost: Bad roster file '" + roster + "': players[0].name must be a string\n");
  std::remove(roster.c_str());

  ProgramResult bad_body = RunProgram(
      {"call", "POST", kBuddyPath, "--body", "@/nonexistent/names.json", "--plugin", kLibrary});
  EXPECT_EQ(bad_body.status, 2);
  EXPECT_EQ(bad_body.output, "vyn-devhost: Cannot read body file '/nonexistent/names.json'\n");

  // The plugin refuses a host of another major version (and reports why).
  ProgramResult incompatible =
      RunProgram({"describe", "--host-api", "19.0.0", "--plugin", kLibrary});
  EXPECT_EQ(incompatible.status, 2);
  EXPECT_NE(incompatible.output.find("vyn-devhost: The plugin refused host plugin API 19.0.0\n"),
            std::string::npos)
      << incompatible.output;
}

}  // namespace
}  // namespace Kestrel::DevHost
