#include "devhost/host/core_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_abi/core_value.h"
#include "util/counting_allocator.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreEvent;
using Client::CorePluginRecord;
using Client::CoreRequest;
using Client::CoreResponse;
using Client::CoreValueKind;
using Client::ModuleEntryTable;
using Client::ReadPacked;

// ---------------------------------------------------------------------------
// A tiny plugin that speaks the host records: three functions, one outgoing
// request, a wait with a yield, one published event, two subscriptions.

struct FakeModule {
  CoreInterface* core = nullptr;
  uint8_t initialize_result = 1;
  uint32_t reported_major = 18;
  uint32_t seen_version[3] = {};
  int shutdowns = 0;
  std::vector<std::string> received;  // "name flag payload" of each delivered event
  // What the echo function saw.
  void* seen_context = nullptr;
  std::string seen_path, seen_body, seen_content_type, seen_headers, seen_arguments;
  uint32_t seen_body_length = 0, seen_caller = 0;
  std::string other_answer;  // what the host answered the outgoing request
};

FakeModule g_module;
int g_contexts[3];
Client::CoreFunctionDescriptor g_functions[3];
Client::ApiDescription g_api;
constexpr char kEmpty[] = "";

void VYN_CDECL FakeRelease(CoreResponse* response) {
  Client::ReleaseCoreValue(&response->value);
  if (response->error_flag != 0) CountingFree(response->error_text);
  if (response->content_type != kEmpty) CountingFree(const_cast<char*>(response->content_type));
  for (uint32_t i = 0; i < response->header_count; ++i) {
    CountingFree(const_cast<char*>(response->headers[i].name));
    CountingFree(const_cast<char*>(response->headers[i].value));
  }
  CountingFree(response->headers);
  std::memset(static_cast<void*>(response), 0, sizeof(*response));
}

void StartResponse(CoreResponse* response) {
  std::memset(static_cast<void*>(response), 0, sizeof(*response));
  response->content_type = kEmpty;
  response->release = &FakeRelease;
}

void VYN_CDECL FakeOnEvent(const CoreEvent* event) {
  auto* module = static_cast<FakeModule*>(event->context);
  module->received.push_back(std::string(event->name) + " " + std::to_string(event->flag) + " " +
                             CoreValueToJson(event->payload));
}

void VYN_CDECL FakeEcho(CoreResponse* response, const CoreRequest* request) {
  FakeModule& module = g_module;
  module.seen_context = request->function_context;
  module.seen_path = request->path;
  module.seen_content_type = request->content_type;
  module.seen_body = request->body != nullptr ? request->body : "<null>";
  module.seen_body_length = request->body_length;
  module.seen_caller = request->caller_id;
  module.seen_headers.clear();
  for (uint32_t i = 0; i < request->header_count; ++i) {
    module.seen_headers +=
        std::string(request->headers[i].name) + "=" + request->headers[i].value + ";";
  }
  module.seen_arguments.clear();
  for (uint32_t i = 0; i < request->argument_count; ++i) {
    const char* name = request->arguments[i].name;
    module.seen_arguments += std::string(name != nullptr ? name : "#") + "=" +
                             CoreValueToJson(request->arguments[i].value) + ";";
  }

  // An outgoing request with an owned argument, released right after.
  CoreFunctionTable* host = module.core->functions;
  Client::CoreArgument argument{};
  ASSERT_TRUE(Client::SetOwnedString(&argument.value, "hello"));
  CoreRequest outgoing{};
  outgoing.method = kMethodPost;
  outgoing.path = "/other/v1/thing";
  outgoing.arguments = &argument;
  outgoing.argument_count = 1;
  outgoing.caller_id = module.core->plugin_id;
  CoreResponse answer{};
  host->SendRequest(host, &answer, &outgoing);
  Client::ReleaseCoreValue(&argument.value);
  module.other_answer = answer.error_flag != 0 ? std::string("error ") + answer.error_text + " " +
                                                     std::to_string(answer.status_code)
                                               : CoreValueToJson(answer.value);
  if (answer.release != nullptr) answer.release(&answer);

  host->BeginWait(host, "Wait: echo", 0);
  host->Yield(host);
  host->EndWait(host);

  CoreEvent event{};
  event.name = "OnEcho";
  ASSERT_TRUE(Client::SetStructure(&event.payload, 1));
  ASSERT_TRUE(Client::SetEntryName(&event.payload.structure.entries[0], "uri"));
  ASSERT_TRUE(Client::SetOwnedString(&event.payload.structure.entries[0].value, "/fake/v1/echo"));
  host->SendEvent(host, &event);
  Client::ReleaseCoreValue(&event.payload);  // the host must have copied it
  host->Log(host, 3, "echo done");

  StartResponse(response);
  ASSERT_TRUE(Client::SetOwnedString(&response->value, module.seen_body));
}

