// A session of the stand-in host as an HTTP Archive (HAR 1.2), served at
// `GET /devhost/session.har` and read back by `vyn-devhost replay`.
//
// `SessionRecorder` keeps what the host's own records do not tie to a call:
// the outgoing requests with their answers, the events delivered to the
// plugin and the waits (in the order they happened), the events the plugin
// published, and the roster in force when each call ended. `SessionHar`
// writes the calls the host keeps, oldest first, one entry each: the request
// (method, URL, headers, query, body with its MIME type) and the answer as
// the server gave it (status, headers, body, timings). What HAR has no field
// for goes into fields whose names begin with an underscore, as HAR allows:
//
//   "_call", "_function"   the call's number and the plugin function called
//   "_outgoing"            [{"kind": "request", "method", "path", "payload",
//                            "status", "error", "answer"} |
//                           {"kind": "delivery", "name", "payload"} |
//                           {"kind": "beginWait", "name"} | {"kind": "endWait"}]
//   "_events"              {"delivered": [{"name", "payload"}],
//                           "published": [{"name", "payload"}]}
//   "_log"                 [{"level", "time", "text"}]
//   "_allocations"         {"allocations", "liveBytes", "liveAllocations",
//                           "peakLiveBytes"}
//   "_roster"              the roster file's JSON
//
// A body that is not valid UTF-8, or is MessagePack, is kept in Base64: the
// answer's `content` with `"encoding": "base64"` as HAR prescribes, the
// request's `postData` (which has no such field in HAR) with
// `"_encoding": "base64"`.
//
// The recorder borrows the host and the peers (they must outlive it) and
// keeps a bounded window, like the host's. All members are safe from any
// thread.
//
//   SessionRecorder recorder(&host, &peers, 1000, 4 << 20);
//   recorder.Observe(&observer);          // before the host gets `observer`
//   std::string har = recorder.Har();
#ifndef VYN_DEVHOST_SERVER_SESSION_HAR_H_
#define VYN_DEVHOST_SERVER_SESSION_HAR_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "devhost/host/core_host.h"
#include "devhost/host/record_window.h"
#include "devhost/peers/simulated_peers.h"
#include "devhost/server/http_answer.h"

namespace Kestrel::DevHost {

inline constexpr std::string_view kSessionHarPath = "/devhost/session.har";
inline constexpr const char* kBase64Encoding = "base64";

// Whether a body of `content_type` is kept in Base64: MessagePack, or bytes
// that are not valid UTF-8.
bool IsBinaryBody(std::string_view content_type, std::string_view body);

class SessionRecorder {
 public:
  // `host` must not be null; `peers` may be null (no roster is recorded).
  SessionRecorder(const CoreHost* host, const SimulatedPeers* peers, size_t record_limit = 0,
                  size_t record_bytes_limit = 0);
  SessionRecorder(const SessionRecorder&) = delete;
  SessionRecorder& operator=(const SessionRecorder&) = delete;

  // Wraps `observer`'s outgoing, published-event and call members so that
  // the recorder sees them first, then whatever `observer` did. `observer`
  // must not be null.
  void Observe(HostObserver* observer);

  // The HAR 1.2 text of the calls the host keeps. Throws std::bad_alloc
  // only.
  std::string Har() const;

  // The answer to `GET /devhost/session.har`: 200 and the HAR as JSON, or
  // 404 when `recorder` is null (the host records no session); 500 with a
  // message when memory runs out.
  static HttpAnswer Answer(const SessionRecorder* recorder);

 private:
  struct Published {
    uint64_t call = 0;
    RecordedEvent event;
  };

  const CoreHost* host_;
  const SimulatedPeers* peers_;
  size_t record_limit_;
  size_t record_bytes_limit_;
  mutable std::mutex mutex_;
  RecordWindow<OutgoingRecord> outgoing_;
  RecordWindow<Published> published_;
  RecordWindow<std::pair<uint64_t, std::string>> rosters_;  // call, roster JSON
};

// The OpenAPI path item of `/devhost/session.har` (an object keyed by path).
extern const char kSessionPathItems[];

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_SESSION_HAR_H_
