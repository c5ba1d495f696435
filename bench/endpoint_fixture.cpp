#include "bench/endpoint_fixture.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "devhost/host/core_host.h"
#include "devhost/host/host_value.h"
#include "host_abi/core_value.h"
#include "plugin/host/service_proxy.h"
#include "plugin/spectator/spectator_module.h"
#include "util/counting_allocator.h"

namespace Kestrel::Bench {
namespace {

using Client::CoreArgument;
using Client::CoreEvent;
using Client::CoreFunctionTable;
using Client::CoreRequest;
using Client::CoreResponse;
using Client::CoreStructEntry;
using Client::CoreValue;
using Client::CoreValueKind;

constexpr char kEmptyContentType[] = "";
constexpr char kUpdateEventType[] = "Update";
constexpr char kGameEventName[] = "OnJsonApiEvent_vyn-spectator_v1_spectate";
constexpr char kJsonApiEventName[] = "OnJsonApiEvent";

// The service-proxy answer as the login plugin sends it (six owned texts in
// name order, as the simulated peers build it).
DevHost::HostValue ServiceProxyAnswer(const std::string& uuid, const std::string& payload) {
  const std::pair<const char*, std::string_view> fields[] = {
      {"error", ""},        {"methodName", Client::Spectator::kAvailabilityMethod},
      {"payload", payload}, {"serviceName", Client::Spectator::kSpectatorService},
      {"status", "200"},    {"uuid", uuid}};
  CoreValue value{};
  if (!Client::SetStructure(&value, 6)) return DevHost::HostValue();
  for (uint32_t i = 0; i < 6; ++i) {
    (void)Client::SetEntryName(&value.structure.entries[i], fields[i].first);
    (void)Client::SetOwnedString(&value.structure.entries[i].value, fields[i].second);
  }
  return DevHost::HostValue::Adopt(&value);
}

void AnswerError(CoreResponse* response, const char* text) {
  response->release = &ReleaseFloorResponse;
  response->content_type = kEmptyContentType;
  response->error_flag = 1;
  response->error_text = Client::CopyOwnedText(text);
  response->status_code = 500;
}

// Sends `request` through the host and releases its response; false when the
// host answered an error. `uuid`, when given, receives the answer's text.
bool Send(CoreFunctionTable* table, const CoreRequest& request, std::string* uuid) {
  CoreResponse answer{};
  table->SendRequest(table, &answer, &request);
  const bool ok = answer.error_flag == 0;
  if (ok && uuid != nullptr) {
    const Client::CoreValueKind kind = Client::ReadPacked(answer.value.kind);
    if (kind == CoreValueKind::kOwnedString || kind == CoreValueKind::kBorrowedString) {
      uuid->assign(answer.value.bytes.data);
    }
  }
  if (answer.release != nullptr) answer.release(&answer);
  return ok;
}

VYN_CDECL void OnFloorAnswer(const CoreEvent* event) {
  auto* floor = static_cast<AvailabilityFloor*>(event->context);
  const CoreValue& payload = event->payload;
  if (Client::ReadPacked(payload.kind) != CoreValueKind::kStructure) return;
  const char* uuid = nullptr;
  const char* text = nullptr;
  for (uint32_t i = 0; i < Client::ReadPacked(payload.structure.count); ++i) {
    const CoreStructEntry& entry = payload.structure.entries[i];
    if (std::strcmp(entry.name, "uuid") == 0) uuid = entry.value.bytes.data;
    if (std::strcmp(entry.name, "payload") == 0) text = entry.value.bytes.data;
  }
  if (uuid == nullptr || text == nullptr || floor->uuid != uuid) return;
  floor->answer.assign(text);
  floor->answered = true;
}

}  // namespace

AvailabilityInput AvailabilityInput::Make(uint32_t count) {
  AvailabilityInput input;
  input.names.reserve(count);
  input.json = "[";
  input.yaml.clear();
  // MessagePack: an array 16 or 32 header, then fixstr names.
  if (count < 65536) {
    input.msgpack += static_cast<char>(0xdc);
    input.msgpack += static_cast<char>(count >> 8);
    input.msgpack += static_cast<char>(count & 0xff);
  } else {
    input.msgpack += static_cast<char>(0xdd);
    for (int shift = 24; shift >= 0; shift -= 8) {
      input.msgpack += static_cast<char>((count >> shift) & 0xff);
    }
  }
  input.server_answer = R"({"availableForWatching":[)";
  for (uint32_t i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof(name), "player%05u", i);
    input.names.emplace_back(name);
    if (i != 0) input.json += ',';
    input.json += '"' + input.names.back() + '"';
    input.yaml += "- " + input.names.back() + "\n";
    input.msgpack += static_cast<char>(0xa0 | input.names.back().size());
    input.msgpack += input.names.back();
    if (i % 2 == 0) {
      if (i != 0) input.server_answer += ',';
      input.server_answer += '"' + input.names.back() + '"';
    }
  }
  input.json += ']';
  input.server_answer += "]}";
  return input;
}

