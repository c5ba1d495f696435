// Argument binding: how the values of one call are gathered from the request's
// headers, query string, path parameters, host arguments and body into one
// `BindingProperty` slot per declared argument. Dispatch (dispatch.h) leads
// the call: it binds through `BindArguments`, then runs the handler on the
// slots and writes the answer.
//
// Sources are bound in this order, a later one overwriting an earlier one for
// the same argument: headers (looked up by the argument's name in lower case),
// path parameters, query values, host arguments, body (first body argument
// only). An argument with a location accepts only that source (host arguments
// and the body excepted). The first failure ends the binding and is recorded
// in the call result.
//
// Each value is read where it comes from, then converted: the body by its
// content type, and text values of composite arguments ("object", "vector",
// "struct") by their first bytes (MessagePack, JSON or YAML, else a string).
// A dotted query name such as 'items.2.name' addresses an element or field
// below the argument.
//
//   CallResult result;
//   ArgumentSlots slots;
//   if (BindArguments(request, state, function, result, slots)) { /* run */ }
#ifndef VYN_REMOTING_ARGUMENT_BINDING_H_
#define VYN_REMOTING_ARGUMENT_BINDING_H_

#include <cstddef>
#include <cstdint>

#include "host_abi/host_records.h"
#include "remoting/call_result.h"
#include "remoting/function_handler.h"
#include "remoting/route.h"

namespace Kestrel {

// How a body or a text value is read.
enum class BodyContent : uint32_t {
  kUnsupported = 0,
  kJson = 1,
  kYaml = 2,
  kMessagePack = 3,
};

// How many elements dotted indexes may add to collections in one call, in
// total. A query piece such as 'items.200000000=a' would otherwise ask for
// hundreds of millions of elements, and many pieces that each stay small could
// add up to as many; an index that would exceed this bound is out of range.
inline constexpr std::size_t kMaxIndexGrowth = 65536;

// Binds every source of `request` for the route chosen in `state` (which must
// hold one, and the request's path as `Dispatch` sets it) into `slots`, one
// per argument of `function`, the route's record. Returns false after
// recording the first failure in `result` (the slots are then partly bound).
// May throw std::bad_alloc.
[[nodiscard]] bool BindArguments(const Client::CoreRequest& request, const MatchState& state,
                                 const FunctionRecord& function, CallResult& result,
                                 ArgumentSlots& slots);

// Classifies a content type by case-insensitive prefix. `content_type` may be
// null, which counts as unsupported. Never fails.
BodyContent BodyContentClass(const char* content_type);

}  // namespace Kestrel

#endif  // VYN_REMOTING_ARGUMENT_BINDING_H_
