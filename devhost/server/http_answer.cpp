#include "devhost/server/http_answer.h"

namespace Kestrel::DevHost {

std::string HttpErrorText(int status, size_t max_body) {
  switch (status) {
    case 400:
      return "Bad request: the request line, a header or the body framing could not be read";
    case 404:
      return "Not found";
    case 405:
      return "Method not allowed";
    case 408:
      return "The request was not received in time";
    case 413:
      return FormatText("The request body is larger than the limit of %1 bytes (--max-body)",
                        static_cast<uint64_t>(max_body));
    case 414:
      return "The request target (path and query) is too long";
    case 416:
      return "The requested range cannot be served";
    case 431:
      return "The request headers are too large";
    case 500:
      return "Internal error while serving the request";
    case 501:
      return "The request method is not implemented";
    case 503:
      return "The server cannot serve the request now";
  }
  return FormatText("The request failed with HTTP status %1", status);
}

HttpAnswer AnswerForCall(const MaybeType<CallOutcome>& outcome) {
  HttpAnswer answer;
  if (outcome.is_failure()) {
    answer.status = outcome.failure().code() != 0 ? outcome.failure().code() : 500;
    answer.content_type = "application/json";
    answer.body = ErrorBody(outcome.failure().message());
    return answer;
  }
  return AnswerForOutcome(outcome.value());
}

HttpAnswer AnswerForOutcome(const CallOutcome& result) {
  HttpAnswer answer;
  if (result.error) {
    answer.status = result.status != 0 ? static_cast<int>(result.status) : 500;
    answer.content_type = "application/json";
    answer.body = ErrorBody(result.error_text);
    return answer;
  }
  if (result.streamed && result.stream_failed) {
    answer.status = 500;
    answer.content_type = "application/json";
    answer.body = ErrorBody("Stream read error");
    return answer;
  }
  if (!result.streamed && result.value.is_nil()) {
    answer.status = 204;
    return answer;
  }
  answer.status = result.status >= 200 && result.status < 300 && result.status != 204
                      ? static_cast<int>(result.status)
                      : 200;
  answer.content_type =
      result.streamed && !result.content_type.empty() ? result.content_type : "application/json";
  answer.body = result.ValueJson();
  return answer;
}

std::string ErrorBody(std::string_view text) {
  return "{\"message\":" + HostValue::String(text).ToJson() + "}";
}

std::string EventFrame(const RecordedEvent& event) {
  // A name with a line break would end the field early; such names do not
  // occur, but the frame must stay well-formed.
  std::string name = event.name;
  for (char& c : name) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return "event: " + name + "\ndata: " + event.payload.ToJson() + "\n\n";
}

}  // namespace Kestrel::DevHost
