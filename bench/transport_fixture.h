// The set-up shared by the transport benchmarks and their check: the spectator
// module loaded in-process into the in-process host, with the simulated peers
// answering its outgoing calls and a game already launched, and the
// hand-written call-back that is the floor of the GET "/vyn-spectator/v1/spectate"
// figure.
//
// The floor answers what the descriptor call-back answers for that GET (the
// current game as a structure of three owned texts under owned names, in name
// order, the empty content type, no status, no error) by building the host
// value by hand from the game record its function context points to: no route
// matching, argument binding or native conversion. Its response is released
// through the release function it stores, as the host releases every response.
//
//   SpectatorInProcess plugin;
//   if (plugin.Start().has_value()) {
//     const CoreFunctionDescriptor* get = plugin.Find(kMethodGet, kCurrentGamePath);
//   }
#ifndef VYN_BENCH_TRANSPORT_FIXTURE_H_
#define VYN_BENCH_TRANSPORT_FIXTURE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "devhost/host/core_host.h"
#include "devhost/peers/simulated_peers.h"
#include "host_abi/host_records.h"
#include "plugin/spectator/spectator_records.h"
#include "util/failure.h"

namespace Kestrel::Bench {

// The game launched before the benchmarks run, as the launch body sends it.
inline constexpr char kLaunchedGameJson[] =
    R"({"allowObserveMode":"ALL","dropInSpectateGameId":"4242","gameQueueType":"ARAM"})";
// The availability body: one name in a game and one not (demo roster).
inline constexpr char kAvailabilityBody[] = R"(["Ann","Bob"])";

// The spectator module loaded in-process into a `CoreHost`, the simulated
// peers installed on it. Not copyable; the host shuts the module down when
// the fixture ends.
class SpectatorInProcess {
 public:
  SpectatorInProcess();
  ~SpectatorInProcess();
  SpectatorInProcess(const SpectatorInProcess&) = delete;
  SpectatorInProcess& operator=(const SpectatorInProcess&) = delete;

  // Loads and initializes the module and launches `kLaunchedGameJson`. Fails
  // with the host's or the plugin's message when any step fails.
  MaybeType<void> Start();

  // The descriptor of the plugin's function for `method` and `path`, or
  // nullptr when there is none (or before `Start`).
  const Client::CoreFunctionDescriptor* Find(uint32_t method, std::string_view path) const;

  // Forgets the host's records and installs fresh peers (with empty records),
  // so that a long run of calls keeps a bounded memory.
  void ForgetRecords();

  // A copy of the module's current game (read from the module itself); empty
  // texts before `Start`.
  Client::Spectator::Api::SpectateGameInfoResource CurrentGame() const;

  DevHost::CoreHost& host() { return host_; }

 private:
  DevHost::CoreHost host_;
  std::unique_ptr<DevHost::SimulatedPeers> peers_;
};

// The floor's call-back: writes the game at `request->function_context` (a
// `const Api::SpectateGameInfoResource*`) into `response`, which must be
// zeroed or released, and stores `ReleaseHandWrittenResponse` as its release.
VYN_CDECL void HandWrittenCurrentGame(Client::CoreResponse* response,
                                      const Client::CoreRequest* request);

// Frees the value `HandWrittenCurrentGame` wrote and zeroes the response.
VYN_CDECL void ReleaseHandWrittenResponse(Client::CoreResponse* response);

// Explains the first difference between what two responses answer (value
// kinds, texts, entry names and their ownership, error, status, result flag,
// encoding, content type text, headers), or returns "" when they answer the
// same. The release functions are not compared.
std::string ResponseDifference(const Client::CoreResponse& a, const Client::CoreResponse& b);

}  // namespace Kestrel::Bench

#endif  // VYN_BENCH_TRANSPORT_FIXTURE_H_
