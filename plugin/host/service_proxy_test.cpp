#include "plugin/host/service_proxy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devhost/host/core_host.h"
#include "formats/json_writer.h"
#include "host_abi/core_value.h"
#include "tests/support/capturing_log_target.h"
#include "tests/support/host_test_module.h"

namespace Kestrel::Client::HostTest {
struct NotSerializable {
  int32_t value = 0;
};
}  // namespace Kestrel::Client::HostTest

VYN_STATIC_TYPE(Kestrel::Client::HostTest::NotSerializable,
                "struct Kestrel::Client::HostTest::NotSerializable");

namespace Kestrel::Client::HostTest {
namespace {

using DevHost::CallOutcome;
using DevHost::CallRequest;
using DevHost::CoreHost;
using DevHost::HostValue;
using DevHost::RecordedRequest;
using DevHost::ScriptedResponse;
using Kestrel::kMethodPost;

HostValue AnswerValue(const std::string& uuid, const std::string& payload,
                      const std::string& error = "") {
  PluginServiceProxyResponse answer{uuid, "store", "lookup", payload, "200", error};
  BindingProperty property;
  property.Field("uuid").SetString(answer.uuid);
  property.Field("serviceName").SetString(answer.serviceName);
  property.Field("methodName").SetString(answer.methodName);
  property.Field("payload").SetString(answer.payload);
  property.Field("status").SetString(answer.status);
  property.Field("error").SetString(answer.error);
  MaybeType<HostValue> value = HostValue::FromJson(WriteJson(property));
  return value.TakeValue();
}

void VYN_CDECL ReleaseValueOnly(CoreResponse* response) {
  ReleaseCoreValue(&response->value);
}

std::vector<std::string> TextsAtLevel(const std::vector<DevHost::LogLine>& lines, int32_t level) {
  std::vector<std::string> texts;
  for (const auto& line : lines) {
    if (line.level == level) texts.push_back(line.text);
  }
  return texts;
}

class ServiceProxy : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.Load(&LoadTestModule).has_value());
    ASSERT_TRUE(host_.Initialize().has_value());
    module_ = ModuleOf(host_);
    host_.ClearRecords();
  }

  // Answers the id variant with `uuid`; `answer_now` delivers the answer
  // event before the POST returns, otherwise it waits for the next yield.
  void AnswerById(const std::string& uuid, HostValue answer, bool answer_now) {
    auto shared = std::make_shared<HostValue>(std::move(answer));
    host_.SetRequestHandler(
        kMethodPost, kServiceProxyUuidPath,
        [this, uuid, shared, answer_now](const RecordedRequest&) {
          host_.QueueEvent(kServiceProxyUuidEventName, shared->Clone());
          if (answer_now) host_.DeliverPending();
          return ScriptedResponse::Value(HostValue::FromJson("\"" + uuid + "\"").TakeValue());
        });
  }

  CallOutcome Lookup(const char* body) {
    MaybeType<CallOutcome> outcome =
        host_.Call(CallRequest::Json(kMethodPost, "/test-plugin/v1/lookup", body));
    EXPECT_TRUE(outcome.has_value());
    return outcome.has_value() ? outcome.TakeValue() : CallOutcome();
  }

  CoreHost host_;
  TestModule* module_ = nullptr;
};

TEST_F(ServiceProxy, AnAnswerBeforeThePostReturnsIsHeldUntilTheCallIsStored) {
  AnswerById("u1", AnswerValue("u1", R"({"name":"found","count":4})"), true);
  CallOutcome outcome = Lookup(R"({"name":"q","count":1})");
  EXPECT_FALSE(outcome.error) << outcome.error_text;
  EXPECT_EQ(outcome.ValueJson(), R"({"count":4,"name":"found"})");
  EXPECT_TRUE(host_.wait_labels().empty());  // ready before the first poll

  const auto requests = host_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].ArgumentsJson(), R"(["store","lookup",1,"{\"count\":1,\"name\":\"q\"}"])");
  EXPECT_EQ(TextsAtLevel(host_.log_lines(), kLogLevelAlways),
            (std::vector<std::string>{"Preparing service proxy request: store.lookup",
                                      "Started service proxy request: store.lookup (u1)",
                                      "Fulfilled service proxy request: u1"}));
}

TEST_F(ServiceProxy, ALaterAnswerArrivesWhileAwaitYields) {
  AnswerById("u2", AnswerValue("u2", R"({"name":"later"})"), false);
  CallOutcome outcome = Lookup(R"({"name":"q"})");
  EXPECT_FALSE(outcome.error) << outcome.error_text;
  EXPECT_EQ(outcome.ValueJson(), R"({"count":0,"name":"later"})");
  EXPECT_EQ(host_.yield_count(), 1);
  ASSERT_EQ(host_.wait_labels().size(), 1u);
  EXPECT_EQ(host_.end_wait_count(), 1);
}

