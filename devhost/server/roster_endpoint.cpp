#include "devhost/server/roster_endpoint.h"

#include "devhost/host/host_value.h"

namespace Kestrel::DevHost {
namespace {

std::string JsonString(std::string_view text) {
  return HostValue::String(text).ToJson();
}

std::string PeerFailureJson(const PeerFailure& failure) {
  return "{\"error\":" + JsonString(failure.error) +
         ",\"status\":" + std::to_string(failure.status) + "}";
}

HttpAnswer NoRoster() {
  return HttpAnswer{404, "application/json", ErrorBody("This host serves no roster")};
}

}  // namespace

std::string RosterJson(const Roster& roster) {
  std::string json = "{\"players\":[";
  for (size_t i = 0; i < roster.players.size(); ++i) {
    const RosterPlayer& player = roster.players[i];
    if (i != 0) json += ',';
    json += "{\"name\":" + JsonString(player.name) +
            ",\"inGame\":" + (player.in_game ? "true" : "false") + "}";
  }
  json += "]";
  if (roster.gameflow.has_value()) json += ",\"gameflow\":" + PeerFailureJson(*roster.gameflow);
  if (roster.server.has_value()) json += ",\"server\":" + PeerFailureJson(*roster.server);
  if (roster.hold_server_answers) json += ",\"holdServerAnswers\":true";
  return json + "}";
}

HttpAnswer RosterAnswer(const SimulatedPeers* peers) {
  if (peers == nullptr) return NoRoster();
  return HttpAnswer{200, "application/json", RosterJson(peers->roster())};
}

HttpAnswer ReplaceRosterAnswer(SimulatedPeers* peers, std::string_view body) {
  if (peers == nullptr) return NoRoster();
  MaybeType<Roster> roster = ParseRoster(body);
  if (roster.is_failure()) {
    return HttpAnswer{400, "application/json", ErrorBody(roster.failure().message())};
  }
  std::string json = RosterJson(roster.value());
  peers->SetRoster(roster.TakeValue());
  return HttpAnswer{200, "application/json", std::move(json)};
}

const char kRosterPathItems[] = R"json({
"/devhost/roster": {
  "get": {
    "operationId": "GetDevhostRoster",
    "summary": "The roster the simulated game server answers from",
    "description": "Who the simulated server knows, who of them is in a game that can be watched, and how the simulated peers fail. The stand-in host's own endpoint, not the plugin's.",
    "tags": ["vyn-devhost"],
    "responses": {
      "200": {"description": "The roster",
              "content": {"application/json": {"schema": {"$ref": "#/components/schemas/DevhostRoster"}}}},
      "404": {"description": "This host serves no roster",
              "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}}
    }
  },
  "put": {
    "operationId": "PutDevhostRoster",
    "summary": "Replace the roster while the server runs",
    "description": "The next availability and launch calls are answered from this roster. The stand-in host's own endpoint, not the plugin's.",
    "tags": ["vyn-devhost"],
    "requestBody": {"required": true,
                    "content": {"application/json": {"schema": {"$ref": "#/components/schemas/DevhostRoster"}}}},
    "responses": {
      "200": {"description": "The roster now in force",
              "content": {"application/json": {"schema": {"$ref": "#/components/schemas/DevhostRoster"}}}},
      "400": {"description": "The roster does not parse; the message names the bad key and the roster is left as it was",
              "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}}
    }
  }
}
})json";

const char kRosterSchemas[] = R"json({
  "DevhostRoster": {
    "type": "object",
    "additionalProperties": false,
    "properties": {
      "players": {"type": "array", "items": {"$ref": "#/components/schemas/DevhostRosterPlayer"}},
      "gameflow": {"$ref": "#/components/schemas/DevhostPeerFailure"},
      "server": {"$ref": "#/components/schemas/DevhostPeerFailure"}
    },
    "example": {"players": [{"name": "Ann", "inGame": true}, {"name": "Bob", "inGame": false}]}
  },
  "DevhostRosterPlayer": {
    "type": "object",
    "additionalProperties": false,
    "required": ["name"],
    "properties": {"name": {"type": "string", "minLength": 1},
                   "inGame": {"type": "boolean", "default": false}}
  },
  "DevhostPeerFailure": {
    "type": "object",
    "additionalProperties": false,
    "required": ["error"],
    "properties": {"error": {"type": "string", "minLength": 1},
                   "status": {"type": "integer", "minimum": 100, "maximum": 599, "default": 500}}
  }
})json";

}  // namespace Kestrel::DevHost