// Streams "[1,2,3]" two bytes a read.
struct FakeStream {
  std::string text = "[1,2,3]";
  size_t offset = 0;
  static uint8_t VYN_CDECL Read(void* object, char* buffer, uint32_t* length, uint8_t* more) {
    auto* stream = static_cast<FakeStream*>(object);
    uint32_t count =
        std::min<uint32_t>(std::min<uint32_t>(*length, 2),
                           static_cast<uint32_t>(stream->text.size() - stream->offset));
    std::memcpy(buffer, stream->text.data() + stream->offset, count);
    stream->offset += count;
    *length = count;
    *more = stream->offset < stream->text.size() ? 1 : 0;
    return 1;
  }
  static void VYN_CDECL Release(void* object) { delete static_cast<FakeStream*>(object); }
};

void VYN_CDECL FakeItem(CoreResponse* response, const CoreRequest* request) {
  StartResponse(response);
  std::string path = request->path;
  path = path.substr(0, path.find('?'));
  std::string id = path.substr(path.rfind('/') + 1);
  if (id == "missing") {
    response->error_text = Client::CopyOwnedText("No item");
    response->error_flag = 1;
    response->status_code = 418;
  } else if (id == "stream") {
    response->stream = new FakeStream;
    response->stream_size = 7;
    response->stream_read = &FakeStream::Read;
    response->stream_release = &FakeStream::Release;
  } else {
    response->value = Client::MakeUnsignedValue(std::stoul(id));
    response->content_type = Client::CopyOwnedText("application/json");
    response->headers =
        static_cast<Client::CoreHeader*>(CountingAllocate(sizeof(Client::CoreHeader)));
    response->headers[0] = {Client::CopyOwnedText("X-Item"), Client::CopyOwnedText(id)};
    response->header_count = 1;
  }
}

uint8_t VYN_CDECL FakeInitialize(void* module_pointer, CoreInterface* core) {
  auto* module = static_cast<FakeModule*>(module_pointer);
  module->core = core;
  CoreFunctionTable* host = core->functions;
  host->Subscribe(host, "OnPing", core->plugin_id, &FakeOnEvent, module, 1);
  host->Subscribe(host, "OnEcho", core->plugin_id, &FakeOnEvent, module, 0);
  host->Log(host, 0, "started");
  return module->initialize_result;
}

void VYN_CDECL FakeShutdown(void* module_pointer) {
  auto* module = static_cast<FakeModule*>(module_pointer);
  CoreFunctionTable* host = module->core->functions;
  host->Unsubscribe(host, "OnPing", module->core->plugin_id);
  host->Unsubscribe(host, "OnEcho", module->core->plugin_id);
  ++module->shutdowns;
}

void VYN_CDECL FakeMemoryStats(uint32_t, MemoryStats* stats) {
  stats->allocations = 5;
}

const ModuleEntryTable g_entry = {&FakeInitialize, &FakeShutdown, &FakeMemoryStats};

void SetFunction(int index, const char* name, uint32_t method, const char* path,
                 Client::CoreFunctionCallback callback) {
  Client::CoreFunctionDescriptor& function = g_functions[index];
  std::memset(static_cast<void*>(&function), 0, sizeof(function));
  function.function.name = name;
  function.function.function_context = &g_contexts[index];
  function.callback = callback;
  function.path = path;
  function.method = method;
  function.method_name = kEmpty;
  if (index > 0) g_functions[index - 1].function.next = &function.function;
}

