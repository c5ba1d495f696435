// `SpectatorModule`: the plugin's feature. It answers three endpoints for the
// client's user interface:
//
//   POST /vyn-spectator/v1/buddy/spectate   which of the given friends or teams
//                                           can be watched now (asks the game
//                                           server's `spectator` service)
//   POST /vyn-spectator/v1/spectate/launch  start watching a game (hands it to
//                                           the gameflow plugin, then publishes
//                                           the change)
//   GET  /vyn-spectator/v1/spectate         the game last asked to be watched
//
// The module owns the current game for its whole life; nothing is persisted.
// Everything else (registry, routes, host services) is the base module's.
//
// Threads: the host calls the endpoints on its own threads, several at once.
// The current game is the only state they share: `Launch` writes it and
// `CurrentGameResult` copies it, each under the module's lock for it, so a reader
// sees one whole game, never a mix of two. Availability calls share nothing
// but the base module's service-proxy tables, which lock themselves.
#ifndef VYN_PLUGIN_SPECTATOR_SPECTATOR_MODULE_H_
#define VYN_PLUGIN_SPECTATOR_SPECTATOR_MODULE_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/host/app_module.h"
#include "plugin/spectator/spectator_records.h"
#include "remoting/typed_result.h"
#include "util/failure.h"

namespace Kestrel::Client::Spectator {

// Paths of the endpoints and of the calls the feature makes.
inline constexpr char kAvailabilityPath[] = "/vyn-spectator/v1/buddy/spectate";
inline constexpr char kLaunchPath[] = "/vyn-spectator/v1/spectate/launch";
inline constexpr char kCurrentGamePath[] = "/vyn-spectator/v1/spectate";
inline constexpr char kGameflowLaunchPath[] = "/vyn-gameflow/v1/spectate/launch";
inline constexpr char kSpectatorService[] = "spectator";
inline constexpr char kAvailabilityMethod[] = "getDropInSpectateAvailability";

class SpectatorModule : public CoreAppModule {
 public:
  SpectatorModule() = default;
  ~SpectatorModule() override;

  // Registers the DTOs and resources, then the three endpoints in order.
  void RegisterApi() override;

  // Asks the server which of `names` can be watched now. Fails with status
  // 500 when the server (or the service proxy) fails.
  MaybeType<Api::SummonerOrTeamSpectateResource> GetAvailability(
      const std::vector<std::string>& names);
  // Stores `game` as the current game (kept whatever follows), hands it to the
  // gameflow plugin and, when that succeeds, publishes the change.
  MaybeType<void> Launch(const Api::SpectateGameInfoResource& game);
  // A copy of the current game (three empty texts before the first launch).
  // Thread-safe.
  Api::SpectateGameInfoResource current_game() const;
  // The answer of the GET: a copy of the current game made in the result
  // itself. Thread-safe.
  RemotingTypedResult<Api::SpectateGameInfoResource> CurrentGameResult() const;

 private:
  mutable std::mutex current_game_mutex_;  // guards `current_game_` only
  Api::SpectateGameInfoResource current_game_;
  // The DTOs' server class names, recorded as the module registers them; the
  // module keeps the record for its life, though no call of its own reads it.
  ServerClassNames server_class_names_;
};

}  // namespace Kestrel::Client::Spectator

#endif  // VYN_PLUGIN_SPECTATOR_SPECTATOR_MODULE_H_
