// Fuzz target: the spectator module's three endpoints, loaded in-process into
// the test host and called through their descriptors with requests read from
// the input (fuzz_request.h). The input also scripts the other side: whether
// the gameflow plugin accepts a launch (or fails with which status), whether
// the login service proxy accepts the call (or fails), and the answer it
// delivers: payload text, error text and status, delivered before the POST
// returns or only while the module waits.
//
// Besides sanitizer reports it checks that a failure of the other side is
// never reported as success, and that every answer the host queued was
// delivered by the end of the call.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "devhost/host/core_host.h"
#include "fuzz/fuzz_request.h"
#include "fuzz/fuzz_support.h"
#include "host_abi/core_value.h"
#include "plugin/host/plugin_entry.h"
#include "plugin/spectator/spectator_module.h"

namespace Kestrel::Fuzz {

namespace {

using DevHost::CallOutcome;
using DevHost::CallRequest;
using DevHost::CoreHost;
using DevHost::HostValue;
using DevHost::RecordedArgument;
using DevHost::RecordedRequest;
using DevHost::ScriptedResponse;

constexpr char kGameflowPath[] = "/vyn-gameflow/v1/spectate/launch";
constexpr char kUuidPath[] = "/vyn-login/v1/service-proxy-uuid-requests";
constexpr char kUuidEvent[] = "OnServiceProxyUuidEvent";

uint32_t VYN_CDECL LoadSpectator(Client::CorePluginRecord* record) {
  return Client::LoadPlugin<Client::Spectator::SpectatorModule>(
      record, Client::PluginIdentity{"vyn-spectator"});
}

// How the other plugins answer during one run.
struct Script {
  bool gameflow_fails = false;
  uint32_t gameflow_status = 0;
  std::string gameflow_error;
  bool login_fails = false;
  uint32_t login_status = 0;
  std::string login_error;
  std::string answer_payload;
  std::string answer_error;
  std::string answer_status;
  bool answer_early = false;
  // What happened.
  int gameflow_posts = 0;
  int login_posts = 0;
};

HostValue AnswerPayload(const std::string& uuid, const Script& script, const std::string& service,
                        const std::string& method) {
  const std::pair<const char*, const std::string*> fields[] = {{"uuid", &uuid},
                                                               {"serviceName", &service},
                                                               {"methodName", &method},
                                                               {"payload", &script.answer_payload},
                                                               {"status", &script.answer_status},
                                                               {"error", &script.answer_error}};
  Client::CoreValue value{};
  if (!Client::SetStructure(&value, 6)) return HostValue();
  for (uint32_t i = 0; i < 6; ++i) {
    (void)Client::SetEntryName(&value.structure.entries[i], fields[i].first);
    (void)Client::SetOwnedString(&value.structure.entries[i].value, *fields[i].second);
  }
  return HostValue::Adopt(&value);
}

std::string TextArgument(const RecordedRequest& request, std::size_t index) {
  if (index >= request.arguments.size()) return std::string();
  const Client::CoreValue& value = request.arguments[index].value.get();
  if (value.kind != Client::CoreValueKind::kOwnedString &&
      value.kind != Client::CoreValueKind::kBorrowedString) {
    return std::string();
  }
  return value.bytes.data == nullptr ? std::string() : std::string(value.bytes.data);
}

// The host and the loaded module, made once: loading registers every type and
// route, far slower than one call. Handlers read the script of the current run.
class SpectatorHost {
 public:
  SpectatorHost() {
    host_.SetRequestHandler(Kestrel::kMethodPost, kGameflowPath, [this](const RecordedRequest&) {
      ++script_.gameflow_posts;
      if (script_.gameflow_fails) {
        return ScriptedResponse::Error(script_.gameflow_error, script_.gameflow_status);
      }
      return ScriptedResponse::Nil();
    });
    host_.SetRequestHandler(
        Kestrel::kMethodPost, kUuidPath, [this](const RecordedRequest& request) {
          ++script_.login_posts;
          if (script_.login_fails) {
            return ScriptedResponse::Error(script_.login_error, script_.login_status);
          }
          // Every accepted call gets its answer, or the module would wait forever.
          const std::string uuid = "uuid-" + std::to_string(++uuid_counter_);
          host_.QueueEvent(kUuidEvent, AnswerPayload(uuid, script_, TextArgument(request, 0),
                                                     TextArgument(request, 1)));
          if (script_.answer_early) host_.DeliverPending();
          return ScriptedResponse::Value(HostValue::String(uuid));
        });
    const bool started = host_.Load(&LoadSpectator).has_value() && host_.Initialize().has_value();
    Check(started, "the spectator module loads and starts in the test host");
  }

