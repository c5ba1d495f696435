#include "remoting/dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "binding/type_registry.h"
#include "host_abi/core_value.h"
#include "host_abi/http_method.h"
#include "remoting/api_description.h"
#include "remoting/call_result.h"
#include "remoting/function_handler.h"
#include "remoting/remoting_endpoints.h"
#include "remoting/remoting_request.h"
#include "remoting/typed_result.h"
#include "tests/support/dispatch_support.h"
#include "tests/support/walk_probe.h"
#include "util/counting_allocator.h"

namespace Kestrel {
namespace {

using RemotingTest::RequestBuilder;
using RemotingTest::ResponseHolder;

bool AllZero(const Client::CoreResponse& response) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&response);
  for (std::size_t i = 0; i < sizeof(response); ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// A stream that counts its destructions and serves a fixed text.
class CountingStream : public ResponseStream {
 public:
  CountingStream(int* destroyed, std::string text)
      : destroyed_(destroyed), text_(std::move(text)) {}
  ~CountingStream() override { ++*destroyed_; }
  uint8_t Read(char* buffer, uint32_t* length, uint8_t* more) override {
    const uint32_t count = *length < text_.size() ? *length : static_cast<uint32_t>(text_.size());
    std::memcpy(buffer, text_.data(), count);
    text_.erase(0, count);
    *length = count;
    *more = text_.empty() ? 0 : 1;
    return 1;
  }
  uint32_t Size() override { return static_cast<uint32_t>(text_.size()); }

 private:
  int* destroyed_;
  std::string text_;
};

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() : endpoints_(registry_, &gate_) {}

  // Calls the function `name` through `Dispatch` with a route list of one.
  void Call(std::string_view name, RequestBuilder& request, ResponseHolder& response) {
    const FunctionRoute* route = endpoints_.routes().Find(name);
    ASSERT_NE(route, nullptr) << name;
    const FunctionRoute* routes[] = {route};
    Dispatch(response.get(), &request.Build(), routes);
  }

  // What a call through a descriptor answered: its value as JSON or its error.
  struct Answer {
    std::string value;
    std::string error;
    uint32_t status = 0;
  };
  Answer CallThroughDescriptor(std::string_view function, const char* path) {
    Answer answer;
    auto context = endpoints_.contexts().find(function);
    if (context == endpoints_.contexts().end()) return answer;
    RequestBuilder request(kMethodGet, path);
    request.Context(const_cast<FunctionContext*>(&context->second));
    ResponseHolder response;
    CallFunctionDescriptor(response.get(), &request.Build());
    answer.status = response.status();
    if (response.failed()) {
      answer.error = response.error();
    } else {
      answer.value = response.json();
    }
    return answer;
  }

  // Counts the destructions its owner would get.
  int destroyed_ = 0;
  CallGate gate_{[](void* owner) { ++*static_cast<int*>(owner); }, &destroyed_};
  TypeRegistry registry_;
  RemotingEndpoints endpoints_;
};

TEST_F(DispatchTest, LiteralAndPatternRoutesMatchOrAnswerInvalidFunction) {
  endpoints_.Get("/status", []() -> MaybeType<std::string> { return std::string("up"); });
  endpoints_.Get("/items/{id}", [](std::string id) -> MaybeType<std::string> { return id; })
      .Argument("id", "", ArgumentLocation::kPath);
  endpoints_.Get("/files/{+path}", [](std::string path) -> MaybeType<std::string> { return path; })
      .Argument("path");
  endpoints_.Get("/x/{#frag}", [](std::string frag) -> MaybeType<std::string> { return frag; })
      .Argument("frag");
  endpoints_.RegisterFunction("Echo", []() -> MaybeType<int32_t> { return 7; });

  struct Case {
    const char* function;
    const char* path;
    const char* json;  // nullptr: no route matches
  };
  const Case cases[] = {
      {"GetStatus", "/status", "\"up\""},
      {"GetStatus", "/status?x=1", nullptr},  // a literal route compares the whole text
      {"GetStatus", "/Status", nullptr},
      {"GetItemsById", "/items/5", "\"5\""},
      {"GetItemsById", "/items/a%20b+c", "\"a b c\""},
      {"GetItemsById", "/items/5/6", nullptr},
      {"GetItemsById", "/item/5", nullptr},
      {"GetFilesByPath", "/files/a/b", "\"a/b\""},
      {"GetXBy#frag", "/x/#top", "\"top\""},
      {"GetXBy#frag", "/x/top", nullptr},
      {"Echo", "Echo", "7"},  // no path: the function's name is the route
      {"Echo", "Echo?n=7", nullptr},
      {"Echo", "/Echo", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RequestBuilder request(kMethodGet, c.path);
    ResponseHolder response;
    Call(c.function, request, response);
    EXPECT_EQ(Client::CoreResponseReleaseFunction{response.raw().release}, &ResetResponse);
    if (c.json == nullptr) {
      EXPECT_EQ(response.error(), "Invalid function");
      EXPECT_EQ(response.status(), 404u);
      EXPECT_EQ(response.raw().value.kind, Client::CoreValueKind::kNil);
      ASSERT_NE(static_cast<const char*>(response.raw().content_type), nullptr);
      EXPECT_STREQ(response.raw().content_type, "");
    } else {
      EXPECT_FALSE(response.failed()) << response.error();
      EXPECT_EQ(response.json(), c.json);
      EXPECT_EQ(response.status(), 0u);
    }
  }
}

TEST_F(DispatchTest, MethodRulesOfRoutes) {
  endpoints_.Get("/a", []() -> MaybeType<int32_t> { return 1; });
  endpoints_.RegisterFunction("Any", []() -> MaybeType<int32_t> { return 2; });
  endpoints_.Register(HttpMethod::kNone, "/b", []() -> MaybeType<int32_t> { return 3; })
      .SetCustomMethod("PURGE");

  struct Case {
    const char* function;
    const char* path;
    uint32_t method;
    const char* method_name;  // nullptr: none given
    bool matches;
  };
  const Case cases[] = {
      {"GetA", "/a", kMethodGet, nullptr, true},
      {"GetA", "/a", kMethodPost, nullptr, false},
      {"GetA", "/a", 9, nullptr, false},      // 9 reads as 0, which is not GET
      {"GetA", "/a", 0x102, nullptr, false},  // so does any larger value
      {"Any", "Any", 9, nullptr, true},       // a route without method takes every method
      {"Any", "Any", kMethodPost, nullptr, true},
      {"Any", "Any", 8, "PATCHY", true},
      {"B", "/b", 8, "PURGE", true},
      {"B", "/b", 8, "purge", false},
      {"B", "/b", 8, nullptr, false},
      {"B", "/b", kMethodGet, "PURGE", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.function << " " << c.method);
    RequestBuilder request(c.method, c.path);
    if (c.method_name != nullptr) request.MethodName(c.method_name);
    ResponseHolder response;
    Call(c.function, request, response);
    EXPECT_EQ(!response.failed(), c.matches) << response.error();
    EXPECT_EQ(response.status(), c.matches ? 0u : 404u);
  }
}

TEST_F(DispatchTest, HandlerFailuresCarryMessageAndStatus) {
  endpoints_.Get("/fail500",
                 []() -> MaybeType<int32_t> { return Failure(500, "Broken %1", "pump"); });
  endpoints_.Get("/fail0", []() -> MaybeType<int32_t> { return Failure("No luck"); });
  endpoints_.Get("/fail-static", []() -> MaybeType<void> {
    return Failure(Failure::StaticText(), "100% static", 409);
  });
  endpoints_.Get("/nothing", []() -> MaybeType<void> { return {}; });

  struct Case {
    const char* function;
    const char* path;
    const char* error;
    uint32_t status;
  };
  const Case cases[] = {
      {"GetFail500", "/fail500", "Broken pump", 500},
      {"GetFail0", "/fail0", "No luck", 0},
      {"GetFailStatic", "/fail-static", "100% static", 409},
      {"GetNothing", "/nothing", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RequestBuilder request(kMethodGet, c.path);
    ResponseHolder response;
    Call(c.function, request, response);
    EXPECT_EQ(response.failed(), c.error[0] != '\0');
    EXPECT_EQ(response.error(), c.error);
    EXPECT_EQ(response.status(), c.status);
    EXPECT_EQ(response.raw().value.kind, Client::CoreValueKind::kNil);
    ASSERT_NE(static_cast<const char*>(response.raw().content_type), nullptr);
    EXPECT_STREQ(response.raw().content_type, "");
  }
}

TEST_F(DispatchTest, TypedResultsAnswerAsTheMaybeTypeTheyHold) {
  endpoints_
      .Get("/double/{n}",
           [](int32_t n) -> RemotingTypedResult<int32_t> {
             if (n < 0) return Failure(422, "Negative %1", n);
             return n * 2;
           })
      .Argument("n", "", ArgumentLocation::kPath);
  EXPECT_EQ(registry_.FindFunction("GetDoubleByN")->result_type.primary.kind, NativeKind::kInt32);

  struct Case {
    const char* path;
    const char* json;  // "" for no value
    const char* error;
    uint32_t status;
  };
  const Case cases[] = {
      {"/double/21", "42", "", 0},
      {"/double/-1", "", "Negative -1", 422},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RequestBuilder request(kMethodGet, c.path);
    ResponseHolder response;
    Call("GetDoubleByN", request, response);
    EXPECT_EQ(response.error(), c.error);
    EXPECT_EQ(response.status(), c.status);
    EXPECT_EQ(response.json(), c.json);
  }
}

TEST_F(DispatchTest, HandlerSetsContentTypeHeadersAndStream) {
  int destroyed = 0;
  endpoints_.Get("/download", [&destroyed](CallResult& result) -> MaybeType<void> {
    result.content_type = "application/octet-stream";
    result.headers["X-Part"] = "1";
    result.status_code = 206;
    result.result_flag = 1;
    result.body_encoding = 3;
    result.stream = std::make_unique<CountingStream>(&destroyed, "hello world");
    return {};
  });
  RequestBuilder request(kMethodGet, "/download");
  ResponseHolder response;
  Call("GetDownload", request, response);
  const Client::CoreResponse& raw = response.raw();
  EXPECT_FALSE(response.failed());
  EXPECT_STREQ(raw.content_type, "application/octet-stream");
  ASSERT_EQ(uint32_t{raw.header_count}, 1u);
  EXPECT_STREQ(raw.headers[0].name, "X-Part");
  EXPECT_STREQ(raw.headers[0].value, "1");
  EXPECT_EQ(uint32_t{raw.status_code}, 206u);
  EXPECT_EQ(raw.result_flag, 1);
  EXPECT_EQ(uint32_t{raw.body_encoding}, 3u);
  ASSERT_NE(static_cast<void*>(raw.stream), nullptr);
  EXPECT_EQ(uint64_t{raw.stream_size}, 11u);

  char buffer[8];
  uint32_t length = sizeof(buffer);
  uint8_t more = 0;
  EXPECT_EQ(raw.stream_read(raw.stream, buffer, &length, &more), 1);
  EXPECT_EQ(std::string(buffer, length), "hello wo");
  EXPECT_EQ(more, 1);
  length = sizeof(buffer);
  EXPECT_EQ(raw.stream_read(raw.stream, buffer, &length, &more), 1);
  EXPECT_EQ(std::string(buffer, length), "rld");
  EXPECT_EQ(more, 0);
  EXPECT_EQ(destroyed, 0);
  response.Release();
  EXPECT_EQ(destroyed, 1);
}

TEST_F(DispatchTest, RequestRecordReachesHandlersOfBothTypes) {
  RemotingRequest seen;
  HttpBaseTransport::Request seen_base;
  endpoints_
      .Post("/who/{id}",
            [&seen](const RemotingRequest& request, int32_t id) -> MaybeType<int32_t> {
              seen = request;
              return id;
            })
      .Argument("id");
  endpoints_
      .RegisterFunction("Base",
                        [&seen_base](std::string tag,
                                     HttpBaseTransport::Request request) -> MaybeType<std::string> {
                          seen_base = request;
                          return tag;
                        })
      .Argument("tag");

  const uint64_t before = RequestTimestampNow();
  RequestBuilder who(kMethodPost, "/who/42?x");
  who.Header("Accept", "a").Header("accept", "b").Header("Accept", "c").CallerId(77);
  ResponseHolder response;
  // The query names no argument: the call fails before the handler runs.
  Call("PostWhoById", who, response);
  EXPECT_EQ(response.error(), "Unknown argument 'x' for 'PostWhoById'.");
  EXPECT_EQ(seen.caller_id, 0u);

  RequestBuilder who_again(kMethodPost, "/who/42");
  who_again.Header("Accept", "a").Header("accept", "b").Header("Accept", "c").CallerId(77);
  ResponseHolder second;
  Call("PostWhoById", who_again, second);
  const uint64_t after = RequestTimestampNow();
  EXPECT_EQ(second.json(), "42");
  EXPECT_EQ(seen.caller_id, 77u);
  EXPECT_EQ(seen.registry, &registry_);
  EXPECT_GE(seen.timestamp, before);
  EXPECT_LE(seen.timestamp, after);
  EXPECT_EQ(seen.method, HttpMethod::kPost);
  EXPECT_EQ(seen.method_name, "");
  EXPECT_EQ(seen.path, "/who/42");
  EXPECT_EQ(seen.headers.size(), 2u);
  EXPECT_EQ(seen.headers["Accept"], "c");
  EXPECT_EQ(seen.headers["accept"], "b");

  RequestBuilder base(8, "Base");
  base.MethodName("FETCH").Argument(nullptr, Client::MakeBorrowedStringValue("t"));
  ResponseHolder third;
  Call("Base", base, third);
  EXPECT_EQ(third.json(), "\"t\"");
  EXPECT_EQ(seen_base.method, HttpMethod::kCustom);
  EXPECT_EQ(seen_base.method_name, "FETCH");
  EXPECT_EQ(seen_base.path, "Base");
  // Ticks of 100 ns since 1970: later than 2020-01-01 (1577836800 s).
  EXPECT_GT(seen_base.timestamp, uint64_t{1577836800} * 10'000'000);
}

TEST_F(DispatchTest, ExceptionsBecomeInternalErrorsAtTheCallBack) {
  endpoints_.Get("/oom", []() -> MaybeType<int32_t> { throw std::bad_alloc(); });
  endpoints_.Get("/long",
                 []() -> MaybeType<int32_t> { throw std::length_error("vector too long"); });
  endpoints_.Get("/odd", []() -> MaybeType<int32_t> { throw 5; });
  endpoints_.BuildApiDescription();

  struct Case {
    const char* function;
    const char* path;
    const char* error;
  };
  const Case cases[] = {
      {"GetOom", "/oom", "Internal error: std::bad_alloc"},
      {"GetLong", "/long", "Internal error: vector too long"},
      {"GetOdd", "/odd", "Internal error: unknown exception"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    auto context = endpoints_.contexts().find(c.function);
    ASSERT_NE(context, endpoints_.contexts().end());
    RequestBuilder request(kMethodGet, c.path);
    request.Context(const_cast<FunctionContext*>(&context->second));
    ResponseHolder response;
    CallFunctionDescriptor(response.get(), &request.Build());
    EXPECT_EQ(response.error(), c.error);
    EXPECT_EQ(response.status(), 500u);
    EXPECT_EQ(Client::CoreResponseReleaseFunction{response.raw().release}, &ResetResponse);
  }

  // No context at all: nothing to call.
  RequestBuilder request(kMethodGet, "/oom");
  ResponseHolder response;
  CallFunctionDescriptor(response.get(), &request.Build());
  EXPECT_EQ(response.error(), "Invalid function");
  EXPECT_EQ(response.status(), 404u);
}

TEST_F(DispatchTest, TheGateKeepsItsOwnerUntilTheLastCallLeaves) {
  int runs = 0;
  endpoints_.Get("/plain", [&runs]() -> MaybeType<int32_t> { return ++runs; });
  Answer nested;
  int destroyed_inside = -1;
  // Shuts down as the host does while this call is in progress, calls again
  // as another host thread would, then ends with its own failure.
  endpoints_.Get("/shutdown", [&]() -> MaybeType<int32_t> {
    gate_.Close();
    gate_.ReleaseHostReference();
    nested = CallThroughDescriptor("GetPlain", "/plain");
    destroyed_inside = destroyed_;
    return Failure(503, "Own failure");
  });
  endpoints_.BuildApiDescription();

  const Answer plain = CallThroughDescriptor("GetPlain", "/plain");
  EXPECT_EQ(plain.value, "1");
  const Answer ended = CallThroughDescriptor("GetShutdown", "/shutdown");
  EXPECT_EQ(ended.error, "Own failure");  // a call already inside answers as it would have
  EXPECT_EQ(ended.status, 503u);
  EXPECT_EQ(nested.error, "Finalizing");  // a call after shutdown runs nothing
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(destroyed_inside, 0);
  EXPECT_EQ(destroyed_, 1);  // when the last call left
}

TEST_F(DispatchTest, ReleasingTheResponseFreesEverythingTheCallAllocated) {
  endpoints_.Get("/doc", [](CallResult& result) -> MaybeType<std::vector<std::string>> {
    result.content_type = "application/json";
    result.headers["A"] = "1";
    result.headers["B"] = "2";
    return std::vector<std::string>{"x", "y"};
  });
  endpoints_.Get("/bad", []() -> MaybeType<int32_t> { return Failure(400, "Bad"); });
  for (const char* path : {"/doc", "/bad"}) {
    SCOPED_TRACE(path);
    const std::string name = path == std::string("/doc") ? "GetDoc" : "GetBad";
    RequestBuilder request(kMethodGet, path);
    {
      ResponseHolder warm_up;  // first use fills process-wide caches
      Call(name, request, warm_up);
    }
    ResponseHolder response;
    const AllocatorCounters before = ReadAllocatorCounters();
    Call(name, request, response);
    const bool failed = response.failed();
    response.Release();
    const AllocatorCounters after = ReadAllocatorCounters();
    EXPECT_EQ(after.live_allocations(), before.live_allocations());
    EXPECT_EQ(after.live_bytes(), before.live_bytes());
    EXPECT_EQ(failed, name == "GetBad");
    EXPECT_TRUE(AllZero(response.raw()));
  }
}

TEST(WriteResponseTest, CopiesEveryPartAndResetZeroesTwice) {
  CallResult result;
  result.outcome.Field("k").SetSigned(-4);
  result.result_flag = 9;
  result.status_code = 201;
  result.content_type = "text/plain";
  result.headers = {{"A", "1"}, {"B", "2"}};
  for (const auto& [encoding, expected] : std::vector<std::pair<uint32_t, uint32_t>>{
           {0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 0}, {~0u, 0}}) {
    SCOPED_TRACE(encoding);
    result.body_encoding = encoding;
    ResponseHolder response;
    WriteResponse(response.get(), result, nullptr);
    const Client::CoreResponse& raw = response.raw();
    EXPECT_EQ(raw.error_flag, 0);
    EXPECT_EQ(response.json(), R"({"k":-4})");
    EXPECT_EQ(raw.result_flag, 9);
    EXPECT_EQ(uint32_t{raw.body_encoding}, expected);
    EXPECT_EQ(uint32_t{raw.status_code}, 201u);
    EXPECT_STREQ(raw.content_type, "text/plain");
    EXPECT_NE(static_cast<const char*>(raw.content_type), result.content_type.c_str());
    ASSERT_EQ(uint32_t{raw.header_count}, 2u);
    std::set<std::pair<std::string, std::string>> headers;
    for (uint32_t i = 0; i < raw.header_count; ++i) {
      headers.emplace(raw.headers[i].name, raw.headers[i].value);
    }
    EXPECT_EQ(headers, (std::set<std::pair<std::string, std::string>>{{"A", "1"}, {"B", "2"}}));
    ResetResponse(response.get());
    EXPECT_TRUE(AllZero(raw));
    ResetResponse(response.get());
    EXPECT_TRUE(AllZero(raw));
  }
  ResetResponse(nullptr);
}

TEST(WriteResponseTest, FailedOutcomeAndStreamOwnership) {
  int destroyed = 0;
  CallResult failed;
  failed.outcome.SetString("partial");
  failed.stream = std::make_unique<CountingStream>(&destroyed, "abc");
  SetFailure(failed, "Nope");
  EXPECT_EQ(destroyed, 1);  // a failed call never streams
  EXPECT_EQ(failed.stream, nullptr);
  ResponseHolder response;
  WriteResponse(response.get(), failed, nullptr);
  EXPECT_EQ(response.error(), "Nope");
  EXPECT_EQ(response.status(), 0u);
  EXPECT_EQ(response.raw().value.kind, Client::CoreValueKind::kNil);
  EXPECT_STREQ(response.raw().content_type, "");
  EXPECT_EQ(static_cast<void*>(response.raw().stream), nullptr);
  // Written without `Dispatch`, the response has no release function of its own.
  ResetResponse(response.get());

  CallResult streaming;
  streaming.stream = std::make_unique<CountingStream>(&destroyed, "abcdef");
  ResponseHolder streamed;
  WriteResponse(streamed.get(), streaming, nullptr);
  EXPECT_EQ(streaming.stream, nullptr);
  void* stream = streamed.raw().stream;
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(uint64_t{streamed.raw().stream_size}, 6u);
  Client::CoreStreamReleaseFunction release_stream = streamed.raw().stream_release;
  // The response's own release leaves the stream to the host.
  ResetResponse(streamed.get());
  EXPECT_EQ(destroyed, 1);
  release_stream(stream);
  EXPECT_EQ(destroyed, 2);

  CallResult parse_failure;
  PropertyResult parsed;
  parsed.SetError("Error: bad at offset 3.");
  parse_failure.stream = std::make_unique<CountingStream>(&destroyed, "x");
  TakeFailedParse(parse_failure, parsed);
  EXPECT_EQ(destroyed, 3);
  EXPECT_EQ(parse_failure.outcome.GetError(), "Error: bad at offset 3.");
}

TEST(WriteResponseTest, HeldNativeValueAnswersAsItsTree) {
  TypeRegistry registry;
  WalkProbe::RegisterProbes(registry);
  // The response of a held value, written directly or through its tree.
  const auto answer = [&registry](auto value, bool through_tree) {
    CallResult result;
    using Held = HeldReturnedOutcome<MaybeType<decltype(value)>>;
    result.native.emplace<Held>([&value] { return std::move(value); }, registry, nullptr);
    if (through_tree) {
      MaterializeOutcome(result);
      EXPECT_EQ(result.native, nullptr);
    }
    ResponseHolder response;
    response.get()->release = &ResetResponse;
    WriteResponse(response.get(), result, &registry);
    return response.failed() ? "error: " + response.error() : response.json();
  };
  EXPECT_EQ(answer(WalkProbe::FilledAll(), false), answer(WalkProbe::FilledAll(), true));
  EXPECT_EQ(answer(WalkProbe::Twice{}, false), R"({"same":"two"})");
  EXPECT_EQ(answer(WalkProbe::HoldsUnknown{}, false),
            "error: Couldn't convert native value because it's an unregistered structure.");

  CallResult failed;
  failed.native.emplace<HeldReturnedOutcome<MaybeType<int>>>([] { return 3; }, registry, nullptr);
  SetFailure(failed, "Nope");
  EXPECT_EQ(failed.native, nullptr);
}

TEST(ReportResponseErrorTest, ReplacesValueAndEarlierError) {
  ResponseHolder response;
  Client::CoreResponse* raw = response.get();
  raw->release = &ResetResponse;
  ASSERT_TRUE(Client::SetOwnedString(&raw->value, "value"));
  ReportResponseError(raw, "first");
  ReportResponseError(raw, "second");
  EXPECT_EQ(raw->value.kind, Client::CoreValueKind::kNil);
  EXPECT_EQ(response.error(), "second");
}

// Two calls leave at the same moment after the host's reference is gone: the
// one whose decrement brings the count to zero destroys the owner, once. Two
// threads meet at a spinning barrier, then leave the same 64 gates in the
// same order, so that they leave together whenever both run; as many rounds
// as fit in two seconds.
TEST(CallGateTest, TwoCallsLeavingAtOnceDestroyTheOwnerOnce) {
  struct SpinBarrier {
    std::atomic<int> arrived{0};
    std::atomic<int> generation{0};
    void Wait() {
      const int current = generation.load();
      if (arrived.fetch_add(1) == 1) {
        arrived = 0;
        ++generation;
        return;
      }
      while (generation.load() == current) {
      }
    }
  } barrier;
  constexpr int kGates = 64;
  std::atomic<int> destroyed{0};
  std::unique_ptr<CallGate> gates[kGates];
  bool stop = false;  // written by the leader before a barrier
  int rounds = 0;
  int wrong = 0;
  const auto budget = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  auto run = [&](bool leader) {
    for (int round = 1;; ++round) {
      if (leader) {
        stop = std::chrono::steady_clock::now() > budget;
        for (int i = 0; i < kGates && !stop; ++i) {
          gates[i] = std::make_unique<CallGate>(
              [](void* count) { ++*static_cast<std::atomic<int>*>(count); }, &destroyed);
          (void)gates[i]->Enter();
          (void)gates[i]->Enter();
          gates[i]->ReleaseHostReference();
        }
      }
      barrier.Wait();
      if (stop) return;
      for (std::unique_ptr<CallGate>& gate : gates) gate->Leave();
      barrier.Wait();
      if (leader) {
        if (destroyed.exchange(0) != kGates) ++wrong;
        rounds = round;
      }
    }
  };
  std::thread other(run, false);
  run(true);
  other.join();
  EXPECT_EQ(wrong, 0) << "of " << rounds << " rounds";
}

}  // namespace
}  // namespace Kestrel
