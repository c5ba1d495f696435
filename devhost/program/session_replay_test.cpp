// A session of the real plugin saved as HAR by `serve`, and replayed by
// `replay`: the same build matches every call, a changed answer or a changed
// outgoing request shows as that call's diff, bad input exits 2.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "devhost/peers/simulated_peers.h"
#include "devhost/program/dev_host_commands.h"
#include "devhost/program/session_replay.h"
#include "httplib.h"
#include "platform/child_process.h"
#include "rapidjson/document.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"
#include "util/base64.h"

namespace Kestrel::DevHost {
namespace {

constexpr const char* kLibrary = VYN_SPECTATOR_LIBRARY;
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
const std::string kNotUtf8("[\"\xC3\x28\"]");

std::string WriteTempFile(const std::string& name, const std::string& content) {
  std::string path = ::testing::TempDir() + name;
  std::ofstream file(path, std::ios::binary);
  file << content;
  return path;
}

// Serves the plugin, makes seven calls (the last three after the roster's
// server fails) and answers the session the server saved.
std::string RecordSession() {
  DevHostOptions options;
  options.command = DevHostCommand::kServe;
  options.plugin_path = kLibrary;
  options.port = 0;
  options.log = LogFilter::kNone;
  std::ostringstream out, err;
  std::string har;
  const int code = RunServe(options, PluginSource{}, out, err, [&har](int port) {
    httplib::Client client("127.0.0.1", port);
    client.Post(kBuddyPath, R"(["Esme","Bob","Ann"])", "application/json");
    client.Post(kBuddyPath, kNamesMessagePack, "application/x-msgpack");
    client.Post(kLaunchPath, R"({"dropInSpectateGameId":"g1","gameQueueType":"ARAM"})",
                "application/json");
    client.Get(kGamePath);
    client.Put("/devhost/roster", R"({"players":[],"server":{"error":"Service down"}})",
               "application/json");
    client.Post(kBuddyPath, R"(["Ann"])", "application/json");
    client.Get(std::string(kGamePath) + "?q=a%41");
    client.Post(kLaunchPath, kNotUtf8, "application/json");
    if (auto answer = client.Get("/devhost/session.har"); answer && answer->status == 200) {
      har = answer->body;
    }
  });
  EXPECT_EQ(code, 0) << err.str();
  return har;
}

class SessionReplayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { session_ = new std::string(RecordSession()); }
  static void TearDownTestSuite() { delete session_; }

  struct Result {
    int code;
    std::string out, err;
  };

  static Result Replay(const std::string& har_text, const std::string& plugin = kLibrary) {
    DevHostOptions options;
    options.command = DevHostCommand::kReplay;
    options.plugin_path = plugin;
    options.session_path = WriteTempFile("session.har", har_text);
    std::ostringstream out, err;
    const int code = RunReplay(options, PluginSource{}, out, err);
    return {code, out.str(), err.str()};
  }

  // The session with `edit` applied to its JSON.
  static std::string Edited(const std::function<void(rapidjson::Document&)>& edit) {
    rapidjson::Document har;
    har.Parse(session_->c_str());
    edit(har);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    har.Accept(writer);
    return buffer.GetString();
  }

  static std::string* session_;
};
std::string* SessionReplayTest::session_ = nullptr;

TEST_F(SessionReplayTest, EachCallIsAnEntryWithWhatItSentAndLogged) {
  rapidjson::Document har;
  har.Parse(session_->c_str());
  ASSERT_FALSE(har.HasParseError()) << *session_;
  const auto& entries = har["log"]["entries"];
  ASSERT_EQ(entries.Size(), 7u);
  EXPECT_STREQ(har["log"]["version"].GetString(), "1.2");

  const auto& first = entries[0];
  EXPECT_STREQ(first["request"]["method"].GetString(), "POST");
  EXPECT_NE(std::string(first["request"]["url"].GetString()).find(kBuddyPath), std::string::npos);
  EXPECT_STREQ(first["request"]["postData"]["text"].GetString(), R"(["Esme","Bob","Ann"])");
  EXPECT_EQ(first["response"]["status"].GetInt(), 200);
  EXPECT_STREQ(first["response"]["content"]["text"].GetString(),
               R"({"availableForWatching":["Esme","Ann"]})");
  // The server's answer went out as a request and came back as a delivery.
  const auto& outgoing = first["_outgoing"];
  ASSERT_GE(outgoing.Size(), 2u);
  EXPECT_STREQ(outgoing[0]["kind"].GetString(), "request");
  EXPECT_NE(std::string(outgoing[0]["path"].GetString()).find("/vyn-login/"), std::string::npos);
  EXPECT_EQ(first["_events"]["delivered"].Size(), 1u);
  EXPECT_GT(first["_allocations"]["allocations"].GetInt64(), 0);
  EXPECT_FALSE(first["_roster"].HasMember("server"));

  // MessagePack travels in Base64.
  const auto& packed = entries[1]["request"]["postData"];
  EXPECT_STREQ(packed["mimeType"].GetString(), "application/x-msgpack");
  EXPECT_STREQ(packed["_encoding"].GetString(), "base64");
  EXPECT_EQ(packed["text"].GetString(),
            EncodeBase64(reinterpret_cast<const uint8_t*>(kNamesMessagePack.data()),
                         kNamesMessagePack.size()));

  EXPECT_EQ(entries[2]["response"]["status"].GetInt(), 204);
  EXPECT_STREQ(entries[2]["_outgoing"][0]["path"].GetString(), kGameflowLaunchPath);
  // The last call ran with the roster whose server fails.
  EXPECT_STREQ(entries[4]["_roster"]["server"]["error"].GetString(), "Service down");
  EXPECT_EQ(entries[4]["response"]["status"].GetInt(), 500);
  EXPECT_STREQ(entries[5]["request"]["queryString"][0]["value"].GetString(), "aA");
  // A body that is not UTF-8 travels in Base64 whatever its type.
  const auto& not_utf8 = entries[6]["request"]["postData"];
  EXPECT_STREQ(not_utf8["_encoding"].GetString(), "base64");
  const std::vector<uint8_t> bytes = DecodeBase64(not_utf8["text"].GetString());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), kNotUtf8);
}

