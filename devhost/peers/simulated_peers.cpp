#include "devhost/peers/simulated_peers.h"

#include <random>

#include "host_abi/core_value.h"
#include "host_abi/http_method.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreValueKind;

// The event payload of a service-proxy answer: six texts, in this order.
HostValue ServiceProxyResponse(const std::string& uuid, const std::string& service,
                               const std::string& method, const std::string& payload,
                               const std::string& status, const std::string& error) {
  const std::pair<const char*, const std::string*> fields[] = {
      {"uuid", &uuid},       {"serviceName", &service}, {"methodName", &method},
      {"payload", &payload}, {"status", &status},       {"error", &error}};
  CoreValue value{};
  if (!Client::SetStructure(&value, 6)) return HostValue();
  for (uint32_t i = 0; i < 6; ++i) {
    (void)Client::SetEntryName(&value.structure.entries[i], fields[i].first);
    (void)Client::SetOwnedString(&value.structure.entries[i].value, *fields[i].second);
  }
  return HostValue::Adopt(&value);
}

// The text of positional argument `index`, or "" when it is missing or not text.
std::string TextArgument(const RecordedRequest& request, size_t index) {
  if (index >= request.arguments.size()) return {};
  return std::string(CoreValueText(request.arguments[index].value.get()));
}

// Escapes `text` as a JSON string literal.
std::string JsonString(std::string_view text) {
  return HostValue::String(text).ToJson();
}

}  // namespace

void SimulatedPeers::Install(CoreHost* host) {
  auto answer = [this, host](const RecordedRequest& request) { return Answer(host, request); };
  host->SetRequestHandler(kMethodPost, kGameflowLaunchPath, answer);
  host->SetRequestHandler(kMethodPost, kServiceProxyUuidPath, answer);
  host->SetRequestHandler(kMethodPost, kServiceProxyMethodPath, answer);
  host->SetRequestPrefixHandler(kMethodPost, kTelemetryPrefix, answer);
}

ScriptedResponse SimulatedPeers::Answer(CoreHost* host, const RecordedRequest& request) {
  if (request.method == kMethodPost) {
    if (request.path == kGameflowLaunchPath) return OnGameflowLaunch(request);
    if (request.path == kServiceProxyUuidPath) return OnServiceProxy(host, request, true);
    if (request.path == kServiceProxyMethodPath) return OnServiceProxy(host, request, false);
    if (request.path.starts_with(kTelemetryPrefix)) return OnTelemetry(request);
  }
  return ScriptedResponse::Error(
      FormatText("No handler for %1 %2", HttpMethodText(HttpMethodFromValue(request.method)),
                 request.path),
      404);
}

void SimulatedPeers::SetRoster(Roster roster) {
  std::lock_guard<std::mutex> lock(mutex_);
  roster_ = std::move(roster);
}

Roster SimulatedPeers::roster() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return roster_;
}

std::vector<std::string> SimulatedPeers::launched_games() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return launched_games_.Copy();
}

std::vector<std::pair<std::string, std::string>> SimulatedPeers::telemetry() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return telemetry_.Copy();
}

std::vector<ServerCall> SimulatedPeers::server_calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return server_calls_.Copy();
}

ScriptedResponse SimulatedPeers::OnGameflowLaunch(const RecordedRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string game =
      request.arguments.empty() ? std::string("null") : request.arguments[0].value.ToJson();
  size_t bytes = game.size();
  launched_games_.Add(std::move(game), bytes, record_limit_, record_bytes_limit_);
  if (roster_.gameflow.has_value()) {
    return ScriptedResponse::Error(roster_.gameflow->error, roster_.gameflow->status);
  }
  return ScriptedResponse::Nil();
}

