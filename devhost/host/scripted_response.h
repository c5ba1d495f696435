// `ScriptedResponse`: how the in-process host answers one outgoing request
// of the plugin (a value, an error, or a stream read in pieces), and the
// filling of the plugin's `CoreResponse` from it.
//
// A filled response owns what the host put into it (the value, the error
// text, the stream) until the plugin calls the response's release function
// (and the stream's release function for a stream).
//
//   FillResponse(ScriptedResponse::Json(R"({"id": 5})"), response);
#ifndef VYN_DEVHOST_HOST_SCRIPTED_RESPONSE_H_
#define VYN_DEVHOST_HOST_SCRIPTED_RESPONSE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "devhost/host/host_value.h"
#include "host_abi/host_records.h"

namespace Kestrel::DevHost {

// One piece of a scripted response stream. A read returns at most the
// reader's buffer size; a chunk larger than that is split over several reads
// with "more" set, and its own `more` applies to its last piece. A chunk with
// `fail` makes that read return false.
struct StreamChunk {
  std::string data;
  bool more = true;
  bool fail = false;
};

// How the host answers one outgoing request of the plugin.
struct ScriptedResponse {
  HostValue value;
  bool error = false;
  std::string error_text;
  uint32_t status = 0;
  bool streamed = false;
  std::vector<StreamChunk> chunks;

  // Success with `value` (nil: no value).
  static ScriptedResponse Value(HostValue value);
  static ScriptedResponse Nil() { return Value(HostValue()); }
  // Success with the value parsed from JSON `text`; a text that does not
  // parse gives an error response with status 500 naming the problem.
  static ScriptedResponse Json(std::string_view text);
  // An error response with `text` and `status` (0: none).
  static ScriptedResponse Error(std::string text, uint32_t status);
  // A streamed response made of `chunks` (and no value).
  static ScriptedResponse Stream(std::vector<StreamChunk> chunks);
};

// Fills `response` (overwritten whole) from `scripted`: the error with its
// text and status, the stream, or the value. `response` must not be null; an
// error text that cannot be copied leaves the error flag unset.
void FillResponse(ScriptedResponse scripted, Client::CoreResponse* response);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_HOST_SCRIPTED_RESPONSE_H_