TEST_F(SessionReplayTest, TheSameBuildAnswersEveryCallTheSame) {
  // The same JSON answer with its members in another order is the same.
  const std::string reordered = Edited([](rapidjson::Document& har) {
    auto& text = har["log"]["entries"][3]["response"]["content"]["text"];
    rapidjson::Document game;
    game.Parse(text.GetString());
    ASSERT_GE(game.MemberCount(), 2u);
    std::string swapped = "{";
    for (auto member = game.MemberEnd(); member-- != game.MemberBegin();) {
      rapidjson::StringBuffer value;
      rapidjson::Writer<rapidjson::StringBuffer> writer(value);
      member->value.Accept(writer);
      swapped += std::string(swapped.size() > 1 ? "," : "") + "\"" + member->name.GetString() +
                 "\":" + value.GetString();
    }
    swapped += "}";
    text.SetString(swapped.c_str(), static_cast<rapidjson::SizeType>(swapped.size()),
                   har.GetAllocator());
  });
  for (const std::string* session : {static_cast<const std::string*>(session_), &reordered}) {
    const Result result = Replay(*session);
    EXPECT_EQ(result.code, 0) << result.out << result.err;
    EXPECT_EQ(result.out, "7 calls, 7 same, 0 differ\n");
  }
}

TEST_F(SessionReplayTest, ACallAnsweredDifferentlyShowsItsDiff) {
  struct Case {
    const char* what;
    std::function<void(rapidjson::Document&)> edit;
    const char* entry;
    const char* diff_line;
  };
  const Case cases[] = {
      {"the recorded answer",
       [](rapidjson::Document& har) {
         har["log"]["entries"][0]["response"]["content"]["text"].SetString(
             R"({"availableForWatching": ["Esme"]})");
       },
       "entry 1: POST /vyn-spectator/v1/buddy/spectate differs", "+    \"Ann\"\n"},
      {"what the server answered the plugin",
       [](rapidjson::Document& har) {
         for (auto& item : har["log"]["entries"][0]["_outgoing"].GetArray()) {
           if (std::string(item["kind"].GetString()) == "delivery") {
             item["payload"]["payload"].SetString(R"({"availableForWatching":["Ann"]})");
           }
         }
       },
       "entry 1: POST /vyn-spectator/v1/buddy/spectate differs", "-    \"Esme\",\n"},
      {"a request the recording does not hold",
       [](rapidjson::Document& har) { har["log"]["entries"][2]["_outgoing"].Clear(); },
       "entry 3: POST /vyn-spectator/v1/spectate/launch differs", "(not in the recording)\n"},
      {"a request recorded with another method",
       [](rapidjson::Document& har) {
         har["log"]["entries"][2]["_outgoing"][0]["method"].SetString("PUT");
       },
       "entry 3: POST /vyn-spectator/v1/spectate/launch differs", "(not in the recording)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Result result = Replay(Edited(c.edit));
    EXPECT_EQ(result.code, 1) << result.err;
    EXPECT_NE(result.out.find(std::string(c.entry) + "\n--- recorded\n+++ replayed\n@@ "),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find(c.diff_line), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("7 calls, 6 same, 1 differ\n"), std::string::npos) << result.out;
  }
}

TEST_F(SessionReplayTest, BadInputExitsTwoWithAClearError) {
  const std::string no_plugin_call =
      R"({"log":{"version":"1.2","creator":{"name":"x","version":"1"},"entries":[)"
      R"({"request":{"method":"GET","url":"http://example.test/other"},)"
      R"("response":{"status":200,"content":{"size":0,"mimeType":""}}}]}})";
  struct Case {
    std::string har;
    std::string plugin;
    const char* message;
  };
  const Case cases[] = {
      {"hello", kLibrary, "not a HAR file: it is not JSON"},
      {R"({"log":{"entries":{}}})", kLibrary, "not a HAR file"},
      {R"({"log":{"version":"1.2","entries":[{"request":{}}]}})", kLibrary, "entry 1 lacks"},
      {no_plugin_call, kLibrary, "the session holds no call of"},
      {*session_, "/nonexistent/libvyn_spectator.so", "does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const Result result = Replay(c.har, c.plugin);
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(SessionReplayTest, TheProgramReplaysASessionFile) {
  const std::string path = WriteTempFile("program.har", *session_);
  std::string error;
  auto child = Platform::ChildProcess::Start(
      {VYN_DEVHOST_PROGRAM, "replay", path, "--plugin", kLibrary}, &error);
  ASSERT_NE(child, nullptr) << error;
  const std::string output = child->ReadAll();
  EXPECT_EQ(child->Wait(), 0) << output;
  EXPECT_NE(output.find("7 calls, 7 same, 0 differ"), std::string::npos) << output;
}

}  // namespace
}  // namespace Kestrel::DevHost