uint32_t VYN_CDECL FakeLoad(CorePluginRecord* record) {
  g_module.seen_version[0] = record->version_major;
  g_module.seen_version[1] = record->version_minor;
  g_module.seen_version[2] = record->version_patch;
  if (record->version_major != 18) return 0;  // refuses: leaves the record unfilled
  SetFunction(0, "PostFakeV1Echo", kMethodPost, "/fake/v1/echo", &FakeEcho);
  SetFunction(1, "GetFakeV1ItemsById", kMethodGet, "/fake/v1/items/{id}", &FakeItem);
  SetFunction(2, "AnyFakeV1Rest", kMethodNone, "/fake/v1/any/{+rest}", &FakeItem);
  g_api = {g_functions, 3, nullptr, 0, nullptr, 0};
  record->version_major = g_module.reported_major;
  record->version_minor = 0;
  record->version_patch = 0;
  record->entry_table = &g_entry;
  record->module = &g_module;
  record->plugin_name = "tmx-be-fake";
  record->api_description = &g_api;
  return 0;
}

class CoreHostTest : public ::testing::Test {
 protected:
  void SetUp() override { g_module = FakeModule(); }

  void Start() {
    ASSERT_TRUE(host_.Load(&FakeLoad).has_value());
    ASSERT_TRUE(host_.Initialize().has_value());
  }

  CoreHost host_;
};

// ---------------------------------------------------------------------------

TEST_F(CoreHostTest, HandshakeInitializeAndShutdown) {
  Start();
  EXPECT_EQ(g_module.seen_version[0], 18u);
  EXPECT_EQ(g_module.seen_version[1], 0u);
  EXPECT_EQ(g_module.seen_version[2], 0u);
  EXPECT_EQ(host_.plugin_name(), "tmx-be-fake");
  EXPECT_EQ(host_.api(), &g_api);
  EXPECT_EQ(g_module.core, host_.core_interface());
  EXPECT_EQ(host_.core_interface()->functions, host_.functions());
  EXPECT_EQ(host_.GetMemoryStats().allocations, 5u);

  std::vector<Subscription> subscriptions = host_.subscriptions();
  ASSERT_EQ(subscriptions.size(), 2u);
  EXPECT_EQ(subscriptions[0].name, "OnPing");
  EXPECT_EQ(subscriptions[0].plugin_id, 1u);
  EXPECT_EQ(subscriptions[0].context, &g_module);
  EXPECT_EQ(subscriptions[0].flag, 1u);
  ASSERT_EQ(host_.log_lines().size(), 1u);
  EXPECT_EQ(host_.log_lines()[0].level, 0);
  EXPECT_EQ(host_.log_lines()[0].text, "started");
  EXPECT_TRUE(host_.Initialize().is_failure());  // only once

  host_.Shutdown();
  host_.Shutdown();
  EXPECT_EQ(g_module.shutdowns, 1);
  ASSERT_EQ(host_.unsubscriptions().size(), 2u);
  EXPECT_EQ(host_.unsubscriptions()[1].name, "OnEcho");
  EXPECT_TRUE(host_.active_subscriptions().empty());
  EXPECT_EQ(host_.api(), nullptr);
  MaybeType<CallOutcome> late = host_.Call(CallRequest::Json(kMethodGet, "/fake/v1/items/1", ""));
  ASSERT_TRUE(late.is_failure());
  EXPECT_EQ(late.failure().code(), 503);

  // Events queued after shutdown are not delivered to the dead module.
  host_.QueueEvent("OnPing", HostValue());
  EXPECT_EQ(host_.DeliverPending(), 0);

  host_.Unload();
  EXPECT_FALSE(host_.loaded());
  EXPECT_TRUE(host_.Load(&FakeLoad).has_value());  // a new life
}

