#include "devhost/server/http_server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "devhost/server/request_guard.h"
#include "host_abi/core_value.h"
#include "httplib.h"
#include "platform/tcp_connection.h"
#include "util/counting_allocator.h"

namespace Kestrel::DevHost {
namespace {

using namespace Client;

// A plugin with five functions under /t/v1/: "echo" answers what it got,
// "empty" publishes an event and answers nothing, "fail" fails without a
// status, "teapot" fails with 418, "created" answers with status 201.
CoreInterface* g_core = nullptr;
CoreFunctionDescriptor g_functions[5];
ApiDescription g_api;
constexpr char kEmpty[] = "";

void VYN_CDECL Release(CoreResponse* response) {
  ReleaseCoreValue(&response->value);
  if (response->error_flag != 0) CountingFree(response->error_text);
  std::memset(static_cast<void*>(response), 0, sizeof(*response));
}

void Start(CoreResponse* response) {
  std::memset(static_cast<void*>(response), 0, sizeof(*response));
  response->content_type = kEmpty;
  response->release = &Release;
}

void SetText(CoreValue* structure, uint32_t index, const char* name, std::string_view text) {
  (void)SetEntryName(&structure->structure.entries[index], name);
  (void)SetOwnedString(&structure->structure.entries[index].value, text);
}

void VYN_CDECL Echo(CoreResponse* response, const CoreRequest* request) {
  Start(response);
  std::string headers;
  for (uint32_t i = 0; i < request->header_count; ++i) {
    if (std::strcmp(request->headers[i].name, "X-Test") == 0) headers = request->headers[i].value;
  }
  (void)SetStructure(&response->value, 5);
  SetText(&response->value, 0, "path", request->path);
  SetText(&response->value, 1, "contentType", request->content_type);
  SetText(&response->value, 2, "body",
          request->body != nullptr ? std::string_view(request->body, request->body_length)
                                   : std::string_view("<none>"));
  SetText(&response->value, 3, "header", headers);
  SetText(&response->value, 4, "caller", std::to_string(request->caller_id));
}

void VYN_CDECL Empty(CoreResponse* response, const CoreRequest*) {
  CoreEvent event{};
  event.name = "OnThing";
  (void)SetStructure(&event.payload, 1);
  SetText(&event.payload, 0, "uri", "/t/v1/empty");
  g_core->functions->SendEvent(g_core->functions, &event);
  event.name = "OnOther";
  g_core->functions->SendEvent(g_core->functions, &event);
  ReleaseCoreValue(&event.payload);
  Start(response);
}

void VYN_CDECL Fail(CoreResponse* response, const CoreRequest* request) {
  Start(response);
  bool teapot = std::strstr(request->path, "teapot") != nullptr;
  response->error_text = CopyOwnedText(teapot ? "I am a teapot" : "Broken \"thing\"");
  response->error_flag = 1;
  response->status_code = teapot ? 418 : 0;
}

void VYN_CDECL Created(CoreResponse* response, const CoreRequest*) {
  Start(response);
  response->value = MakeSignedValue(7);
  response->status_code = 201;
}

uint8_t VYN_CDECL Initialize(void*, CoreInterface* core) {
  g_core = core;
  return 1;
}
void VYN_CDECL Shutdown(void*) {}
void VYN_CDECL Stats(uint32_t, MemoryStats*) {}
const ModuleEntryTable g_entry = {&Initialize, &Shutdown, &Stats};
int g_module;

uint32_t VYN_CDECL Load(CorePluginRecord* record) {
  const struct {
    const char* name;
    uint32_t method;
    const char* path;
    CoreFunctionCallback callback;
  } functions[] = {{"PostTV1Echo", kMethodPost, "/t/v1/echo", &Echo},
                   {"PostTV1Empty", kMethodPost, "/t/v1/empty", &Empty},
                   {"GetTV1Fail", kMethodGet, "/t/v1/fail", &Fail},
                   {"GetTV1Teapot", kMethodGet, "/t/v1/teapot", &Fail},
                   {"GetTV1Created", kMethodGet, "/t/v1/created", &Created}};
  for (int i = 0; i < 5; ++i) {
    std::memset(static_cast<void*>(&g_functions[i]), 0, sizeof(g_functions[i]));
    g_functions[i].function.name = functions[i].name;
    g_functions[i].callback = functions[i].callback;
    g_functions[i].path = functions[i].path;
    g_functions[i].method = functions[i].method;
    g_functions[i].method_name = kEmpty;
  }
  g_api = {g_functions, 5, nullptr, 0, nullptr, 0};
  record->entry_table = &g_entry;
  record->module = &g_module;
  record->plugin_name = "tmx-be-t";
  record->api_description = &g_api;
  return 0;
}

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.Load(&Load).has_value());
    ASSERT_TRUE(host_.Initialize().has_value());
    server_ = std::make_unique<DevHttpServer>(&host_);
    MaybeType<int> port = server_->Bind("127.0.0.1", 0);
    ASSERT_TRUE(port.has_value()) << port.ToText();
    port_ = port.value();
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    if (server_ != nullptr) server_->Stop();
    if (thread_.joinable()) thread_.join();
  }

  // Serves again with `options` on `address`; returns the new port, 0 when
  // it could not bind.
  int Restart(HttpServerOptions options, const char* address = "127.0.0.1") {
    server_->Stop();
    thread_.join();
    server_ = std::make_unique<DevHttpServer>(&host_, options);
    MaybeType<int> port = server_->Bind(address, 0);
    if (port.is_failure()) return 0;
    thread_ = std::thread([this] { server_->Run(); });
    return port.value();
  }

  CoreHost host_;
  std::unique_ptr<DevHttpServer> server_;
  int port_ = 0;
  std::thread thread_;
};

