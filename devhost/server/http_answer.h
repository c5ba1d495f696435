// How the stand-in host's server words its answers: the HTTP form of a
// plugin call's outcome, the JSON body of an error answer and its default
// texts, and the Server-Sent Events frame of a published event. Pure
// functions of their arguments, safe from any thread.
#ifndef VYN_DEVHOST_SERVER_HTTP_ANSWER_H_
#define VYN_DEVHOST_SERVER_HTTP_ANSWER_H_

#include <string>
#include <string_view>

#include "devhost/host/core_host.h"
#include "util/failure.h"

namespace Kestrel::DevHost {

// The HTTP form of a call's outcome.
struct HttpAnswer {
  int status = 200;
  std::string content_type;  // "" when there is no body
  std::string body;
};

// Maps the outcome of `CoreHost::Call` to status and body as the server
// describes (http_server.h); a failed `Call` (no function, not initialized)
// keeps its code.
HttpAnswer AnswerForCall(const MaybeType<CallOutcome>& outcome);
// The same for a call that reached the plugin.
HttpAnswer AnswerForOutcome(const CallOutcome& outcome);

// `{"message":"<text>"}` with `text` escaped (and made valid UTF-8).
std::string ErrorBody(std::string_view text);

// What an error answer with `status` says when the server has no more
// precise text; `max_body` is named for 413.
std::string HttpErrorText(int status, size_t max_body);

// The Server-Sent Events frame of one event: "event: <name>", "data: <JSON>"
// and an empty line.
std::string EventFrame(const RecordedEvent& event);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_SERVER_HTTP_ANSWER_H_