TEST_F(CoreHostTest, RefusedIncompatibleAndFailedPlugins) {
  {
    CoreHost old_host(HostOptions{17, 9, 9});
    MaybeType<void> loaded = old_host.Load(&FakeLoad);
    ASSERT_TRUE(loaded.is_failure());
    EXPECT_STREQ(loaded.failure().message(), "The plugin refused host plugin API 17.9.9");
    EXPECT_EQ(g_module.seen_version[0], 17u);
    EXPECT_EQ(g_module.seen_version[2], 9u);
    EXPECT_FALSE(old_host.loaded());
    EXPECT_TRUE(old_host.Initialize().is_failure());
  }
  {
    g_module.reported_major = 19;
    CoreHost host;
    MaybeType<void> loaded = host.Load(&FakeLoad);
    ASSERT_TRUE(loaded.is_failure());
    EXPECT_STREQ(loaded.failure().message(),
                 "Plugin API 19.0.0 of the plugin is not compatible with host plugin API 18.0.0");
    g_module.reported_major = 18;
  }
  EXPECT_TRUE(host_.Load(nullptr).is_failure());
  ASSERT_TRUE(host_.Load(&FakeLoad).has_value());
  EXPECT_EQ(host_.Load(&FakeLoad).failure().code(), 409);

  g_module.initialize_result = 0;
  MaybeType<void> started = host_.Initialize();
  ASSERT_TRUE(started.is_failure());
  EXPECT_STREQ(started.failure().message(), "The plugin's Initialize returned 0");
  EXPECT_FALSE(host_.initialized());
  host_.Shutdown();  // a module that failed to start is still destroyed
  EXPECT_EQ(g_module.shutdowns, 1);

  CoreHost library_host;
  MaybeType<void> missing = library_host.LoadLibrary("/nonexistent/libvyn_spectator.so");
  ASSERT_TRUE(missing.is_failure());
  EXPECT_NE(std::string(missing.failure().message())
                .find("Cannot load plugin library '/nonexistent/libvyn_spectator.so'"),
            std::string::npos)
      << missing.failure().message();
}

TEST_F(CoreHostTest, CallPassesTheWholeRequestAndReadsTheResponse) {
  host_.SetRequestHandler(kMethodPost, "/other/v1/thing", [](const RecordedRequest& request) {
    return ScriptedResponse::Json(R"({"echo":)" + request.ArgumentsJson() + "}");
  });
  Start();

  CallRequest request = CallRequest::Json(kMethodPost, "/fake/v1/echo?x=1", R"({"a":1})");
  request.headers = {{"Accept", "application/json"}, {"X-Two", "2"}};
  request.arguments.emplace_back("named", HostValue::String("n"));
  request.arguments.emplace_back("", HostValue::FromJson("[true]").TakeValue());
  request.caller_id = 77;
  MaybeType<CallOutcome> outcome = host_.Call(request);
  ASSERT_TRUE(outcome.has_value()) << outcome.ToText();

  EXPECT_EQ(g_module.seen_context, &g_contexts[0]);
  EXPECT_EQ(g_module.seen_path, "/fake/v1/echo?x=1");
  EXPECT_EQ(g_module.seen_body, R"({"a":1})");
  EXPECT_EQ(g_module.seen_body_length, 7u);
  EXPECT_EQ(g_module.seen_content_type, "application/json");
  EXPECT_EQ(g_module.seen_caller, 77u);
  EXPECT_EQ(g_module.seen_headers, "Accept=application/json;X-Two=2;");
  EXPECT_EQ(g_module.seen_arguments, R"(named="n";#=[true];)");
  EXPECT_EQ(g_module.other_answer, R"({"echo":["hello"]})");

  const CallOutcome& result = outcome.value();
  EXPECT_EQ(result.function_name, "PostFakeV1Echo");
  EXPECT_FALSE(result.error);
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.ValueJson(), R"("{\"a\":1}")");

  // The outgoing request, with its argument copied before the plugin freed it.
  std::vector<RecordedRequest> requests = host_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, kMethodPost);
  EXPECT_EQ(requests[0].path, "/other/v1/thing");
  EXPECT_EQ(requests[0].caller_id, 1u);
  ASSERT_EQ(requests[0].arguments.size(), 1u);
  EXPECT_TRUE(requests[0].arguments[0].positional);
  EXPECT_EQ(requests[0].arguments[0].value.kind(), CoreValueKind::kOwnedString);

  // The published event was copied, and delivered back to the subscriber
  // after the call returned.
  std::vector<RecordedEvent> events = host_.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, "OnEcho");
  EXPECT_EQ(events[0].payload.ToJson(), R"({"uri":"/fake/v1/echo"})");
  ASSERT_EQ(g_module.received.size(), 1u);
  EXPECT_EQ(g_module.received[0], R"(OnEcho 0 {"uri":"/fake/v1/echo"})");
  EXPECT_EQ(host_.pending_event_count(), 0u);

  EXPECT_EQ(host_.wait_labels(), std::vector<std::string>{"Wait: echo"});
  EXPECT_EQ(host_.end_wait_count(), 1);
  EXPECT_EQ(host_.yield_count(), 1);
  ASSERT_EQ(host_.log_lines().size(), 2u);
  EXPECT_EQ(host_.log_lines()[1].level, 3);
  EXPECT_EQ(host_.log_lines()[1].text, "echo done");

  host_.ClearRecords();
  EXPECT_TRUE(host_.requests().empty());
  EXPECT_TRUE(host_.log_lines().empty());
  EXPECT_EQ(host_.yield_count(), 0);
}

