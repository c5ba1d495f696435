#include "devhost/peers/roster.h"

#include <fstream>
#include <sstream>

#include "devhost/host/host_value.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreStructEntry;
using Client::CoreValueKind;

bool IsText(const CoreValue& value) {
  return value.kind == CoreValueKind::kOwnedString || value.kind == CoreValueKind::kBorrowedString;
}

// Reads {"error": text, "status": 100..599} into `*failure`.
MaybeType<void> ParsePeerFailure(const CoreValue& value, const std::string& key,
                                 PeerFailure* failure) {
  if (value.kind != CoreValueKind::kStructure) {
    return Failure(400, "%1 must be an object", key);
  }
  bool has_error = false;
  for (uint32_t i = 0; i < value.structure.count; ++i) {
    const CoreStructEntry& entry = value.structure.entries[i];
    std::string name = entry.name != nullptr ? entry.name : "";
    if (name == "error") {
      if (!IsText(entry.value)) return Failure(400, "%1.error must be a string", key);
      failure->error = std::string(CoreValueText(entry.value));
      has_error = true;
    } else if (name == "status") {
      bool in_range = (entry.value.kind == CoreValueKind::kSigned &&
                       entry.value.signed_value >= 100 && entry.value.signed_value <= 599);
      if (!in_range) return Failure(400, "%1.status must be an integer from 100 to 599", key);
      failure->status = static_cast<uint32_t>(entry.value.signed_value);
    } else {
      return Failure(400, "Unknown key '%1' in %2", name, key);
    }
  }
  if (!has_error || failure->error.empty()) {
    return Failure(400, "%1.error must be a non-empty string", key);
  }
  return {};
}

MaybeType<void> ParsePlayers(const CoreValue& value, std::vector<RosterPlayer>* players) {
  if (value.kind != CoreValueKind::kCollection) return Failure(400, "players must be an array");
  for (uint32_t i = 0; i < value.collection.count; ++i) {
    const CoreValue& item = value.collection.items[i];
    std::string key = FormatText("players[%1]", i);
    if (item.kind != CoreValueKind::kStructure) return Failure(400, "%1 must be an object", key);
    RosterPlayer player;
    bool has_name = false;
    for (uint32_t j = 0; j < item.structure.count; ++j) {
      const CoreStructEntry& entry = item.structure.entries[j];
      std::string name = entry.name != nullptr ? entry.name : "";
      if (name == "name") {
        if (!IsText(entry.value)) return Failure(400, "%1.name must be a string", key);
        player.name = std::string(CoreValueText(entry.value));
        has_name = true;
      } else if (name == "inGame") {
        if (entry.value.kind != CoreValueKind::kBool) {
          return Failure(400, "%1.inGame must be true or false", key);
        }
        player.in_game = entry.value.bool_value != 0;
      } else {
        return Failure(400, "Unknown key '%1' in %2", name, key);
      }
    }
    if (!has_name || player.name.empty()) {
      return Failure(400, "%1.name must be a non-empty string", key);
    }
    players->push_back(std::move(player));
  }
  return {};
}

}  // namespace

bool Roster::IsInGame(std::string_view name) const {
  for (const RosterPlayer& player : players) {
    if (player.name == name) return player.in_game;
  }
  return false;
}

Roster DefaultRoster() {
  Roster roster;
  roster.players = {
      {"Ann", true}, {"Bob", false}, {"Cleo", true}, {"Dario", false}, {"Esme", true}};
  return roster;
}

MaybeType<Roster> ParseRoster(std::string_view text) {
  MaybeType<HostValue> parsed = HostValue::FromJson(text);
  if (parsed.is_failure()) return parsed.failure();
  const CoreValue& root = parsed.value().get();
  if (root.kind != CoreValueKind::kStructure) return Failure(400, "The roster must be an object");
  Roster roster;
  for (uint32_t i = 0; i < root.structure.count; ++i) {
    const CoreStructEntry& entry = root.structure.entries[i];
    std::string name = entry.name != nullptr ? entry.name : "";
    MaybeType<void> done;
    if (name == "players") {
      done = ParsePlayers(entry.value, &roster.players);
    } else if (name == "gameflow") {
      roster.gameflow.emplace();
      done = ParsePeerFailure(entry.value, name, &*roster.gameflow);
    } else if (name == "server") {
      roster.server.emplace();
      done = ParsePeerFailure(entry.value, name, &*roster.server);
    } else if (name == "holdServerAnswers") {
      if (entry.value.kind != CoreValueKind::kBool) {
        done = Failure(400, "holdServerAnswers must be true or false");
      } else {
        roster.hold_server_answers = entry.value.bool_value != 0;
      }
    } else {
      done = Failure(400, "Unknown key '%1' in the roster", name);
    }
    if (done.is_failure()) return done.failure();
  }
  return roster;
}

MaybeType<Roster> LoadRosterFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return Failure(400, "Cannot read roster file '%1'", path);
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return Failure(400, "Cannot read roster file '%1'", path);
  MaybeType<Roster> roster = ParseRoster(text.str());
  if (roster.is_failure()) {
    return Failure(400, "Bad roster file '%1': %2", path, roster.failure().message());
  }
  return roster;
}

}  // namespace Kestrel::DevHost
