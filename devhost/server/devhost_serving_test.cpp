// The stand-in host's server under load and abuse, over real HTTP on
// 127.0.0.1 with the real plugin library: open event streams and slow
// senders never starve calls, reused connections carry many requests, every
// error answer is JSON with a message, and the server outlives a request
// whose serving runs out of memory. Each test is bounded in count and time.
#include <gtest/gtest.h>

#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "devhost/host/core_host.h"
#include "devhost/peers/simulated_peers.h"
#include "devhost/server/http_server.h"
#include "httplib.h"
#include "platform/tcp_connection.h"
#include "rapidjson/document.h"

// On Windows the HTTP library's system headers define LoadLibrary as a macro.
#undef LoadLibrary

namespace Kestrel::DevHost {
namespace {

using Platform::TcpConnection;

constexpr const char* kLibrary = VYN_SPECTATOR_LIBRARY;
constexpr const char* kBuddyPath = "/vyn-spectator/v1/buddy/spectate";
constexpr const char* kLaunchPath = "/vyn-spectator/v1/spectate/launch";
constexpr const char* kGamePath = "/vyn-spectator/v1/spectate";
// How long any single answer may take before a test gives up on it.
constexpr int kAnswerTimeoutMs = 5000;
constexpr size_t kMaxBody = 4096;
constexpr int kHeaderTimeoutMs = 1000;

// One HTTP answer read from a raw connection.
struct RawAnswer {
  int status = 0;
  std::string head;
  std::string body;
  int pieces = 0;  // receives it took
};

// Reads one answer with a Content-Length body from `connection`; `buffer`
// keeps what arrived beyond it. Status 0 when none came in time.
RawAnswer ReadAnswer(TcpConnection& connection, std::string& buffer) {
  RawAnswer answer;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
  auto more = [&] {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::string piece = connection.ReceiveSome(kAnswerTimeoutMs);
    buffer += piece;
    if (!piece.empty()) ++answer.pieces;
    return !piece.empty();
  };
  size_t end = 0;
  while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
    if (!more()) return answer;
  }
  answer.head = buffer.substr(0, end + 4);
  size_t length = 0;
  size_t at = answer.head.find("Content-Length: ");
  if (at != std::string::npos) length = std::stoul(answer.head.substr(at + 16));
  while (buffer.size() < end + 4 + length) {
    if (!more()) return answer;
  }
  answer.body = buffer.substr(end + 4, length);
  buffer.erase(0, end + 4 + length);
  answer.status = std::stoi(answer.head.substr(9, 3));
  return answer;
}

// The "message" of a JSON error body; "" when the body is not such JSON.
std::string MessageOf(const std::string& body) {
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(body.c_str(), body.size());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("message") ||
      !doc["message"].IsString()) {
    return {};
  }
  return doc["message"].GetString();
}

class ServingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peers_.Install(&host_);
    MaybeType<void> loaded = host_.LoadLibrary(kLibrary);
    ASSERT_TRUE(loaded.has_value()) << loaded.ToText();
    ASSERT_TRUE(host_.Initialize().has_value());
    HttpServerOptions options;
    options.max_body = kMaxBody;
    options.header_timeout_ms = kHeaderTimeoutMs;
    server_ = std::make_unique<DevHttpServer>(&host_, options);
    MaybeType<int> port = server_->Bind("127.0.0.1", 0);
    ASSERT_TRUE(port.has_value()) << port.ToText();
    port_ = port.value();
    thread_ = std::thread([this] { server_->Run(); });
  }

  void TearDown() override {
    if (server_ != nullptr) server_->Stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
    host_.Unload();
  }

  std::unique_ptr<TcpConnection> Open() {
    std::string error;
    std::unique_ptr<TcpConnection> connection = TcpConnection::Connect("127.0.0.1", port_, &error);
    EXPECT_NE(connection, nullptr) << error;
    return connection;
  }

  // Sends `request` on a connection of its own and reads the answer.
  RawAnswer Exchange(const std::string& request) {
    std::unique_ptr<TcpConnection> connection = Open();
    if (connection == nullptr || !connection->Send(request)) return {};
    std::string buffer;
    return ReadAnswer(*connection, buffer);
  }

  // "STATUS BODY" of an availability call on a new connection.
  std::string Availability() {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(kAnswerTimeoutMs / 1000);
    auto answer = client.Post(kBuddyPath, R"(["Ann","Bob"])", "application/json");
    if (!answer) return "no answer: " + httplib::to_string(answer.error());
    return std::to_string(answer->status) + " " + answer->body;
  }

  CoreHost host_;
  SimulatedPeers peers_{DefaultRoster()};
  std::unique_ptr<DevHttpServer> server_;
  int port_ = 0;
  std::thread thread_;
};