TEST_F(CoreHostTest, QueuedEventsArriveAtYieldInQueueOrder) {
  Start();
  std::vector<std::string> seen_by_observer;
  host_.SetObserver(HostObserver{
      [&](const RecordedRequest& request) {
        seen_by_observer.push_back("request " + request.path);
      },
      [&](const RecordedEvent& event) { seen_by_observer.push_back("event " + event.name); },
      [&](const LogLine& line) { seen_by_observer.push_back("log " + line.text); },
      [&](const std::string& label) { seen_by_observer.push_back("wait " + label); },
      {},
      {}});
  host_.QueueEvent("OnPing", HostValue::FromJson(R"({"n":1})").TakeValue());
  host_.QueueEvent("OnNobody", HostValue());
  host_.QueueEvent("OnPing", HostValue::FromJson(R"({"n":2})").TakeValue());
  ASSERT_TRUE(host_.Call(CallRequest::Json(kMethodPost, "/fake/v1/echo", "")).has_value());
  EXPECT_EQ(g_module.seen_body, "<null>");  // no body: a null pointer
  EXPECT_EQ(g_module.seen_body_length, 0u);

  // Both pings came in the echo's yield, before its own event went out.
  ASSERT_EQ(g_module.received.size(), 3u);
  EXPECT_EQ(g_module.received[0], R"(OnPing 1 {"n":1})");
  EXPECT_EQ(g_module.received[1], R"(OnPing 1 {"n":2})");
  EXPECT_EQ(g_module.received[2].substr(0, 7), "OnEcho ");
  EXPECT_EQ(host_.delivered_events().size(), 3u);
  EXPECT_EQ(seen_by_observer,
            (std::vector<std::string>{"request /other/v1/thing", "wait Wait: echo", "event OnEcho",
                                      "log echo done"}));

  // Without a call, DeliverPending does the delivery and counts callbacks.
  host_.QueueEvent("OnPing", HostValue());
  host_.QueueEvent("OnPing", HostValue());
  EXPECT_EQ(host_.DeliverPending(), 2);
  EXPECT_EQ(host_.DeliverPending(), 0);
}

TEST_F(CoreHostTest, AnEventNobodySubscribedToIsNeitherDeliveredNorShown) {
  Start();
  std::vector<std::string> shown;
  HostObserver observer;
  observer.on_outgoing = [&](const OutgoingRecord& record) { shown.push_back(record.name); };
  host_.SetObserver(observer);
  host_.QueueEvent("OnNobody", HostValue());
  EXPECT_EQ(host_.DeliverPending(), 0);
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(host_.delivered_events().empty());
  host_.QueueEvent("OnPing", HostValue());  // subscribed: shown once
  EXPECT_EQ(host_.DeliverPending(), 1);
  EXPECT_EQ(shown, std::vector<std::string>{"OnPing"});
}

