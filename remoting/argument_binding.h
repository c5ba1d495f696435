// Argument binding: how the values of one call are gathered from the request's
// headers, query string, path parameters, host arguments and body into one
// `BindingProperty` slot per declared argument, and how the handler is then
// prepared, invoked and its result written.
//
// Sources are bound in this order, a later one overwriting an earlier one for
// the same argument: headers (looked up by the argument's name in lower case),
// path parameters, query values, host arguments, body (first body argument
// only). An argument with a location accepts only that source (host arguments
// and the body excepted). The first failure ends the binding; the response
// then carries its message and the handler is not invoked.
//
// Text values of composite arguments ("object", "vector", "struct") are
// sniffed: MessagePack, JSON or YAML, else a string; a dotted query name such
// as 'items.2.name' addresses an element or field below the argument.
//
//   MatchState state;  // chosen by MatchRoutes
//   BindAndInvoke(response, request, state);
#ifndef VYN_REMOTING_ARGUMENT_BINDING_H_
#define VYN_REMOTING_ARGUMENT_BINDING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "binding/binding_property.h"
#include "binding/type_registry.h"
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

// How many dotted segments a name may have below its argument: the nesting
// bound of the body readers. A deeper name would build a tree that every later
// recursive walk (copies, conversions, writers) would have to descend.
inline constexpr std::size_t kMaxPathDepth = 512;

// The binding state of one call.
struct BindingCall {
  CallResult& result;
  ArgumentSlots& slots;
  // The function's record; an empty record when the registry has none.
  const FunctionRecord& function;
  const FunctionRoute& route;
  // Elements added by dotted indexes so far (at most `kMaxIndexGrowth`).
  std::size_t index_growth = 0;

  // The name used in messages.
  const std::string& function_name() const { return route.function_name(); }
};

// Binds every source of `request` for the route chosen in `state` (which must
// hold one), calls the handler and writes `response`. Failures become the
// response's error; may throw what the handler or the heap throws.
void BindAndInvoke(Client::CoreResponse* response, const Client::CoreRequest& request,
                   const MatchState& state);

// Binds the text `value` to the argument named by the part of `name` before
// its first '.', or below it along the rest of `name` (at most `kMaxPathDepth`
// segments), for a value coming from `location`. Returns false after recording
// the failure in `call.result`.
bool BindNamed(BindingCall& call, std::string_view name, std::string_view value,
               ArgumentLocation location);

// Binds the whole text `value` to `slot` of `argument`: an empty value gives
// true, an empty structure or an empty collection by the argument's kind, or
// fails. Returns false after recording the failure.
bool BindValue(BindingCall& call, BindingProperty& slot, const ArgumentRecord& argument,
               std::string_view value);

// Binds `value` as a string below `slot` along the dotted `path` of field
// names and indexes. Returns false after recording a malformed or out of
// range index.
bool BindPath(BindingCall& call, BindingProperty& slot, std::string_view path,
              std::string_view value);

// Decodes `value` into `target`: with `composite` set, MessagePack, JSON or
// YAML when the text looks like one, otherwise (and always without
// `composite`) a string. `argument_name` and `function_name` name the value
// in messages. Returns false after recording a decoding failure in `result`;
// `target` is then unchanged.
bool DecodeTextValue(CallResult& result, BindingProperty& target, std::string_view function_name,
                     std::string_view argument_name, std::string_view value, bool composite);

// Classifies a content type by case-insensitive prefix. nullptr counts as
// unsupported.
BodyContent BodyContentClass(const char* content_type);

// Reads the index segment `segment` (base prefixes "0x" and "0" allowed).
// Returns false after recording "Index %1 is in an incorrect format" or
// "Index %1 is out of range".
bool ParseIndexSegment(CallResult& result, std::string_view segment, std::size_t* index);

}  // namespace Kestrel

#endif  // VYN_REMOTING_ARGUMENT_BINDING_H_