TEST_F(ServiceProxy, AnswerErrorsAndUnreadablePayloadsFailTheCall) {
  AnswerById("u3", AnswerValue("u3", "{}", "Service unavailable"), true);
  auto failed = CallService<Item>(*module_, "store", "lookup", Item{});
  MaybeType<Item> error = module_->Await(failed);
  ASSERT_TRUE(error.is_failure());
  EXPECT_STREQ(error.failure().message(), "Service unavailable");
  EXPECT_EQ(error.failure().code(), 0);

  AnswerById("u4", AnswerValue("u4", "oops"), true);
  auto garbled = CallService<Item>(*module_, "store", "lookup", Item{});
  MaybeType<Item> unread = module_->Await(garbled);
  ASSERT_TRUE(unread.is_failure());
  EXPECT_STREQ(unread.failure().message(),
               "Failed to deserialize response payload \"oops\" to a const char *__cdecl "
               "StaticType::Name<struct Kestrel::Client::HostTest::Item>(void)");

  // The POST itself fails: no handler at the host answers 404.
  host_.SetRequestHandler(kMethodPost, kServiceProxyUuidPath, [](const RecordedRequest&) {
    return ScriptedResponse::Error("login down", 503);
  });
  auto refused = CallService<Item>(*module_, "store", "lookup", Item{});
  MaybeType<Item> not_sent = module_->Await(refused);
  ASSERT_TRUE(not_sent.is_failure());
  EXPECT_STREQ(not_sent.failure().message(),
               "Error response for POST /vyn-login/v1/service-proxy-uuid-requests: login down");

  auto unserializable = CallService<Item>(*module_, "store", "lookup", NotSerializable{});
  MaybeType<Item> conversion = module_->Await(unserializable);
  ASSERT_TRUE(conversion.is_failure());
  EXPECT_STREQ(conversion.failure().message(),
               "Failed to convert type \"const char *__cdecl StaticType::Name<struct "
               "Kestrel::Client::HostTest::NotSerializable>(void)\" to BindingProperty for "
               "serialization");
}

TEST_F(ServiceProxy, MethodVariantRefusesASecondCallInFlight) {
  std::vector<std::string> arguments;
  host_.SetRequestHandler(kMethodPost, kServiceProxyMethodPath, [&](const RecordedRequest& r) {
    arguments.push_back(r.ArgumentsJson());
    return ScriptedResponse::Nil();
  });
  std::vector<std::string> answers;
  auto handler = [&](const PluginServiceProxyResponse& answer) {
    answers.push_back(answer.error.empty() ? answer.payload : answer.error);
  };
  EXPECT_EQ(
      RequestServiceProxy(*module_, "store", "lookup", std::string("p"), "reply", "extra", handler),
      "");
  ASSERT_EQ(arguments.size(), 1u);
  EXPECT_EQ(arguments[0], R"(["store","lookup","reply","extra",1,"\"p\""])");
  host_.ClearRecords();
  EXPECT_EQ(RequestServiceProxy(*module_, "store", "other", std::string("p"), "reply", "", handler),
            "Request already in flight");
  EXPECT_EQ(arguments.size(), 1u);
  EXPECT_EQ(
      TextsAtLevel(host_.log_lines(), kLogLevelError),
      std::vector<std::string>{"Could not invoke service proxy as request is already in flight"});

  // The answer comes back under service name and reply name.
  PluginServiceProxyResponse answer{"", "store", "reply", "42", "", ""};
  module_->service_proxy().OnMethodAnswer(answer);
  EXPECT_EQ(answers, std::vector<std::string>{"42"});
  EXPECT_EQ(
      RequestServiceProxy(*module_, "store", "lookup", std::string("p"), "reply", "", handler), "");
  module_->Stop();  // the call still in flight fails
  EXPECT_EQ(answers, (std::vector<std::string>{"42", "Finalizing"}));
}

// Exposes the finalizing flag that `Shutdown` sets.
class ProxyModule : public ScriptedModule {
 public:
  using AppModule::SetFinalizing;
};

