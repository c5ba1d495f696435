// The other plugins and the game server as the stand-in host plays them.
//
// `SimulatedPeers` registers request handlers on a `CoreHost`:
// - gameflow: POST "/vyn-gameflow/v1/spectate/launch" records the game it
//   was given and succeeds, or fails with the roster's configured error;
// - login service proxy: POST "/vyn-login/v1/service-proxy-uuid-requests"
//   answers a fresh uuid and queues an `OnServiceProxyUuidEvent` carrying the
//   server's answer; "/vyn-login/v1/service-proxy-method-requests" answers
//   nothing and queues an `OnServiceProxyMethodEvent` under the reply name.
//   The server knows the `spectator` service's
//   `getDropInSpectateAvailability`: the names asked for that the roster marks
//   as in a game, in the order asked (or the roster's server error);
//   With the roster's "holdServerAnswers" the server's answers are never
//   queued, so calls that wait for them wait until the plugin shuts down;
// - telemetry: POST "/telemetry/v1/events/<name>" is recorded.
// The records (games, telemetry, server calls) keep the newest
// `record_limit` entries and about `record_bytes_limit` bytes of each kind
// (0: all).
// The peers hold the roster and their records; they must outlive the host's
// use of the handlers (the handlers point back to them).
//
//   SimulatedPeers peers(DefaultRoster());
//   peers.Install(&host);
#ifndef VYN_DEVHOST_PEERS_SIMULATED_PEERS_H_
#define VYN_DEVHOST_PEERS_SIMULATED_PEERS_H_

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "devhost/host/core_host.h"
#include "devhost/host/record_window.h"
#include "devhost/peers/roster.h"

namespace Kestrel::DevHost {

inline constexpr const char* kGameflowLaunchPath = "/vyn-gameflow/v1/spectate/launch";
inline constexpr const char* kServiceProxyUuidPath = "/vyn-login/v1/service-proxy-uuid-requests";
inline constexpr const char* kServiceProxyMethodPath =
    "/vyn-login/v1/service-proxy-method-requests";
inline constexpr const char* kTelemetryPrefix = "/telemetry/v1/events/";

// One call that reached the simulated server.
struct ServerCall {
  std::string service;
  std::string method;
  std::string payload;  // the JSON text the plugin sent
  std::string answer;   // the JSON text answered ("" on error)
  std::string error;    // the error answered ("" on success)
};

class SimulatedPeers {
 public:
  explicit SimulatedPeers(Roster roster, size_t record_limit = 0, size_t record_bytes_limit = 0)
      : roster_(std::move(roster)),
        record_limit_(record_limit),
        record_bytes_limit_(record_bytes_limit) {}
  SimulatedPeers(const SimulatedPeers&) = delete;
  SimulatedPeers& operator=(const SimulatedPeers&) = delete;

  // Registers the handlers on `host`; `host` must not be null.
  void Install(CoreHost* host);

  // Answers `request` as the installed handlers do (service-proxy answers
  // are queued on `host`, which must not be null): the peer its method and
  // path name, or an error with status 404 when none does.
  ScriptedResponse Answer(CoreHost* host, const RecordedRequest& request);

  // Replaces the roster for the requests that follow.
  void SetRoster(Roster roster);
  // A copy of the roster the peers answer from.
  Roster roster() const;

  // The games handed to the gameflow launch, as JSON texts, in order.
  std::vector<std::string> launched_games() const;
  // The telemetry events as (name, JSON payload), in order.
  std::vector<std::pair<std::string, std::string>> telemetry() const;
  std::vector<ServerCall> server_calls() const;

  // The server's answer to `service`.`method` with the JSON `payload`: the
  // answer's JSON text, or a failure with the error text to report.
  MaybeType<std::string> AnswerServerCall(const std::string& service, const std::string& method,
                                          std::string_view payload);

 private:
  ScriptedResponse OnGameflowLaunch(const RecordedRequest& request);
  ScriptedResponse OnServiceProxy(CoreHost* host, const RecordedRequest& request, bool by_uuid);
  ScriptedResponse OnTelemetry(const RecordedRequest& request);

  mutable std::mutex mutex_;
  Roster roster_;
  size_t record_limit_ = 0;
  size_t record_bytes_limit_ = 0;
  RecordWindow<std::string> launched_games_;
  RecordWindow<std::pair<std::string, std::string>> telemetry_;
  RecordWindow<ServerCall> server_calls_;
};

// A fresh random uuid in its text form (8-4-4-4-12 lower-case hex digits).
std::string NewUuid();

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_PEERS_SIMULATED_PEERS_H_
