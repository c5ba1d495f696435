#include "plugin/host/outgoing_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "binding/core_value_conversion.h"
#include "devhost/host/core_host.h"
#include "host_abi/core_value.h"
#include "plugin/host/telemetry.h"
#include "tests/support/host_test_module.h"
#include "util/counting_allocator.h"

namespace Kestrel::Client::HostTest {
struct Unconvertible {
  int32_t value = 0;
};
}  // namespace Kestrel::Client::HostTest

VYN_STATIC_TYPE(Kestrel::Client::HostTest::Unconvertible,
                "struct Kestrel::Client::HostTest::Unconvertible");

namespace Kestrel::Client::HostTest {
namespace {

// A response stream scripted as a list of reads: the bytes of each read and
// whether "more" is left set after it; `fail_at` makes that read fail.
struct FakeStream {
  std::vector<std::pair<std::string, bool>> reads;
  size_t next = 0;
  size_t fail_at = SIZE_MAX;
  int released = 0;

  static uint8_t VYN_CDECL Read(void* object, char* buffer, uint32_t* length, uint8_t* more) {
    auto* stream = static_cast<FakeStream*>(object);
    EXPECT_EQ(*length, 4096u);
    if (stream->next == stream->fail_at || stream->next >= stream->reads.size()) return 0;
    const auto& [bytes, more_left] = stream->reads[stream->next++];
    std::memcpy(buffer, bytes.data(), bytes.size());
    *length = static_cast<uint32_t>(bytes.size());
    *more = more_left ? 1 : 0;
    return 1;
  }
  static void VYN_CDECL Release(void* object) { ++static_cast<FakeStream*>(object)->released; }
};

int g_releases = 0;
void VYN_CDECL CountRelease(CoreResponse* response) {
  ++g_releases;
  ReleaseCoreValue(&response->value);
  CountingFree(response->error_text);
  std::memset(static_cast<void*>(response), 0, sizeof(CoreResponse));
}

// Fills error responses with an owned error text.
void FillError(CoreResponse* response, const char* text, uint32_t status) {
  response->error_text = CopyOwnedText(text);
  response->error_flag = 1;
  response->status_code = status;
  response->release = &CountRelease;
}

class OutgoingRequest : public testing::Test {
 protected:
  void SetUp() override { g_releases = 0; }

  // Answers with `stream` (and a value "ignored" beside it).
  void AnswerWithStream(FakeStream* stream, uint64_t declared_size) {
    module_.respond = [stream, declared_size](CoreResponse* response, const CoreRequest*) {
      (void)SetOwnedString(&response->value, "\"ignored\"");
      response->stream = stream;
      response->stream_read = &FakeStream::Read;
      response->stream_release = &FakeStream::Release;
      response->stream_size = declared_size;
      response->status_code = 200;
      response->release = &CountRelease;
    };
  }