TEST_F(CoreHostTest, ErrorsStreamsHeadersAndUnknownFunctions) {
  Start();
  MaybeType<CallOutcome> missing =
      host_.Call(CallRequest::Json(kMethodGet, "/fake/v1/items/missing", ""));
  ASSERT_TRUE(missing.has_value());
  EXPECT_TRUE(missing.value().error);
  EXPECT_EQ(missing.value().error_text, "No item");
  EXPECT_EQ(missing.value().status, 418u);
  EXPECT_EQ(missing.value().ValueJson(), "null");

  MaybeType<CallOutcome> streamed =
      host_.Call(CallRequest::Json(kMethodGet, "/fake/v1/items/stream", ""));
  ASSERT_TRUE(streamed.has_value());
  EXPECT_TRUE(streamed.value().streamed);
  EXPECT_FALSE(streamed.value().stream_failed);
  EXPECT_EQ(streamed.value().ValueJson(), "[1,2,3]");

  MaybeType<CallOutcome> item =
      host_.Call(CallRequest::Json(kMethodGet, "/fake/v1/items/42?q=1", ""));
  ASSERT_TRUE(item.has_value());
  EXPECT_EQ(item.value().function_name, "GetFakeV1ItemsById");
  EXPECT_EQ(item.value().value.kind(), CoreValueKind::kUnsigned);
  EXPECT_EQ(item.value().ValueJson(), "42");
  EXPECT_EQ(item.value().content_type, "application/json");
  ASSERT_EQ(item.value().headers.size(), 1u);
  EXPECT_EQ(item.value().headers[0].second, "42");

  // Method 0 on a descriptor takes any method; "{+rest}" spans segments.
  EXPECT_EQ(host_.FindFunction(kMethodDelete, "/fake/v1/any/a/b"), &g_functions[2]);
  EXPECT_EQ(host_.FindFunction(kMethodGet, "/fake/v1/items/a/b"), nullptr);

  MaybeType<CallOutcome> unknown =
      host_.Call(CallRequest::Json(kMethodPost, "/fake/v1/items/1", ""));
  ASSERT_TRUE(unknown.is_failure());
  EXPECT_EQ(unknown.failure().code(), 404);
  EXPECT_STREQ(unknown.failure().message(), "No function for POST /fake/v1/items/1");
}

TEST_F(CoreHostTest, CallsAreNumberedAndWhatTheySendIsLinkedToThem) {
  Start();
  host_.SetRequestHandler(kMethodPost, "/other/v1/thing",
                          [](const RecordedRequest&) { return ScriptedResponse::Json("[7]"); });
  std::vector<std::string> seen;
  HostObserver observer;
  observer.on_outgoing = [&](const OutgoingRecord& record) {
    seen.push_back(std::to_string(record.call) + " " +
                   std::to_string(static_cast<int>(record.kind)) + " " + record.name + " " +
                   record.payload_json + " " + record.answer_json);
  };
  observer.on_call = [&](const CallRecord& call) {
    seen.push_back("call " + std::to_string(call.number) + " " + call.request.path);
  };
  observer.on_log = [&](const LogLine& line) {
    seen.push_back("log " + std::to_string(line.call) + " " + line.text);
  };
  host_.SetObserver(observer);
  host_.QueueEvent("OnPing", HostValue::FromJson("1").TakeValue());
  ASSERT_TRUE(host_.Call(CallRequest::Json(kMethodPost, "/fake/v1/echo", "\"a\"")).has_value());
  ASSERT_TRUE(host_.Call(CallRequest::Json(kMethodGet, "/fake/v1/items/4", "")).has_value());
  // Outside a call: belongs to none.
  host_.QueueEvent("OnPing", HostValue());
  host_.DeliverPending();

  const std::string echo_payload = R"(OnEcho {"uri":"/fake/v1/echo"} )";
  EXPECT_EQ(seen, (std::vector<std::string>{
                      R"(1 0 /other/v1/thing ["hello"] [7])", "1 2 Wait: echo  ", "1 1 OnPing 1 ",
                      "1 3   ", "log 1 echo done", "1 1 " + echo_payload, "call 1 /fake/v1/echo",
                      "call 2 /fake/v1/items/4", "0 1 OnPing null "}));
  std::vector<CallRecord> calls = host_.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].request.body, "\"a\"");
  EXPECT_EQ(calls[0].outcome.ValueJson(), "\"\\\"a\\\"\"");
  EXPECT_EQ(calls[1].memory_after.allocations, 5u);  // the module's counters, before and after
  EXPECT_EQ(calls[1].memory_before.allocations, 5u);
  std::optional<CallRecord> second = host_.FindCall(2);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->outcome.headers.size(), 1u);
  EXPECT_FALSE(host_.FindCall(3).has_value());
  EXPECT_EQ(host_.SampleMemoryStats().allocations, 5u);
}

