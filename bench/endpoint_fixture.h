// The set-up of the endpoint-call benchmarks (availability and launch through
// the function descriptor) and their floors: hand-written call-backs built
// directly on RapidJSON and the host records, in the same process and through
// the same in-process host as the plugin.
//
// - Availability: the body lists `count` names; the server (a request handler
//   installed on the host's service-proxy path) answers every other name as in
//   a game, with a text made once. The plugin reads the names, writes the
//   server payload, posts it, awaits the answer event, reads it and answers a
//   structure holding the collection of names. The floor does the same work by
//   hand: RapidJSON reads the names, its writer writes the payload, the request
//   goes through the host's `SendRequest` with the same arguments, the answer
//   arrives as a host event on `Yield` and RapidJSON reads it, and the floor
//   answers the same structure of owned texts.
// - Launch: the plugin reads the three fields, stores the game, posts it to
//   the gameflow plugin and publishes the change twice. The floor reads the
//   three fields with RapidJSON, keeps them, builds the gameflow request's
//   argument and the published event as host records, sends them through the
//   host and releases them.
//
// Floors are told apart from the plugin by their caller id: the server sends
// their answers under an event name the plugin never subscribes to.
//
//   SpectatorInProcess plugin;  plugin.Start();
//   AvailabilityServer server(plugin, AvailabilityInput::Make(10000));
//   AvailabilityFloor floor(plugin.host());  // subscribes to its answers
#ifndef VYN_BENCH_ENDPOINT_FIXTURE_H_
#define VYN_BENCH_ENDPOINT_FIXTURE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "bench/transport_fixture.h"
#include "host_abi/host_records.h"

namespace Kestrel::Bench {

// The caller id of every floor's outgoing request (the plugin's is 1).
inline constexpr uint32_t kFloorCallerId = 2;
// The event the server answers the floors under.
inline constexpr char kFloorAnswerEvent[] = "BenchFloorServiceProxyEvent";

// One availability call's inputs: `count` names (`player00000`, ...) as JSON,
// MessagePack and YAML bodies, the server's answer (every other name, from
// the first) and the answer the host receives as JSON.
struct AvailabilityInput {
  std::vector<std::string> names;
  std::string json;
  std::string msgpack;  // bytes
  std::string yaml;
  std::string server_answer;  // {"availableForWatching":[...]}
  static AvailabilityInput Make(uint32_t count);
};

// Answers every service-proxy call by id with `input.server_answer` as a
// queued event (to the plugin as "OnServiceProxyUuidEvent", to a floor as
// `kFloorAnswerEvent`) and a fresh uuid as the response. Installed at
// construction; `Reinstall` after `SpectatorInProcess::ForgetRecords`, which
// installs the simulated peers again. Must not outlive `plugin`.
class AvailabilityServer {
 public:
  AvailabilityServer(SpectatorInProcess& plugin, std::string answer);
  void Reinstall();

 private:
  SpectatorInProcess& plugin_;
  std::string answer_;
  uint64_t calls_ = 0;
};

// The hand-written availability call-back's state: the host's table, the
// uuid of the call in flight, the answer event's payload read by RapidJSON.
// Construction subscribes `OnAnswer` to `kFloorAnswerEvent` at `host`.
struct AvailabilityFloor {
  explicit AvailabilityFloor(DevHost::CoreHost& host);
  Client::CoreFunctionTable* table;
  std::string uuid;
  std::string answer;  // the answer event's payload text
  bool answered = false;
};

// Reads the JSON body's names, asks the server, answers the structure of the
// names it returned; `request->function_context` is an `AvailabilityFloor*`.
// Answers an error response on any failure. Stores `ReleaseFloorResponse`.
VYN_CDECL void HandWrittenAvailability(Client::CoreResponse* response,
                                       const Client::CoreRequest* request);

// The hand-written launch call-back's state: the host's table and the game
// it keeps (the three fields).
struct LaunchFloor {
  Client::CoreFunctionTable* table = nullptr;
  std::string allow_observe_mode;
  std::string drop_in_spectate_game_id;
  std::string game_queue_type;
};

// Reads the JSON body's three fields into the `LaunchFloor` at
// `request->function_context`, posts the game to the gameflow plugin and
// publishes it as the plugin does; answers no value, or an error response.
VYN_CDECL void HandWrittenLaunch(Client::CoreResponse* response,
                                 const Client::CoreRequest* request);

// One call of `callback` and the release of its response; out of line so
// that callgrind counts a call's instructions alone
// (--toggle-collect='*EndpointCall*').
void EndpointCall(Client::CoreFunctionCallback callback, Client::CoreResponse* response,
                  const Client::CoreRequest* request);

// Frees what a floor's response owns and zeroes it.
VYN_CDECL void ReleaseFloorResponse(Client::CoreResponse* response);

// A request record for `body` (`length` bytes, NUL-terminated text for JSON
// and YAML) with `content_type`, for the descriptor's `context`.
Client::CoreRequest EndpointRequest(uint32_t method, const char* path, const std::string& body,
                                    const char* content_type, void* context);

}  // namespace Kestrel::Bench

#endif  // VYN_BENCH_ENDPOINT_FIXTURE_H_