TEST_F(HttpServerTest, RequestsBecomeCallsAndResponsesBecomeHttp) {
  httplib::Client client("127.0.0.1", port_);
  httplib::Headers headers = {{"X-Test", "yes"}};
  auto echo = client.Post("/t/v1/echo?q=1%202", headers, "a: 1", "application/x-yaml");
  ASSERT_TRUE(echo) << httplib::to_string(echo.error());
  EXPECT_EQ(echo->status, 200);
  EXPECT_EQ(echo->get_header_value("Content-Type"), "application/json");
  // The path keeps its query exactly as sent; a caller id is given.
  EXPECT_EQ(echo->body, R"({"path":"/t/v1/echo?q=1%202","contentType":"application/x-yaml",)"
                        R"("body":"a: 1","header":"yes","caller":"1"})");

  auto empty = client.Post("/t/v1/empty", "", "application/json");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->status, 204);
  EXPECT_EQ(empty->body, "");

  auto fail = client.Get("/t/v1/fail");
  ASSERT_TRUE(fail);
  EXPECT_EQ(fail->status, 500);  // no status of its own
  EXPECT_EQ(fail->body, R"({"message":"Broken \"thing\""})");
  auto teapot = client.Get("/t/v1/teapot");
  ASSERT_TRUE(teapot);
  EXPECT_EQ(teapot->status, 418);
  EXPECT_EQ(teapot->body, R"({"message":"I am a teapot"})");
  auto created = client.Get("/t/v1/created");
  ASSERT_TRUE(created);
  EXPECT_EQ(created->status, 201);
  EXPECT_EQ(created->body, "7");

  auto unknown = client.Get("/t/v1/echo");  // the path exists for POST only
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
  EXPECT_EQ(unknown->body, R"({"message":"No function for GET /t/v1/echo"})");

  auto openapi = client.Get("/openapi.json");
  ASSERT_TRUE(openapi);
  EXPECT_EQ(openapi->status, 200);
  EXPECT_NE(openapi->body.find("\"/t/v1/echo\""), std::string::npos);
}

TEST_F(HttpServerTest, EventStreamCarriesPublishedEventsAndEndsOnStop) {
  httplib::Client stream_client("127.0.0.1", port_);
  std::string received;
  std::mutex mutex;
  std::condition_variable changed;
  std::thread reader([&] {
    stream_client.Get("/events", [&](const char* data, size_t length) {
      std::lock_guard<std::mutex> lock(mutex);
      received.append(data, length);
      changed.notify_all();
      return true;  // read until the server ends the stream
    });
  });
  auto wait_for = [&](const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(20),
                            [&] { return received.find(text) != std::string::npos; });
  };
  ASSERT_TRUE(wait_for(": connected\n\n"));
  EXPECT_EQ(server_->open_event_streams(), 1);

  httplib::Client client("127.0.0.1", port_);
  ASSERT_TRUE(client.Post("/t/v1/empty", "", "application/json"));
  ASSERT_TRUE(wait_for("event: OnOther\n"));
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(received,
              ": connected\n\n"
              "event: OnThing\ndata: {\"uri\":\"/t/v1/empty\"}\n\n"
              "event: OnOther\ndata: {\"uri\":\"/t/v1/empty\"}\n\n");
  }
  server_->Stop();  // ends the open stream too
  reader.join();
  thread_.join();
  EXPECT_EQ(server_->open_event_streams(), 0);
}