AvailabilityServer::AvailabilityServer(SpectatorInProcess& plugin, std::string answer)
    : plugin_(plugin), answer_(std::move(answer)) {
  Reinstall();
}

void AvailabilityServer::Reinstall() {
  DevHost::CoreHost* host = &plugin_.host();
  host->SetRequestHandler(
      Kestrel::kMethodPost, Client::kServiceProxyUuidPath,
      [this, host](const DevHost::RecordedRequest& request) {
        const std::string uuid = "bench-" + std::to_string(++calls_);
        host->QueueEvent(
            request.caller_id == kFloorCallerId ? kFloorAnswerEvent : "OnServiceProxyUuidEvent",
            ServiceProxyAnswer(uuid, answer_));
        return DevHost::ScriptedResponse::Value(DevHost::HostValue::String(uuid));
      });
}

AvailabilityFloor::AvailabilityFloor(DevHost::CoreHost& host) : table(host.functions()) {
  table->Subscribe(table, kFloorAnswerEvent, kFloorCallerId, &OnFloorAnswer, this, 0);
}

void HandWrittenAvailability(CoreResponse* response, const CoreRequest* request) {
  auto* floor = static_cast<AvailabilityFloor*>(request->function_context);
  rapidjson::Document names;
  names.Parse(request->body);
  if (names.HasParseError() || !names.IsArray()) return AnswerError(response, "bad body");

  rapidjson::StringBuffer payload;
  rapidjson::Writer<rapidjson::StringBuffer> writer(payload);
  writer.StartObject();
  writer.Key("teamOrSummonerIds");
  writer.StartArray();
  for (const rapidjson::Value& name : names.GetArray()) {
    if (!name.IsString()) return AnswerError(response, "bad name");
    writer.String(name.GetString(), name.GetStringLength());
  }
  writer.EndArray();
  writer.EndObject();

  CoreArgument arguments[4] = {};
  arguments[0].value = Client::MakeBorrowedStringValue(Client::Spectator::kSpectatorService);
  arguments[1].value = Client::MakeBorrowedStringValue(Client::Spectator::kAvailabilityMethod);
  arguments[2].value = Client::MakeUnsignedValue(kFloorCallerId);
  arguments[3].value = Client::MakeBorrowedStringValue(payload.GetString());
  CoreRequest post{};
  post.method = Kestrel::kMethodPost;
  post.path = Client::kServiceProxyUuidPath;
  post.arguments = arguments;
  post.argument_count = 4;
  post.caller_id = kFloorCallerId;
  floor->answered = false;
  if (!Send(floor->table, post, &floor->uuid)) return AnswerError(response, "not sent");
  while (!floor->answered) floor->table->Yield(floor->table);

  rapidjson::Document answer;
  answer.Parse(floor->answer.c_str(), floor->answer.size());
  if (answer.HasParseError() || !answer.IsObject()) return AnswerError(response, "bad answer");
  const auto found = answer.FindMember("availableForWatching");
  if (found == answer.MemberEnd() || !found->value.IsArray()) {
    return AnswerError(response, "bad answer");
  }
  const auto available = found->value.GetArray();
  response->release = &ReleaseFloorResponse;
  response->content_type = kEmptyContentType;
  CoreValue& value = response->value;
  if (!Client::SetStructure(&value, 1)) return;
  CoreStructEntry& entry = value.structure.entries[0];
  (void)Client::SetEntryName(&entry, "availableForWatching");
  if (!Client::SetCollection(&entry.value, available.Size())) return;
  for (uint32_t i = 0; i < available.Size(); ++i) {
    const rapidjson::Value& name = available[i];
    if (!name.IsString()) continue;
    (void)Client::SetOwnedString(&entry.value.collection.items[i],
                                 std::string_view(name.GetString(), name.GetStringLength()));
  }
}