  CoreHost& host() { return host_; }
  Script& script() { return script_; }

 private:
  CoreHost host_;
  Script script_;
  uint64_t uuid_counter_ = 0;
};

SpectatorHost& SharedHost() {
  static SpectatorHost host;
  return host;
}

Script ReadScript(FuzzInput& input) {
  Script script;
  const uint8_t flags = input.ReadByte();
  script.gameflow_fails = (flags & 0x01) != 0;
  script.login_fails = (flags & 0x02) != 0;
  script.answer_early = (flags & 0x04) != 0;
  if (script.gameflow_fails) {
    script.gameflow_status = input.ReadByte() * 3u;
    script.gameflow_error = input.ReadText(24);
  }
  if (script.login_fails) {
    script.login_status = input.ReadByte() * 3u;
    script.login_error = input.ReadText(24);
  } else {
    script.answer_payload = input.ReadText(160);
    script.answer_error = (flags & 0x08) != 0 ? input.ReadText(24) : std::string();
    script.answer_status = (flags & 0x10) != 0 ? "500" : "200";
  }
  return script;
}

CallRequest ToCallRequest(const FuzzRequest& request) {
  CallRequest call;
  call.method = request.method();
  call.method_name = request.method_name();
  call.path = request.path();
  call.headers = request.headers();
  call.content_type = request.content_type().value_or("");
  if (request.body().has_value()) {
    call.body = request.body()->substr(0, request.record().body_length);
  }
  for (const Client::CoreArgument& argument : request.arguments()) {
    call.arguments.emplace_back(argument.name == nullptr ? std::string() : argument.name,
                                HostValue::CopyOf(argument.value));
  }
  call.caller_id = request.record().caller_id;
  return call;
}

}  // namespace

int FuzzDispatchSpectator(const uint8_t* data, std::size_t size) {
  SpectatorHost& shared = SharedHost();
  CoreHost& host = shared.host();
  const Client::ApiDescription* api = host.api();
  Check(api != nullptr && api->function_count > 0, "the module describes its endpoints");

  FuzzInput input(data, size);
  shared.script() = ReadScript(input);
  const Client::CoreFunctionDescriptor& descriptor =
      api->functions[input.ReadByte() % api->function_count];
  const FuzzRequest request(input, descriptor.path, HostValueShape::kWellFormed);
  const CallOutcome outcome = host.CallFunction(descriptor, ToCallRequest(request));

  const Script& script = shared.script();
  Check(host.pending_event_count() == 0, "every queued answer is delivered by the end of a call");
  // The answer's error reaches the module as a host text, which ends at its
  // first NUL: an error text that starts with one is no error.
  const bool answer_has_error = script.answer_error.c_str()[0] != '\0';
  if (script.login_posts > 0 && (script.login_fails || answer_has_error)) {
    Check(outcome.error, "a failed service-proxy call is reported as an error");
    Check(outcome.status == 500, "a failed service-proxy call answers status 500");
  }
  if (script.gameflow_posts > 0 && script.gameflow_fails) {
    Check(outcome.error, "a refused launch is reported as an error");
  }
  if (outcome.error) Check(!outcome.error_text.empty(), "an error carries its text");
  host.ClearRecords();
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzDispatchSpectator)