TEST_F(HttpServerTest, ABusyPortIsReported) {
  DevHttpServer second(&host_);
  MaybeType<int> port = second.Bind("127.0.0.1", port_);
  ASSERT_TRUE(port.is_failure());
  EXPECT_EQ(port.failure().code(), 503);
  EXPECT_EQ(std::string(port.failure().message()),
            "Cannot listen on 127.0.0.1:" + std::to_string(port_) +
                ": the port is busy or the address is not available");
  EXPECT_FALSE(second.Run());  // not bound: returns at once
}

TEST(HttpAnswerTest, OutcomesMapToStatusAndBody) {
  HttpAnswer not_found = AnswerForCall(Failure(404, "No function for GET /x"));
  EXPECT_EQ(not_found.status, 404);
  EXPECT_EQ(not_found.body, R"({"message":"No function for GET /x"})");
  EXPECT_EQ(AnswerForCall(Failure("no code")).status, 500);

  CallOutcome streamed;
  streamed.streamed = true;
  streamed.stream_text = "[1]";
  HttpAnswer stream_answer = AnswerForCall(std::move(streamed));
  EXPECT_EQ(stream_answer.status, 200);
  EXPECT_EQ(stream_answer.body, "[1]");
  CallOutcome broken;
  broken.streamed = true;
  broken.stream_failed = true;
  EXPECT_EQ(AnswerForCall(std::move(broken)).status, 500);

  RecordedEvent event("On\nBad", 0, HostValue::String("x"));
  EXPECT_EQ(EventFrame(event), "event: On Bad\ndata: \"x\"\n\n");
  EXPECT_EQ(ErrorBody("a\\b"), R"({"message":"a\\b"})");
}

TEST(RequestGuardTest, OnlyThisMachinesNamesAndTheServersOwnOriginAreServed) {
  const HostGuard loopback{true, {}};
  const HostGuard allowing{true, {"DevBox"}};
  const HostGuard anywhere{false, {}};
  const struct {
    const HostGuard* guard;
    std::optional<std::string_view> host;
    bool served;
  } kHosts[] = {
      {&loopback, "127.0.0.1:8080", true},
      {&loopback, "127.0.0.1", true},
      {&loopback, "LocalHost:1", true},
      {&loopback, "[::1]:8080", true},
      {&loopback, "[::1]", true},
      {&loopback, std::nullopt, false},
      {&loopback, "", false},
      {&loopback, "evil.example:8080", false},
      {&loopback, "127.0.0.1.nip.io", false},
      {&loopback, "localhost.evil:80", false},
      {&loopback, "localhost:80x", false},
      {&loopback, "[::1]x", false},
      {&loopback, "devbox:8080", false},
      {&allowing, "devbox:8080", true},
      {&allowing, "evil.example", false},
      {&anywhere, "evil.example:8080", true},
  };
  for (const auto& test : kHosts) {
    SCOPED_TRACE(std::string(test.host.value_or("(none)")));
    std::optional<HttpAnswer> refused = RefuseHost(*test.guard, test.host);
    EXPECT_EQ(!refused.has_value(), test.served);
    if (refused.has_value()) {
      EXPECT_EQ(refused->status, 403);
      EXPECT_NE(refused->body.find("serve --allow-host NAME"), std::string::npos);
    }
  }

  const struct {
    std::optional<std::string_view> origin;
    std::string_view host;
    bool served;
  } kOrigins[] = {
      {std::nullopt, "127.0.0.1:8080", true},
      {"http://127.0.0.1:8080", "127.0.0.1:8080", true},
      {"HTTP://LOCALHOST", "localhost:80", true},
      {"http://[::1]:8080", "[::1]:8080", true},
      {"http://localhost:8080", "127.0.0.1:8080", false},
      {"http://127.0.0.1:8081", "127.0.0.1:8080", false},
      {"https://127.0.0.1:8080", "127.0.0.1:8080", false},
      {"http://evil.example", "127.0.0.1:8080", false},
      {"null", "127.0.0.1:8080", false},
      {"", "127.0.0.1:8080", false},
      {"http://127.0.0.1:8080", "", false},
  };
  for (const auto& test : kOrigins) {
    SCOPED_TRACE(std::string(test.origin.value_or("(none)")) + " to " + std::string(test.host));
    std::optional<HttpAnswer> refused = RefuseOrigin(test.origin, test.host);
    EXPECT_EQ(!refused.has_value(), test.served);
    if (refused.has_value()) {
      EXPECT_EQ(refused->status, 403);
    }
  }
}

