// Calls to other plugins' endpoints as typed function calls: `Request` when
// no result is wanted, `RequestValue<T>` for a result of native type T.
//
// Each native argument becomes a positional host argument (through a
// `BindingProperty`); the call goes through the channel's `SendRequest` (the
// module's, see `AppModule::requests`) and is synchronous. Every failure is a value carrying a
// code: 400 when an argument cannot be converted (nothing is sent), otherwise the response's status
// code. A streamed response is read in 4096-byte pieces, pausing once with `YieldOnce` after each
// short piece while more is to come.
//
// Ownership: the converted arguments belong to the call and are freed when it
// returns; the response is released through its own release function (and its
// stream through its stream release) on every path that received one.
//
// The module's uses: gameflow launch (POST, one game record, no result),
// telemetry (POST, one `BindingProperty`, no result), service proxy by id
// (POST, service, method, plugin id, payload text; text result) and by method
// (POST, service, method, two caller texts, plugin id, payload text; no result).
//
//   MaybeType<void> sent = Request(module.requests(), HttpMethod::kPost, launch_path, game);
//   MaybeType<std::string> key =
//       RequestValue<std::string>(module.requests(), HttpMethod::kPost, path, a, b);
#ifndef VYN_PLUGIN_HOST_OUTGOING_REQUEST_H_
#define VYN_PLUGIN_HOST_OUTGOING_REQUEST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "binding/assign_native.h"
#include "binding/binding_property.h"
#include "binding/convert_native.h"
#include "binding/native_walker.h"
#include "binding/type_registry.h"
#include "host_abi/host_records.h"
#include "host_abi/http_method.h"
#include "util/failure.h"

namespace Kestrel::Client {

// What an outgoing request needs of whoever sends it: the type registry its
// values convert with, the caller's plugin id, the host's `SendRequest` and a
// cooperative pause between pieces of a stream. The module provides one that
// lives as long as it does; requests are made on the calling thread.
class RequestChannel {
 public:
  virtual TypeRegistry& registry() = 0;
  virtual uint32_t plugin_id() const = 0;
  // Sends `request` (not null) through the host, which fills `response` (not
  // null; left zeroed when there is no host).
  virtual void SendRequest(CoreResponse* response, const CoreRequest* request) = 0;
  // Hands control to the host once, announced as a wait.
  virtual void YieldOnce() = 0;

 protected:
  ~RequestChannel() = default;
};

// Size of each piece read from a response stream.
inline constexpr uint32_t kStreamReadSize = 4096;
// The most a stream's declared size may reserve up front. The size comes from
// another plugin and is not trusted; text beyond it grows as bytes arrive.
inline constexpr std::size_t kMaxStreamReserve = 1024 * 1024;

// The positional host arguments of one request. Owns the converted values
// and frees them when destroyed.
class OutgoingArguments {
 public:
  OutgoingArguments() = default;
  OutgoingArguments(const OutgoingArguments&) = delete;
  OutgoingArguments& operator=(const OutgoingArguments&) = delete;
  ~OutgoingArguments();

  // Converts `native` into the next argument. Returns false and sets
  // `*message` (not null) when the value cannot be converted.
  template <class T>
  [[nodiscard]] bool Add(const T& native, TypeRegistry& registry, std::string* message) {
    // Written straight into the host value; a value that cannot be converted
    // takes the tree, which gives the failure.
    if (AddWalked(MakeNativeWalk(native, registry), registry)) return true;
    PropertyResult property;
    ConvertNative(property, native, registry);
    if (!property.IsValid()) {
      *message = std::string(property.GetError());
      return false;
    }
    AddProperty(property, registry);
    return true;
  }

  // Appends the host form of `property` as the next positional argument.
  void AddProperty(const BindingProperty& property, const TypeRegistry& registry);

  // Appends the host form of the walked native value as the next positional
  // argument. Returns false, appending nothing, when the walk fails.
  [[nodiscard]] bool AddWalked(const NativeWalk& walk, const TypeRegistry& registry);

  // The arguments appended so far, owned by this list; may be nullptr when
  // there are none.
  const CoreArgument* data() const { return arguments_.data(); }
  uint32_t size() const { return static_cast<uint32_t>(arguments_.size()); }

 private:
  std::vector<CoreArgument> arguments_;
};

// What to take from a successful response.
enum class ResponseUse {
  kNothing,  // success is all
  kValue,    // the stream (preferred) or the response value, as a property
};

// The content of a successful response.
struct ResponseContent {
  BindingProperty value;  // empty for `ResponseUse::kNothing`
  uint32_t status_code = 0;
};

// Sends `arguments` to `method` `path` through the channel's `SendRequest` and
// returns the response's content. Fails with the response's status as code on
// an error response ("Error response for ..."), a stream that cannot be read
// or parsed as JSON ("Error reading streamed response for ..."), or a value
// that cannot be converted ("Error converting response for ...").
MaybeType<ResponseContent> ExchangeRequest(RequestChannel& channel, HttpMethod method,
                                           std::string_view path,
                                           const OutgoingArguments& arguments, ResponseUse use);

// Reads the whole stream of `response` (which must have a read function) into
// one text, pausing with `channel.YieldOnce()` after each short piece while more
// is set. Fails with "Stream read error" when the read function fails.
MaybeType<std::string> ReadResponseStream(RequestChannel& channel, const CoreResponse& response);

// The failure of an argument that could not be converted (code 400).
Failure ArgumentFailure(HttpMethod method, std::string_view path, std::string_view message);
// The failure of a response value that could not be converted to the result.
Failure ResponseConversionFailure(HttpMethod method, std::string_view path,
                                  std::string_view message, uint32_t status_code);

// Converts `args` in order (the first failure stops everything, nothing is
// sent), sends the request and returns success or the failure.
template <class... Args>
MaybeType<void> Request(RequestChannel& channel, HttpMethod method, std::string_view path,
                        const Args&... args) {
  OutgoingArguments arguments;
  std::string message;
  if (!(arguments.Add(args, channel.registry(), &message) && ...)) {
    return ArgumentFailure(method, path, message);
  }
  MaybeType<ResponseContent> response =
      ExchangeRequest(channel, method, path, arguments, ResponseUse::kNothing);
  if (response.is_failure()) return response.failure();
  return {};
}

// As `Request`, then converts the response (its stream, else its value) to T,
// naming it "<result>" in messages.
template <class T, class... Args>
MaybeType<T> RequestValue(RequestChannel& channel, HttpMethod method, std::string_view path,
                          const Args&... args) {
  OutgoingArguments arguments;
  std::string message;
  if (!(arguments.Add(args, channel.registry(), &message) && ...)) {
    return ArgumentFailure(method, path, message);
  }
  MaybeType<ResponseContent> response =
      ExchangeRequest(channel, method, path, arguments, ResponseUse::kValue);
  if (response.is_failure()) return response.failure();
  PropertyResult status;
  T value{};
  AssignNative(status, value, response.value().value, "<result>", channel.registry());
  if (!status.IsValid()) {
    return ResponseConversionFailure(method, path, status.GetError(), response.value().status_code);
  }
  return value;
}

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_OUTGOING_REQUEST_H_
