// `Roster`: who the stand-in host's simulated peers know, and how they fail.
//
// The login service proxy answers the spectator availability question from
// the players marked as in a game; the gameflow plugin and the game server
// can be told to fail. A built-in demo roster works with no file; a JSON file
// replaces it:
//
//   {"players": [{"name": "Ann", "inGame": true}, {"name": "Bob"}],
//    "gameflow": {"error": "Gameflow is busy", "status": 503},
//    "server": {"error": "Service unavailable"},
//    "holdServerAnswers": false}
//
// Every key is optional; "inGame" defaults to false, a peer "status" to 500.
// "holdServerAnswers" keeps the server's answers back, so that calls wait
// for them until the plugin shuts down (for trying a shutdown while calls
// wait).
// Unknown keys are refused so that a typo does not go unnoticed.
#ifndef VYN_DEVHOST_PEERS_ROSTER_H_
#define VYN_DEVHOST_PEERS_ROSTER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/failure.h"

namespace Kestrel::DevHost {

struct RosterPlayer {
  std::string name;
  bool in_game = false;
};

// A configured failure of a peer: its error text and response status.
struct PeerFailure {
  std::string error;
  uint32_t status = 500;
};

struct Roster {
  std::vector<RosterPlayer> players;
  std::optional<PeerFailure> gameflow;
  std::optional<PeerFailure> server;
  bool hold_server_answers = false;

  // Whether a player named exactly `name` is in a watchable game.
  bool IsInGame(std::string_view name) const;
};

// The built-in demo roster: five players, three of them in a game.
Roster DefaultRoster();

// Parses roster JSON. Fails with status 400 and a message naming the
// offending key ("players[1].inGame must be true or false").
MaybeType<Roster> ParseRoster(std::string_view text);

// Reads and parses the roster file at `path`. Fails when it cannot be read
// or does not parse; the message names the file.
MaybeType<Roster> LoadRosterFile(const std::string& path);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_PEERS_ROSTER_H_