TEST(ServiceProxyTables, OnePassMatchesOneAnswer) {
  ServiceProxyTables tables;
  std::vector<std::string> handled;
  auto record = [&](const PluginServiceProxyResponse& answer) { handled.push_back(answer.uuid); };
  tables.StoreReceivedAnswer("a", PluginServiceProxyResponse{"a", "", "", "", "", ""});
  tables.StoreReceivedAnswer("b", PluginServiceProxyResponse{"b", "", "", "", "", ""});
  tables.StoreReceivedAnswer("c", PluginServiceProxyResponse{"c", "", "", "", "", ""});
  EXPECT_FALSE(tables.MatchOne());  // no call waits yet
  tables.StorePendingCall("a", record);
  tables.StorePendingCall("b", record);
  EXPECT_TRUE(tables.HasPendingCall("a"));
  EXPECT_TRUE(tables.MatchOne());
  EXPECT_EQ(handled.size(), 1u);
  EXPECT_TRUE(tables.MatchOne());
  ASSERT_EQ(handled.size(), 2u);
  EXPECT_NE(handled[0], handled[1]);
  EXPECT_FALSE(tables.HasPendingCall("a"));
  EXPECT_FALSE(tables.MatchOne());  // "c" keeps waiting for its call

  // Closing fails the waiting call and every later one, and drops answers.
  std::vector<std::string> errors;
  auto fail = [&](const PluginServiceProxyResponse& answer) { errors.push_back(answer.error); };
  tables.StorePendingCall("d", fail);
  tables.Close();
  EXPECT_EQ(errors, std::vector<std::string>{"Finalizing"});
  tables.StorePendingCall("e", fail);
  EXPECT_EQ(errors, (std::vector<std::string>{"Finalizing", "Finalizing"}));
  EXPECT_FALSE(tables.HasPendingCall("e"));
  tables.StoreReceivedAnswer("e", PluginServiceProxyResponse{"e", "", "", "", "", ""});
  EXPECT_FALSE(tables.MatchOne());
  EXPECT_EQ(handled.size(), 2u);
}

TEST(ServiceProxyTables, AnAnswerAfterCloseRunsTheFailedCallsHandlerNoMore) {
  ServiceProxyTables tables;
  std::vector<std::string> errors;
  tables.StorePendingCall(
      "u1", [&](const PluginServiceProxyResponse& answer) { errors.push_back(answer.error); });
  tables.Close();
  EXPECT_FALSE(tables.HasPendingCall("u1"));
  tables.StoreReceivedAnswer("u1", PluginServiceProxyResponse{"u1", "", "", "", "200", ""});
  EXPECT_FALSE(tables.MatchOne());
  EXPECT_EQ(errors, std::vector<std::string>{"Finalizing"});
}

TEST(ServiceProxyTables, AsyncAnswersNeedARegisteredHandler) {
  CapturingLogTarget capture;
  capture.Configure(kLogLevelOkay, 0, 0, "#M");
  ProxyModule module;
  std::vector<std::string> handled;
  auto record = [&](const PluginServiceProxyResponse& answer) {
    handled.push_back(answer.payload);
  };
  module.service_proxy().OnAsyncAnswer(
      PluginServiceProxyResponse{"", "store", "push", "1", "", ""});
  EXPECT_TRUE(handled.empty());
  const auto entries = capture.entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].level, kLogLevelError);
  EXPECT_EQ(entries[0].message,
            "Could not find registered handler for async service proxy event store.push");

  module.service_proxy().SetAsyncHandler("store", "push", record);
  module.service_proxy().OnAsyncAnswer(
      PluginServiceProxyResponse{"", "store", "push", "2", "", ""});
  EXPECT_EQ(handled, std::vector<std::string>{"2"});
}

TEST(ServiceProxyTables, FinalizingRefusesNewCallsWithoutSending) {
  ProxyModule module;
  module.SetFinalizing();
  auto answer = CallService<Item>(module, "store", "lookup", Item{});
  MaybeType<Item> result = module.Await(answer);
  ASSERT_TRUE(result.is_failure());
  EXPECT_STREQ(result.failure().message(), "Finalizing");
  EXPECT_EQ(module.sent_requests, 0);
}

TEST(ServiceProxyTables, StopFailsPendingCallsWithFinalizing) {
  ProxyModule module;
  module.respond = [](CoreResponse* response, const CoreRequest*) {
    (void)SetOwnedString(&response->value, "u9");
    response->release = &ReleaseValueOnly;
  };
  auto answer = CallService<Item>(module, "store", "lookup", Item{});
  EXPECT_EQ(answer.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  module.Stop();
  MaybeType<Item> result = module.Await(answer);
  ASSERT_TRUE(result.is_failure());
  EXPECT_STREQ(result.failure().message(), "Finalizing");
  EXPECT_EQ(result.failure().code(), 0);
}

}  // namespace
}  // namespace Kestrel::Client::HostTest