TEST_F(HttpServerTest, AForeignHostIsRefusedOnEveryRoute) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(10, 0);  // a stream served by mistake ends the test
  const std::string port = std::to_string(port_);
  const std::pair<const char*, const char*> kRoutes[] = {
      {"GET", "/"},
      {"GET", "/page/page.js"},
      {"GET", "/openapi.json"},
      {"HEAD", "/openapi.json"},
      {"GET", "/events"},
      {"GET", "/devhost/inspector"},
      {"GET", "/devhost/calls/1"},
      {"GET", "/devhost/memory"},
      {"GET", "/devhost/roster"},
      {"PUT", "/devhost/roster"},
      {"POST", "/t/v1/echo"},
      {"GET", "/t/v1/created"},
      {"GET", "/nothing"},
      {"BREW", "/t/v1/echo"},
  };
  for (const auto& [method, path] : kRoutes) {
    SCOPED_TRACE(std::string(method) + " " + path);
    httplib::Request request;
    request.method = method;
    request.path = path;
    request.headers = {{"Host", "evil.example:" + port}};
    auto answer = client.send(request);
    ASSERT_TRUE(answer) << httplib::to_string(answer.error());
    EXPECT_EQ(answer->status, 403);
    if (std::string_view(method) != "HEAD") {
      EXPECT_NE(answer->body.find("The Host 'evil.example:" + port + "' is not this machine"),
                std::string::npos)
          << answer->body;
    }
  }
  EXPECT_TRUE(host_.calls().empty());
  EXPECT_EQ(server_->open_event_streams(), 0);

  for (const std::string& name :
       {std::string("127.0.0.1"), "localhost:" + port, std::string("LOCALHOST"), "[::1]:" + port}) {
    auto answer = client.Get("/t/v1/created", {{"Host", name}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 201) << name;
  }
}

TEST_F(HttpServerTest, AServerOnAnyAddressAnswersEveryHost) {
  EXPECT_TRUE(server_->listens_on_loopback());
  const int port = Restart(HttpServerOptions{}, "0.0.0.0");
  ASSERT_NE(port, 0);
  EXPECT_FALSE(server_->listens_on_loopback());
  httplib::Client client("127.0.0.1", port);
  auto answer = client.Get("/t/v1/created", {{"Host", "devbox.lan"}});
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 201);
}

TEST_F(HttpServerTest, ABodyTrickledPastItsDeadlineGets408) {
  HttpServerOptions options;
  options.header_timeout_ms = 30000;
  options.body_timeout_ms = 300;
  const int port = Restart(options);
  ASSERT_NE(port, 0);

  std::string error;
  std::unique_ptr<Platform::TcpConnection> sender =
      Platform::TcpConnection::Connect("127.0.0.1", port, &error);
  ASSERT_NE(sender, nullptr) << error;
  ASSERT_TRUE(sender->Send(
      "POST /t/v1/echo HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n"
      "Content-Length: 1000\r\n\r\n"));
  // One byte every 100 ms: the body would take 100 s, the head's deadline
  // 30 s; the body's deadline ends it after 0.3 s.
  std::string received;
  for (int sent = 0; sent < 100 && received.find("\r\n\r\n") == std::string::npos; ++sent) {
    if (sender->closed() || !sender->Send("x")) break;
    received += sender->ReceiveSome(100);
  }
  if (received.find("\r\n\r\n") == std::string::npos) {
    received += sender->ReceiveUntil("\r\n\r\n", 5000);
  }
  EXPECT_EQ(received.substr(0, 12), "HTTP/1.1 408") << received;
}

TEST_F(HttpServerTest, AConnectionThatSendsNothingIsClosedSilentlyAtTheHeadDeadline) {
  HttpServerOptions options;
  options.header_timeout_ms = 200;
  const int port = Restart(options);
  ASSERT_NE(port, 0);
  std::string error;
  std::unique_ptr<Platform::TcpConnection> idle =
      Platform::TcpConnection::Connect("127.0.0.1", port, &error);
  ASSERT_NE(idle, nullptr) << error;
  EXPECT_EQ(idle->ReceiveUntil("", 20000), "");
  EXPECT_TRUE(idle->closed());
}

}  // namespace
}  // namespace Kestrel::DevHost