  ScriptedModule module_;
};

TEST_F(OutgoingRequest, SendsPositionalArgumentsWithTheCallerId) {
  std::vector<std::string> seen;
  module_.respond = [&](CoreResponse* response, const CoreRequest* request) {
    EXPECT_EQ(request->method, 6u);
    EXPECT_STREQ(request->path, "/other/v1/item?x=1");
    EXPECT_EQ(request->caller_id, module_.plugin_id());
    EXPECT_EQ(request->headers, nullptr);
    EXPECT_EQ(request->body, nullptr);
    ASSERT_EQ(request->argument_count, 3u);
    for (uint32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(request->arguments[i].name, nullptr);
      BindingProperty value;
      ASSERT_TRUE(FromCoreValue(request->arguments[i].value, value, "a", nullptr));
      seen.push_back(std::string(value.GetString()) + "/" + std::to_string(value.GetSigned()));
    }
    response->release = &CountRelease;
  };
  MaybeType<void> sent = Request(module_.requests(), HttpMethod::kPost, "/other/v1/item?x=1",
                                 std::string("a"), int32_t{5}, Item{"n", 1});
  EXPECT_TRUE(sent.has_value());
  EXPECT_EQ(seen, (std::vector<std::string>{"a/0", "/5", "/0"}));
  EXPECT_EQ(g_releases, 1);
}

TEST_F(OutgoingRequest, FailuresCarryTheirCodeAndTheResponseIsReleased) {
  // An argument that cannot be converted: 400, nothing sent.
  MaybeType<void> unsent =
      Request(module_.requests(), HttpMethod::kPost, "/p", std::string("ok"), Unconvertible{});
  ASSERT_TRUE(unsent.is_failure());
  EXPECT_EQ(unsent.failure().code(), 400);
  EXPECT_STREQ(unsent.failure().message(),
               "Request not sent: Error converting parameters for POST /p: Couldn't convert "
               "native value because it's an unregistered structure.");
  EXPECT_EQ(module_.sent_requests, 0);

  // An error response gives its status, or 0 without one.
  module_.respond = [](CoreResponse* response, const CoreRequest*) {
    FillError(response, "no such game", 404);
  };
  MaybeType<std::string> missing =
      RequestValue<std::string>(module_.requests(), HttpMethod::kGet, "/g");
  ASSERT_TRUE(missing.is_failure());
  EXPECT_EQ(missing.failure().code(), 404);
  EXPECT_STREQ(missing.failure().message(), "Error response for GET /g: no such game");
  module_.respond = [](CoreResponse* response, const CoreRequest*) {
    FillError(response, "down", 0);
  };
  MaybeType<void> down = Request(module_.requests(), HttpMethod::kPost, "/p");
  ASSERT_TRUE(down.is_failure());
  EXPECT_EQ(down.failure().code(), 0);
  EXPECT_EQ(g_releases, 2);

  // A value that does not fit the result type.
  module_.respond = [](CoreResponse* response, const CoreRequest*) {
    (void)SetOwnedString(&response->value, "many");
    response->status_code = 200;
    response->release = &CountRelease;
  };
  MaybeType<int32_t> number = RequestValue<int32_t>(module_.requests(), HttpMethod::kPost, "/n");
  ASSERT_TRUE(number.is_failure());
  EXPECT_EQ(number.failure().code(), 200);
  EXPECT_EQ(
      std::string(number.failure().message()).rfind("Error converting response for POST /n: ", 0),
      0u);
  MaybeType<std::string> text =
      RequestValue<std::string>(module_.requests(), HttpMethod::kPost, "/n");
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(text.value(), "many");
  EXPECT_EQ(g_releases, 4);

  // A host value of an unknown kind.
  module_.respond = [](CoreResponse* response, const CoreRequest*) {
    response->value.kind = static_cast<CoreValueKind>(77);
    response->release = &CountRelease;
  };
  MaybeType<int32_t> odd = RequestValue<int32_t>(module_.requests(), HttpMethod::kPost, "/n");
  ASSERT_TRUE(odd.is_failure());
  EXPECT_EQ(
      std::string(odd.failure().message()).rfind("Error converting response for POST /n: ", 0), 0u);
}

TEST_F(OutgoingRequest, FullStreamReadsNeverYieldAndTheStreamIsPreferred) {
  const std::string full(4096, ' ');
  FakeStream stream;
  stream.reads = {{"[1," + full.substr(3), true}, {full, true}, {"2]", false}};
  AnswerWithStream(&stream, 8194);
  MaybeType<std::vector<int32_t>> numbers =
      RequestValue<std::vector<int32_t>>(module_.requests(), HttpMethod::kPost, "/s");
  ASSERT_TRUE(numbers.has_value()) << numbers.ToText();
  EXPECT_EQ(numbers.value(), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(module_.yields, 0);
  EXPECT_EQ(stream.released, 1);
  EXPECT_EQ(g_releases, 1);
}

TEST_F(OutgoingRequest, ShortReadsWithMoreYieldOncePerRead) {
  FakeStream stream;
  stream.reads = {{"[", true}, {"", true}, {"3", true}, {"]", false}};
  AnswerWithStream(&stream, 3);
  MaybeType<std::vector<int32_t>> numbers =
      RequestValue<std::vector<int32_t>>(module_.requests(), HttpMethod::kPost, "/s");
  ASSERT_TRUE(numbers.has_value()) << numbers.ToText();
  EXPECT_EQ(numbers.value(), std::vector<int32_t>{3});
  EXPECT_EQ(module_.yields, 3);
  EXPECT_EQ(module_.begin_waits, 3);
  EXPECT_EQ(module_.end_waits, 3);
}

TEST_F(OutgoingRequest, AnUntrustworthyDeclaredSizeDoesNotFailTheRead) {
  FakeStream stream;
  stream.reads = {{"\"small\"", false}};
  AnswerWithStream(&stream, uint64_t{4} << 30);  // 4 GB claimed, 7 bytes sent
  MaybeType<std::string> text =
      RequestValue<std::string>(module_.requests(), HttpMethod::kPost, "/s");
  ASSERT_TRUE(text.has_value()) << text.ToText();
  EXPECT_EQ(text.value(), "small");

  FakeStream huge;
  huge.reads = {{"\"x\"", false}};
  AnswerWithStream(&huge, UINT64_MAX);
  EXPECT_TRUE(RequestValue<std::string>(module_.requests(), HttpMethod::kPost, "/s").has_value());
}

TEST_F(OutgoingRequest, StreamReadAndParseFailures) {
  FakeStream failing;
  failing.reads = {{"[1", true}, {",2]", false}};
  failing.fail_at = 1;
  AnswerWithStream(&failing, 0);
  MaybeType<std::vector<int32_t>> read =
      RequestValue<std::vector<int32_t>>(module_.requests(), HttpMethod::kPost, "/s");
  ASSERT_TRUE(read.is_failure());
  EXPECT_EQ(read.failure().code(), 200);
  EXPECT_STREQ(read.failure().message(),
               "Error reading streamed response for POST /s: Stream read error");
  EXPECT_EQ(failing.released, 1);

  FakeStream garbled;
  garbled.reads = {{"[1,", false}};
  AnswerWithStream(&garbled, 0);
  MaybeType<std::vector<int32_t>> parsed =
      RequestValue<std::vector<int32_t>>(module_.requests(), HttpMethod::kPost, "/s");
  ASSERT_TRUE(parsed.is_failure());
  EXPECT_EQ(std::string(parsed.failure().message())
                .rfind("Error reading streamed response for POST /s: ", 0),
            0u);
  EXPECT_EQ(garbled.released, 1);
  EXPECT_EQ(g_releases, 2);
}

TEST(Telemetry, PostsThePayloadToTheEventPath) {
  DevHost::CoreHost host;
  ASSERT_TRUE(host.Load(&LoadTestModule).has_value());
  ASSERT_TRUE(host.Initialize().has_value());
  TestModule* module = ModuleOf(host);
  host.SetRequestHandler(
      Kestrel::kMethodPost, "/telemetry/v1/events/x",
      [](const DevHost::RecordedRequest&) { return DevHost::ScriptedResponse::Nil(); });
  BindingProperty payload;
  payload.Field("seconds").SetSigned(12);
  auto sent = module->telemetry()->SendTelemetry("x", payload);
  EXPECT_TRUE(module->Await(sent).has_value());
  auto requests = host.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].ArgumentsJson(), R"([{"seconds":12}])");
  EXPECT_EQ(requests[0].caller_id, module->plugin_id());

  // No handler for "y": the host answers 404, which the future carries.
  auto failed = module->telemetry()->SendTelemetry("y", payload);
  MaybeType<void> outcome = module->Await(failed);
  ASSERT_TRUE(outcome.is_failure());
  EXPECT_EQ(outcome.failure().code(), 404);
}

}  // namespace
}  // namespace Kestrel::Client::HostTest
