// The stand-in host's own roster endpoint, `/devhost/roster`: the page reads
// who the simulated server knows and replaces the roster while the server
// runs. The body is the roster file's JSON (see roster.h) both ways.
//
//   GET /devhost/roster   200, the roster the peers answer from
//   PUT /devhost/roster   200 and the new roster; 400 {"message"} naming the
//                         bad key (the roster is left as it was)
//
// Both answer 404 when the host serves no roster (no peers). The peers are
// borrowed; they must outlive the answers' use of them.
//
//   HttpAnswer answer = ReplaceRosterAnswer(&peers, R"({"players":[{"name":"Ann"}]})");
#ifndef VYN_DEVHOST_SERVER_ROSTER_ENDPOINT_H_
#define VYN_DEVHOST_SERVER_ROSTER_ENDPOINT_H_

#include <string>
#include <string_view>

#include "devhost/peers/roster.h"
#include "devhost/peers/simulated_peers.h"
#include "devhost/server/http_answer.h"

namespace Kestrel::DevHost {

inline constexpr const char* kRosterEndpointPath = "/devhost/roster";

// The roster as the JSON a roster file holds: "players" always, "gameflow"
// and "server" when set, "holdServerAnswers" when true.
std::string RosterJson(const Roster& roster);

// The answer to GET: the peers' roster as JSON (200); `peers` may be null.
HttpAnswer RosterAnswer(const SimulatedPeers* peers);

// The answer to PUT with `body`: replaces the peers' roster and answers it
// (200), or answers 400 with the parser's message and keeps the roster;
// `peers` may be null.
HttpAnswer ReplaceRosterAnswer(SimulatedPeers* peers, std::string_view body);

// The OpenAPI path item of the endpoint (an object keyed by its path) and
// the schemas it refers to (an object keyed by schema name).
extern const char kRosterPathItems[];
extern const char kRosterSchemas[];

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_ROSTER_ENDPOINT_H_