void HandWrittenLaunch(CoreResponse* response, const CoreRequest* request) {
  auto* floor = static_cast<LaunchFloor*>(request->function_context);
  rapidjson::Document body;
  body.Parse(request->body);
  if (body.HasParseError() || !body.IsObject()) return AnswerError(response, "bad body");
  const std::pair<const char*, std::string*> fields[] = {
      {"allowObserveMode", &floor->allow_observe_mode},
      {"dropInSpectateGameId", &floor->drop_in_spectate_game_id},
      {"gameQueueType", &floor->game_queue_type}};
  for (const auto& [name, kept] : fields) {
    const auto found = body.FindMember(name);
    if (found == body.MemberEnd() || !found->value.IsString()) {
      return AnswerError(response, "bad field");
    }
    kept->assign(found->value.GetString(), found->value.GetStringLength());
  }

  // The game as a host structure of its three texts, in name order.
  CoreValue game{};
  if (!Client::SetStructure(&game, 3)) return AnswerError(response, "no memory");
  for (uint32_t i = 0; i < 3; ++i) {
    (void)Client::SetEntryName(&game.structure.entries[i], fields[i].first);
    game.structure.entries[i].value = Client::MakeBorrowedStringValue(fields[i].second->c_str());
  }
  CoreArgument argument{};
  argument.value = game;
  CoreRequest post{};
  post.method = Kestrel::kMethodPost;
  post.path = Client::Spectator::kGameflowLaunchPath;
  post.arguments = &argument;
  post.argument_count = 1;
  post.caller_id = kFloorCallerId;
  const bool launched = Send(floor->table, post, nullptr);
  if (!launched) {
    Client::ReleaseCoreValue(&game);
    return AnswerError(response, "launch failed");
  }

  // The published change: {data, eventType, uri}, under both event names.
  CoreEvent event{};
  if (!Client::SetStructure(&event.payload, 3)) {
    Client::ReleaseCoreValue(&game);
    return AnswerError(response, "no memory");
  }
  CoreStructEntry* entries = event.payload.structure.entries;
  (void)Client::SetEntryName(&entries[0], "data");
  entries[0].value = game;
  (void)Client::SetEntryName(&entries[1], "eventType");
  entries[1].value = Client::MakeBorrowedStringValue(kUpdateEventType);
  (void)Client::SetEntryName(&entries[2], "uri");
  entries[2].value = Client::MakeBorrowedStringValue(Client::Spectator::kCurrentGamePath);
  event.name = kGameEventName;
  floor->table->SendEvent(floor->table, &event);
  event.name = kJsonApiEventName;
  floor->table->SendEvent(floor->table, &event);
  Client::ReleaseCoreValue(&event.payload);  // the game's structure with it

  response->release = &ReleaseFloorResponse;
  response->content_type = kEmptyContentType;
}

[[gnu::noinline]] void EndpointCall(Client::CoreFunctionCallback callback, CoreResponse* response,
                                    const CoreRequest* request) {
  callback(response, request);
  Client::ReadPacked(response->release)(response);
}

void ReleaseFloorResponse(CoreResponse* response) {
  Client::ReleaseCoreValue(&response->value);
  if (response->error_text != nullptr) Kestrel::CountingFree(response->error_text);
  std::memset(static_cast<void*>(response), 0, sizeof(CoreResponse));
}

CoreRequest EndpointRequest(uint32_t method, const char* path, const std::string& body,
                            const char* content_type, void* context) {
  CoreRequest request{};
  request.method = method;
  request.path = path;
  request.function_context = context;
  request.content_type = content_type;
  request.body = body.c_str();
  request.body_length = static_cast<uint32_t>(body.size());
  return request;
}

}  // namespace Kestrel::Bench