// The host side of the table, driven directly as a plugin would.
TEST_F(CoreHostTest, OutgoingRequestsReachTheBestHandler) {
  host_.SetRequestHandler(kMethodPost, "/a/v1/x", [](const RecordedRequest&) {
    return ScriptedResponse::Error("Gone away", 503);
  });
  host_.SetRequestPrefixHandler(kMethodNone, "/a/", [](const RecordedRequest& request) {
    return ScriptedResponse::Value(HostValue::String("short " + request.path));
  });
  host_.SetRequestPrefixHandler(kMethodNone, "/a/v1/", [](const RecordedRequest& request) {
    return ScriptedResponse::Value(HostValue::String("long " + request.path));
  });
  host_.SetRequestPrefixHandler(kMethodPost, "/stream", [](const RecordedRequest&) {
    // 5000 bytes in one chunk (split by the buffer), then a last empty chunk.
    return ScriptedResponse::Stream({{std::string(5000, 'a'), true}, {"", false}});
  });
  host_.SetRequestPrefixHandler(kMethodPost, "/broken", [](const RecordedRequest&) {
    return ScriptedResponse::Stream({{"ab", true}, {"", true, true}});
  });
  host_.SetRequestHandler(kMethodPost, "/bad/json",
                          [](const RecordedRequest&) { return ScriptedResponse::Json("{"); });

  CoreFunctionTable* table = host_.functions();
  auto send = [&](uint32_t method, const char* path) {
    CoreRequest request{};
    request.method = method;
    request.path = path;
    auto* response = new CoreResponse;
    table->SendRequest(table, response, &request);
    return response;
  };
  auto finish = [](CoreResponse* response) {
    ASSERT_NE(ReadPacked(response->release), nullptr);
    response->release(response);
    EXPECT_EQ(ReadPacked(response->value.kind), CoreValueKind::kNil);
    EXPECT_EQ(ReadPacked(response->error_text), nullptr);
    delete response;
  };

  CoreResponse* response = send(kMethodPost, "/a/v1/x");
  EXPECT_EQ(ReadPacked(response->error_flag), 1);
  EXPECT_STREQ(ReadPacked(response->error_text), "Gone away");
  EXPECT_EQ(ReadPacked(response->status_code), 503u);
  EXPECT_STREQ(ReadPacked(response->content_type), "");
  finish(response);

  response = send(kMethodGet, "/a/v1/x");  // the exact handler is POST only
  EXPECT_EQ(CoreValueText(response->value), "long /a/v1/x");
  finish(response);
  response = send(kMethodGet, "/a/v2");
  EXPECT_EQ(CoreValueText(response->value), "short /a/v2");
  finish(response);

  response = send(kMethodPost, "/nowhere");
  EXPECT_STREQ(ReadPacked(response->error_text), "No handler for POST /nowhere");
  EXPECT_EQ(ReadPacked(response->status_code), 404u);
  finish(response);

  response = send(kMethodPost, "/bad/json");
  EXPECT_EQ(ReadPacked(response->status_code), 500u);
  EXPECT_NE(std::string(response->error_text).find("Scripted response is not JSON"),
            std::string::npos);
  finish(response);

  response = send(kMethodPost, "/stream");
  ASSERT_NE(ReadPacked(response->stream_read), nullptr);
  EXPECT_EQ(ReadPacked(response->stream_size), 5000u);
  std::vector<std::pair<uint32_t, uint8_t>> reads;
  char buffer[4096];
  for (uint8_t more = 1; more != 0;) {
    uint32_t length = sizeof(buffer);
    ASSERT_EQ(response->stream_read(response->stream, buffer, &length, &more), 1);
    reads.emplace_back(length, more);
  }
  EXPECT_EQ(reads, (std::vector<std::pair<uint32_t, uint8_t>>{{4096, 1}, {904, 1}, {0, 0}}));
  response->stream_release(response->stream);
  finish(response);

  response = send(kMethodPost, "/broken");
  uint32_t length = sizeof(buffer);
  uint8_t more = 1;
  EXPECT_EQ(response->stream_read(response->stream, buffer, &length, &more), 1);
  length = sizeof(buffer);
  EXPECT_EQ(response->stream_read(response->stream, buffer, &length, &more), 0);
  response->stream_release(response->stream);
  finish(response);

  EXPECT_EQ(host_.requests().size(), 7u);
}

}  // namespace
}  // namespace Kestrel::DevHost
