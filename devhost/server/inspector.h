// What the stand-in host shows of the plugin's insides: the calls made into
// it, what it sent to the other plugins and the server, its log lines and its
// memory. The records come from `CoreHost`'s observer and records; this file
// words them as Server-Sent Events frames for the inspector stream and as
// answers of the inspector's endpoints. Pure functions of their arguments
// (the answers read the host's records), safe from any thread.
//
//   GET /devhost/inspector         one stream, each message named by its kind:
//                                  "call", "outgoing", "log", "published",
//                                  "reload"
//   GET /devhost/calls/<number>    one call's request and answer in full
//   GET /devhost/memory            the plugin's allocator counters now
#ifndef VYN_DEVHOST_SERVER_INSPECTOR_H_
#define VYN_DEVHOST_SERVER_INSPECTOR_H_

#include <string>
#include <string_view>

#include "devhost/host/core_host.h"
#include "devhost/host/library_watch.h"
#include "devhost/server/http_answer.h"

namespace Kestrel::DevHost {

inline constexpr std::string_view kInspectorStreamPath = "/devhost/inspector";
inline constexpr std::string_view kCallsPathPrefix = "/devhost/calls/";
inline constexpr std::string_view kMemoryPath = "/devhost/memory";

// The name of an outgoing record's kind, as the stream and the session
// carry it: "request", "delivery", "beginWait" or "endWait".
const char* OutgoingKindName(OutgoingRecord::Kind kind);

// The frames of the inspector stream: "event: <kind>", "data: <JSON>" and an
// empty line.
std::string CallFrame(const CallRecord& call);
std::string OutgoingFrame(const OutgoingRecord& outgoing);
std::string LogFrame(const LogLine& line);
std::string PublishedFrame(const RecordedEvent& event);
std::string ReloadFrame(const ReloadRecord& reload);

// The answer to `GET /devhost/calls/<number>`: the call's summary with its
// request (headers, body, arguments), its answer as the server gave it and
// the counters before and after (200); 404 with a message when the number
// does not parse or the call is not (or no longer) kept.
HttpAnswer CallAnswer(const CoreHost& host, std::string_view url_path);

// The answer to `GET /devhost/memory`: `stats` as JSON (200), with the live
// bytes and allocations they imply.
HttpAnswer MemoryAnswer(const MemoryStats& stats);

// The OpenAPI path items of the inspector's endpoints (an object keyed by
// path) and their schemas (an object keyed by schema name).
extern const char kInspectorPathItems[];
extern const char kInspectorSchemas[];

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_INSPECTOR_H_