MaybeType<std::string> SimulatedPeers::AnswerServerCall(const std::string& service,
                                                        const std::string& method,
                                                        std::string_view payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  ServerCall call{service, method, std::string(payload), {}, {}};
  auto finish = [&](MaybeType<std::string> answer) {
    if (answer.is_failure()) {
      call.error = answer.failure().message();
    } else {
      call.answer = answer.value();
    }
    size_t bytes = call.payload.size() + call.answer.size() + call.error.size();
    server_calls_.Add(call, bytes, record_limit_, record_bytes_limit_);
    return answer;
  };
  if (roster_.server.has_value()) return finish(Failure(0, "%1", roster_.server->error));
  if (service != "spectator" || method != "getDropInSpectateAvailability") {
    return finish(Failure("Unknown service method %1.%2", service, method));
  }
  MaybeType<HostValue> request = HostValue::FromJson(payload);
  const CoreValue* names =
      request.has_value() ? FindEntry(request.value().get(), "teamOrSummonerIds") : nullptr;
  if (names == nullptr || names->kind != CoreValueKind::kCollection) {
    return finish(Failure("Malformed payload for %1.%2", service, method));
  }
  std::string answer = "{\"availableForWatching\":[";
  bool first = true;
  for (uint32_t i = 0; i < names->collection.count; ++i) {
    std::string_view name = CoreValueText(names->collection.items[i]);
    if (!roster_.IsInGame(name)) continue;
    if (!first) answer += ',';
    answer += JsonString(name);
    first = false;
  }
  answer += "]}";
  return finish(answer);
}

ScriptedResponse SimulatedPeers::OnServiceProxy(CoreHost* host, const RecordedRequest& request,
                                                bool by_uuid) {
  // By uuid: service, method, plugin id, payload. By method: service, method,
  // reply name, extra text, plugin id, payload.
  std::string service = TextArgument(request, 0);
  std::string method = TextArgument(request, 1);
  std::string reply_name = by_uuid ? std::string() : TextArgument(request, 2);
  std::string payload = TextArgument(request, by_uuid ? 3 : 5);
  MaybeType<std::string> answer = AnswerServerCall(service, method, payload);
  std::string answer_text = answer.has_value() ? answer.value() : std::string();
  std::string error = answer.has_value() ? std::string() : answer.failure().message();
  std::string status = answer.has_value() ? "200" : "500";
  bool hold = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hold = roster_.hold_server_answers;
  }
  if (by_uuid) {
    std::string uuid = NewUuid();
    if (hold) return ScriptedResponse::Value(HostValue::String(uuid));
    host->QueueEvent("OnServiceProxyUuidEvent",
                     ServiceProxyResponse(uuid, service, method, answer_text, status, error));
    return ScriptedResponse::Value(HostValue::String(uuid));
  }
  if (hold) return ScriptedResponse::Nil();
  host->QueueEvent("OnServiceProxyMethodEvent",
                   ServiceProxyResponse("", service, reply_name, answer_text, status, error));
  return ScriptedResponse::Nil();
}

ScriptedResponse SimulatedPeers::OnTelemetry(const RecordedRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::pair<std::string, std::string> event(
      request.path.substr(std::string_view(kTelemetryPrefix).size()),
      request.arguments.empty() ? std::string("null") : request.arguments[0].value.ToJson());
  size_t bytes = event.first.size() + event.second.size();
  telemetry_.Add(std::move(event), bytes, record_limit_, record_bytes_limit_);
  return ScriptedResponse::Nil();
}

std::string NewUuid() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  uint64_t high, low;
  {
    std::lock_guard<std::mutex> lock(mutex);
    high = generator();
    low = generator();
  }
  // Version 4, variant 1.
  high = (high & ~uint64_t{0xF000}) | 0x4000;
  low = (low & ~(uint64_t{0xC} << 60)) | (uint64_t{0x8} << 60);
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 32; ++i) {
    uint64_t half = i < 16 ? high : low;
    int shift = 60 - 4 * (i % 16);
    if (i == 8 || i == 12 || i == 16 || i == 20) text += '-';
    text += kDigits[(half >> shift) & 0xF];
  }
  return text;
}

}  // namespace Kestrel::DevHost