const std::string kAvailable = R"(200 {"availableForWatching":["Ann"]})";

TEST_F(ServingTest, SixtyFourEventStreamsLeaveCallsAnsweredAndMoreAreRefused) {
  std::vector<std::unique_ptr<TcpConnection>> streams;
  for (int i = 0; i < 64; ++i) {
    streams.push_back(Open());
    ASSERT_TRUE(streams.back()->Send("GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    ASSERT_NE(streams.back()->ReceiveUntil(": connected\n\n", kAnswerTimeoutMs).find(": connected"),
              std::string::npos)
        << "stream " << i;
  }
  EXPECT_EQ(Availability(), kAvailable);
  RawAnswer refused = Exchange("GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(MessageOf(refused.body), "Too many open event streams (at most 64)");
}

TEST_F(ServingTest, ThirtyTwoSlowSendersNeitherDelayAGetNorStayForever) {
  std::vector<std::unique_ptr<TcpConnection>> senders;
  for (int i = 0; i < 32; ++i) {
    senders.push_back(Open());
    ASSERT_TRUE(senders.back()->Send(
        "POST /vyn-spectator/v1/buddy/spectate HTTP/1.1\r\nHost: localhost\r\n"));
  }
  EXPECT_EQ(Availability(), kAvailable);
  // A request whose head is not complete by the deadline is answered 408.
  for (std::unique_ptr<TcpConnection>& sender : senders) {
    std::string buffer;
    RawAnswer answer = ReadAnswer(*sender, buffer);
    EXPECT_EQ(answer.status, 408);
    EXPECT_EQ(MessageOf(answer.body), "The request was not received in time") << answer.body;
  }
}

TEST_F(ServingTest, ASenderTricklingItsHeadIsCutOffWhileOthersAreServed) {
  // 52 bytes 100 ms apart: each gap well within the header deadline, the
  // whole head five times over it.
  const std::string request = "GET /vyn-spectator/v1/spectate HTTP/1.1\r\nHost: localhost\r\n\r\n";
  constexpr int kGapMs = 100;
  std::unique_ptr<TcpConnection> sender = Open();
  ASSERT_NE(sender, nullptr);
  std::string received;
  size_t sent = 0;
  for (; sent < request.size() && !sender->closed(); ++sent) {
    if (!sender->Send(request.substr(sent, 1))) break;
    received += sender->ReceiveSome(kGapMs);  // also the gap between bytes
    if (sent == 3) {
      EXPECT_EQ(Availability(), kAvailable);
    }
  }
  received += sender->ReceiveUntil("", kAnswerTimeoutMs);
  EXPECT_LT(sent, request.size());
  EXPECT_TRUE(sender->closed());
  EXPECT_EQ(received.substr(0, 12), "HTTP/1.1 408") << received;
}

TEST_F(ServingTest, OneConnectionCarriesTwoHundredRequestsEachAnsweredInOnePiece) {
  std::unique_ptr<TcpConnection> connection = Open();
  ASSERT_NE(connection, nullptr);
  std::string buffer;
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(
        connection->Send("GET /vyn-spectator/v1/spectate HTTP/1.1\r\nHost: localhost\r\n\r\n"))
        << "request " << i;
    RawAnswer answer = ReadAnswer(*connection, buffer);
    ASSERT_EQ(answer.status, 200) << "request " << i;
    // An answer written in two parts can wait for the client's delayed
    // acknowledgement of the first (about 40 ms a request).
    EXPECT_EQ(answer.pieces, 1) << "request " << i;
  }
  EXPECT_FALSE(connection->closed());
}

TEST_F(ServingTest, PipelinedRequestsAreAnsweredInOrder) {
  std::unique_ptr<TcpConnection> connection = Open();
  ASSERT_NE(connection, nullptr);
  ASSERT_TRUE(connection->Send(
      "GET /nothing HTTP/1.1\r\nHost: localhost\r\n\r\n"
      "POST /vyn-spectator/v1/buddy/spectate HTTP/1.1\r\nHost: localhost\r\n"
      "Content-Type: application/json\r\nContent-Length: 13\r\n\r\n[\"Ann\",\"Bob\"]"
      "GET /vyn-spectator/v1/spectate HTTP/1.1\r\nHost: localhost\r\n\r\n"
      "GET /openapi.json HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  std::string buffer;
  RawAnswer missing = ReadAnswer(*connection, buffer);
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(MessageOf(missing.body), "No function for GET /nothing");
  RawAnswer available = ReadAnswer(*connection, buffer);
  EXPECT_EQ(std::to_string(available.status) + " " + available.body, kAvailable);
  EXPECT_EQ(ReadAnswer(*connection, buffer).status, 200);
  RawAnswer document = ReadAnswer(*connection, buffer);
  EXPECT_EQ(document.status, 200);
  EXPECT_NE(document.body.find("\"openapi\""), std::string::npos);
}

TEST_F(ServingTest, ConflictingBodyFramingIsRefused) {
  const std::string head =
      "POST /vyn-spectator/v1/buddy/spectate HTTP/1.1\r\nHost: localhost\r\n"
      "Content-Type: application/json\r\n";
  const std::string requests[] = {
      head + "Content-Length: 2\r\nContent-Length: 7\r\n\r\n[\"Ann\"]",
      head + "Content-Length: 7\r\nTransfer-Encoding: chunked\r\n\r\n7\r\n[\"Ann\"]\r\n0\r\n\r\n",
  };
  for (const std::string& request : requests) {
    RawAnswer answer = Exchange(request);
    EXPECT_EQ(answer.status, 400) << request;
    EXPECT_NE(MessageOf(answer.body).find("Conflicting body framing"), std::string::npos)
        << answer.body;
  }
  // Repeating one length is not a conflict.
  EXPECT_EQ(Exchange(head + "Content-Length: 7\r\nContent-Length: 7\r\n\r\n[\"Ann\"]").status, 200);
}

TEST_F(ServingTest, EveryErrorAnswerIsJsonWithAMessage) {
  struct Case {
    std::string request;
    int status;
    std::string message_part;
  };
  const Case cases[] = {
      {"NONSENSE\r\n\r\n", 400, "Bad request"},
      {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: localhost\r\n\r\n", 414, "too long"},
      {"GET / HTTP/1.1\r\nHost: localhost\r\nX-Big: " + std::string(9000, 'b') + "\r\n\r\n", 431,
       "headers are too large"},
      {"POST /vyn-spectator/v1/buddy/spectate HTTP/1.1\r\nHost: localhost\r\nContent-Length: " +
           std::to_string(kMaxBody + 1) + "\r\n\r\n",
       413, "larger than the limit of 4096 bytes"},
      {"GET /nothing HTTP/1.1\r\nHost: localhost\r\n\r\n", 404, "No function for GET /nothing"},
      {"POST /vyn-spectator/v1/buddy/spectate HTTP/1.1\r\nHost: localhost\r\nContent-Type: "
       "application/json\r\nContent-Length: 1\r\n\r\n[",
       500, ""},
  };
  for (const Case& c : cases) {
    RawAnswer answer = Exchange(c.request);
    EXPECT_EQ(answer.status, c.status) << c.request.substr(0, 60);
    EXPECT_NE(answer.head.find("Content-Type: application/json"), std::string::npos);
    std::string message = MessageOf(answer.body);
    EXPECT_FALSE(message.empty()) << answer.body;
    EXPECT_NE(message.find(c.message_part), std::string::npos) << message;
  }
}

TEST_F(ServingTest, InvalidUtf8InAnAnswerBecomesReplacementCharacters) {
  // A MessagePack game whose id holds bytes that are not UTF-8.
  std::string game =
      "\x81\xB4"
      "dropInSpectateGameId"
      "\xA4"
      "a\xFF\xC0z";
  httplib::Client client("127.0.0.1", port_);
  auto launched = client.Post(kLaunchPath, game, "application/x-msgpack");
  ASSERT_TRUE(launched);
  ASSERT_EQ(launched->status, 204) << launched->body;
  auto answer = client.Get(kGamePath);
  ASSERT_TRUE(answer);
  rapidjson::Document doc;
  doc.Parse<rapidjson::kParseValidateEncodingFlag>(answer->body.c_str(), answer->body.size());
  ASSERT_FALSE(doc.HasParseError()) << answer->body;
  EXPECT_STREQ(doc["dropInSpectateGameId"].GetString(), "a\xEF\xBF\xBD\xEF\xBF\xBDz");
}

TEST_F(ServingTest, RunningOutOfMemoryAnswersThatRequestAndTheServerGoesOn) {
  bool failed_once = false;
  HostObserver observer;
  observer.on_event = [this](const RecordedEvent& event) { server_->PublishEvent(event); };
  observer.on_request = [&failed_once](const RecordedRequest& request) {
    if (request.path == kGameflowLaunchPath && !failed_once) {
      failed_once = true;
      throw std::bad_alloc();
    }
  };
  host_.SetObserver(observer);
  httplib::Client client("127.0.0.1", port_);
  const std::string game = R"({"dropInSpectateGameId":"g1"})";
  auto failed = client.Post(kLaunchPath, game, "application/json");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->status, 500);
  EXPECT_NE(MessageOf(failed->body).find("The host ran out of memory"), std::string::npos)
      << failed->body;
  auto next = client.Post(kLaunchPath, game, "application/json");
  ASSERT_TRUE(next);
  EXPECT_EQ(next->status, 204);
}

TEST_F(ServingTest, StreamsEndWithTheEndOfTheChunkedBodyWhenTheServerStops) {
  std::unique_ptr<TcpConnection> stream = Open();
  ASSERT_TRUE(stream->Send("GET /events HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  ASSERT_NE(stream->ReceiveUntil(": connected\n\n", kAnswerTimeoutMs).find(": connected"),
            std::string::npos);
  server_->Stop();
  // The last chunk (size 0) and the empty trailer.
  EXPECT_NE(stream->ReceiveUntil("0\r\n\r\n", kAnswerTimeoutMs).find("0\r\n\r\n"),
            std::string::npos);
}

// The host's side of a shutdown while calls wait: with the server's answers
// held, an availability call waits inside the plugin; shutting the plugin
// down ends it with "Finalizing" and the server goes on answering.
TEST_F(ServingTest, ShutdownWhileACallWaitsEndsItWithFinalizing) {
  Roster holding = DefaultRoster();
  holding.hold_server_answers = true;
  peers_.SetRoster(holding);
  std::string answer;
  std::thread caller([&] { answer = Availability(); });
  for (int i = 0; i < 500 && peers_.server_calls().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(peers_.server_calls().size(), 1u);
  host_.Shutdown();
  caller.join();
  EXPECT_EQ(answer.substr(0, 4), "500 ") << answer;
  EXPECT_NE(answer.find("Finalizing"), std::string::npos) << answer;
  RawAnswer after = Exchange("GET /vyn-spectator/v1/spectate HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(after.status, 503);
}

}  // namespace
}  // namespace Kestrel::DevHost
