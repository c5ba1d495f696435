// The entry of every call of an exposed function, and the one place that
// leads it: `CallFunctionDescriptor` is the call-back the host calls, and
// `Dispatch` matches the host's request against the function's route, binds
// the arguments (argument_binding.h), runs the handler and writes the host's
// response record.
//
// Ownership: everything the response points to (error text, content type
// copy, header array and texts, the value's owned parts) is allocated through
// the counting allocator and freed by `ResetResponse`, whose address
// `Dispatch` stores in the response's `release` field for the host. A stream
// moved into the response is released by the host through `stream_release`,
// never by `ResetResponse`. The request and its texts stay the host's.
//
//   CoreResponse response{};
//   CallFunctionDescriptor(&response, &request);  // the host's way in, or
//   const FunctionRoute* routes[] = {&route};
//   DispatchSafely(&response, &request, routes);
//   response.release(&response);
#ifndef VYN_REMOTING_DISPATCH_H_
#define VYN_REMOTING_DISPATCH_H_

#include <cstdint>
#include <span>
#include <string_view>

#include "host_abi/host_records.h"
#include "remoting/call_gate.h"
#include "remoting/call_result.h"
#include "remoting/route.h"

namespace Kestrel {

class TypeRegistry;

// What the host copies into every request of one function: the gate of the
// module (null: calls are not counted) and the function's route.
struct FunctionContext {
  CallGate* gate = nullptr;
  const FunctionRoute* route = nullptr;
};

// HTTP status of a call that matched no route.
inline constexpr uint32_t kStatusNotFound = 404;
// HTTP status of a call that ended in an unexpected internal error.
inline constexpr uint32_t kStatusInternalError = 500;

// Frees everything `response` owns (see above; not a stream) and sets all its
// bytes to 0. Harmless on a zeroed response; nullptr is ignored. The response
// must have been zeroed or filled by this transport.
VYN_CDECL void ResetResponse(Client::CoreResponse* response);

// Releases the response's value, replaces its error text by an owned copy of
// `message` and sets the error flag. `response` must not be null. Never fails:
// when the copy cannot be allocated the text is a static "Out of memory".
void ReportResponseError(Client::CoreResponse* response, std::string_view message);

// Writes `result` into `response` (not null): the outcome's value or the held
// native value, written without a tree (enumerations named through
// `registry`, which may be null), or its error, the flags, status, content
// type (never null), owned header copies, and the stream, which is moved out
// of `result`. Never fails; allocation failures leave the part concerned
// empty.
void WriteResponse(Client::CoreResponse* response, CallResult& result,
                   const TypeRegistry* registry);

// Handles one call: resets `response` and sets its release function, matches
// `request` against `routes` (none: "Invalid function", status 404), binds
// the arguments (argument_binding.h), runs the route's handler on them (a
// route without one: "Invalid function", status 404) and writes the answer
// (`WriteResponse`). `response` must not be null and must be zeroed or filled
// by this transport; a null `request` counts as matching nothing. May throw
// what a handler or the heap throws; see `DispatchSafely`.
void Dispatch(Client::CoreResponse* response, const Client::CoreRequest* request,
              std::span<const FunctionRoute* const> routes);

// Resets `response` (see `ResetResponse`; a stream in it is released) and
// answers "Finalizing": the answer of a call that came after shutdown. A null
// `response` is ignored. Never fails.
void AnswerFinalizing(Client::CoreResponse* response) noexcept;

// `Dispatch` for the host boundary: never throws. An exception becomes the
// error "Internal error: %1" (with its description) and status 500 in a reset
// response. A null `response` is ignored; a null `request` matches nothing.
void DispatchSafely(Client::CoreResponse* response, const Client::CoreRequest* request,
                    std::span<const FunctionRoute* const> routes) noexcept;

// The call-back of every descriptor, where the host's call enters: counts the
// call in the gate of the request's `FunctionContext`, then dispatches
// `request` to the context's route (`DispatchSafely`). A closed gate answers
// "Finalizing" and runs nothing; a null `request`, or one without a context,
// answers "Invalid function" with status 404; a null `response` is ignored.
// Never throws; the last call to leave a gate after shutdown destroys the
// module before this returns. Safe from any thread.
VYN_CDECL void CallFunctionDescriptor(Client::CoreResponse* response,
                                      const Client::CoreRequest* request);

}  // namespace Kestrel

#endif  // VYN_REMOTING_DISPATCH_H_
