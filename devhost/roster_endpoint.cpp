#include "devhost/roster_endpoint.h"

#include "devhost/host_value.h"

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

}  // namespace Kestrel::DevHost
