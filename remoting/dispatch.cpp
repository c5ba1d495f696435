#include "remoting/dispatch.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "binding/core_value_conversion.h"
#include "binding/type_registry.h"
#include "host_abi/core_value.h"
#include "remoting/argument_binding.h"
#include "remoting/call_gate.h"
#include "remoting/function_handler.h"
#include "remoting/remoting_request.h"
#include "util/counting_allocator.h"
#include "util/format_text.h"

namespace Kestrel {
namespace {

using Client::CoreHeader;
using Client::CoreRequest;
using Client::CoreResponse;

// The content type of a response that has none; never freed.
constexpr char kSharedEmptyText[] = "";
// The error text when not even the message could be copied; never freed.
constexpr char kOutOfMemoryText[] = "Out of memory";

VYN_CDECL uint8_t ReadResponseStream(void* stream, char* buffer, uint32_t* length, uint8_t* more) {
  try {
    return static_cast<ResponseStream*>(stream)->Read(buffer, length, more);
  } catch (...) {
    // Nothing may unwind into the host.
    if (length != nullptr) *length = 0;
    if (more != nullptr) *more = 0;
    return 0;
  }
}

VYN_CDECL void ReleaseResponseStream(void* stream) {
  delete static_cast<ResponseStream*>(stream);
}

void FreeOwnedText(const char* text) {
  CountingFree(const_cast<char*>(text));
}

const FunctionRecord& EmptyFunctionRecord() {
  static const FunctionRecord record;
  return record;
}

// Releases `data` through the handler when the scope ends, also on unwinding.
class CallDataGuard {
 public:
  explicit CallDataGuard(FunctionHandler* handler) : handler_(handler) {}
  ~CallDataGuard() {
    if (data_ != nullptr) handler_->Release(data_);
  }
  CallDataGuard(const CallDataGuard&) = delete;
  CallDataGuard& operator=(const CallDataGuard&) = delete;
  void set(void* data) { data_ = data; }
  void* get() const { return data_; }

 private:
  FunctionHandler* handler_;
  void* data_ = nullptr;
};

// Matches `request` against `routes` into `state`; a null request matches
// nothing.
bool MatchRequest(MatchState& state, const CoreRequest* request,
                  std::span<const FunctionRoute* const> routes) {
  if (request == nullptr) return false;
  state.path = request->path != nullptr ? request->path : "";
  state.method = HttpMethodFromValue(request->method);
  if (state.method == HttpMethod::kCustom && request->method_name != nullptr) {
    state.method_name = request->method_name;
  }
  // A descriptor call-back passes the route of one function: matched
  // without a vector to allocate on every call.
  if (routes.size() == 1 && routes[0] != nullptr) return MatchRoute(state, *routes[0]);
  std::vector<CompiledRoute> compiled;
  compiled.reserve(routes.size());
  for (const FunctionRoute* route : routes) {
    if (route != nullptr) compiled.push_back(CompileRoute(*route));
  }
  return MatchRoutes(state, compiled);
}

// Binds the arguments of the call matched in `state`, runs the route's handler
// on them when they bound, and writes the answer into `response`; the call
// data the handler prepared lives until the answer is written.
void AnswerMatchedCall(CoreResponse* response, const CoreRequest& request,
                       const MatchState& state) {
  const FunctionRoute& route = *state.route;
  const FunctionRecord& function =
      state.function != nullptr
          ? *state.function
          : (route.function() != nullptr ? *route.function() : EmptyFunctionRecord());
  CallResult result;
  ArgumentSlots slots;
  FunctionHandler* handler = route.handler();
  CallDataGuard data(handler);
  if (BindArguments(request, state, function, result, slots)) {
    if (handler == nullptr) {
      SetFailure(result, "Invalid function");
      result.status_code = kStatusNotFound;
    } else {
      data.set(handler->Prepare(result, slots, request.caller_id));
      if (result.IsGood()) {
        if (route.takes_request_record()) {
          // Built only for handlers that take it: most take native arguments only.
          HttpBaseTransport::Request record;
          FillRequestRecord(record, request, state.method, state.method_name, function.registry);
          handler->Invoke(result, &record, data.get(), request.caller_id);
        } else {
          handler->Invoke(result, nullptr, data.get(), request.caller_id);
        }
      }
    }
  }
  WriteResponse(response, result, function.registry);
}

}  // namespace

void ResetResponse(CoreResponse* response) {
  if (response == nullptr) return;
  // Dispatch resets every response first: most hold nil then.
  if (response->value.kind != Client::CoreValueKind::kNil)
    Client::ReleaseCoreValue(&response->value);
  if (response->error_flag != 0 && response->error_text != kOutOfMemoryText) {
    CountingFree(response->error_text);
  }
  if (response->content_type != nullptr && response->content_type != kSharedEmptyText) {
    FreeOwnedText(response->content_type);
  }
  if (response->headers != nullptr) {
    for (uint32_t i = 0; i < response->header_count; ++i) {
      FreeOwnedText(response->headers[i].name);
      FreeOwnedText(response->headers[i].value);
    }
    CountingFree(response->headers);
  }
  std::memset(static_cast<void*>(response), 0, sizeof(CoreResponse));
}

void ReportResponseError(CoreResponse* response, std::string_view message) {
  Client::ReleaseCoreValue(&response->value);
  if (response->error_flag != 0 && response->error_text != kOutOfMemoryText) {
    CountingFree(response->error_text);
  }
  char* copy = Client::CopyOwnedText(message);
  response->error_text = copy != nullptr ? copy : const_cast<char*>(kOutOfMemoryText);
  response->error_flag = 1;
}

void WriteResponse(CoreResponse* response, CallResult& result, const TypeRegistry* registry) {
  // A held native value goes straight into the host value; one that cannot
  // be converted takes the tree, which gives its failure.
  bool written = false;
  if (result.native != nullptr && result.outcome.IsValid() && result.outcome.IsEmpty()) {
    // A response fresh from `Dispatch`'s reset holds nil: nothing to release.
    if (response->value.kind != Client::CoreValueKind::kNil)
      Client::ReleaseCoreValue(&response->value);
    written = ToCoreValue(result.native->Walk(), response->value, registry);
    if (!written) MaterializeOutcome(result);
  }
  if (!written) {
    if (!result.outcome.IsValid()) {
      ReportResponseError(response, result.outcome.GetError());
    } else {
      Client::ReleaseCoreValue(&response->value);
      ToCoreValue(result.outcome, response->value, registry);
    }
  }
  response->result_flag = result.result_flag;
  const uint32_t encoding = result.body_encoding;
  response->body_encoding = encoding >= 1 && encoding <= 3 ? encoding : 0;
  response->status_code = result.status_code;

  if (response->content_type != nullptr && response->content_type != kSharedEmptyText) {
    FreeOwnedText(response->content_type);
  }
  const char* content_type = nullptr;
  if (!result.content_type.empty()) content_type = Client::CopyOwnedText(result.content_type);
  response->content_type = content_type != nullptr ? content_type : kSharedEmptyText;

  if (!result.headers.empty() && response->headers == nullptr) {
    const std::size_t count = result.headers.size();
    auto* headers = static_cast<CoreHeader*>(CountingAllocate(count * sizeof(CoreHeader)));
    if (headers != nullptr) {
      std::memset(static_cast<void*>(headers), 0, count * sizeof(CoreHeader));
      std::size_t i = 0;
      for (const auto& [name, value] : result.headers) {
        headers[i].name = Client::CopyOwnedText(name);
        headers[i].value = Client::CopyOwnedText(value);
        ++i;
      }
      response->headers = headers;
      response->header_count = static_cast<uint32_t>(count);
    }
  }

  if (result.stream != nullptr && response->stream == nullptr) {
    const uint32_t size = result.stream->Size();
    response->stream = result.stream.release();
    response->stream_size = size;
    response->stream_read = &ReadResponseStream;
    response->stream_release = &ReleaseResponseStream;
  }
}

void Dispatch(CoreResponse* response, const CoreRequest* request,
              std::span<const FunctionRoute* const> routes) {
  ResetResponse(response);
  response->release = &ResetResponse;
  MatchState state;
  if (!MatchRequest(state, request, routes)) {
    ReportResponseError(response, "Invalid function");
    response->status_code = kStatusNotFound;
    // Hosts read the content type without checking it: never leave it null.
    response->content_type = kSharedEmptyText;
    return;
  }
  AnswerMatchedCall(response, *request, state);
}

namespace {

// Releases a stream left in `response`, then resets it for an error answer.
void ResetForError(CoreResponse* response) {
  if (response->stream != nullptr && response->stream_release != nullptr) {
    response->stream_release(response->stream);
  }
  ResetResponse(response);
  response->release = &ResetResponse;
}

}  // namespace

void AnswerFinalizing(CoreResponse* response) noexcept {
  if (response == nullptr) return;
  ResetForError(response);
  ReportResponseError(response, kFinalizingText);
  // Hosts read the content type without checking it: never leave it null.
  response->content_type = kSharedEmptyText;
}

void DispatchSafely(CoreResponse* response, const CoreRequest* request,
                    std::span<const FunctionRoute* const> routes) noexcept {
  if (response == nullptr) return;
  // The exception object dies with its catch block, so its text is copied
  // into a fixed buffer (no allocation: the heap may be what failed).
  // It is filled only on the way out of a failed call: an ordinary call
  // leaves it untouched.
  char description[256];
  try {
    Dispatch(response, request, routes);
    return;
  } catch (const std::exception& error) {
    std::snprintf(description, sizeof(description), "%s", error.what());
  } catch (...) {
    std::snprintf(description, sizeof(description), "%s", "unknown exception");
  }
  // The failure may have been the heap itself: the reset frees first, and the
  // report falls back to a static text if it cannot copy.
  ResetForError(response);
  try {
    ReportResponseError(response, FormatText("Internal error: %1", description));
  } catch (...) {
    response->error_text = const_cast<char*>(kOutOfMemoryText);
    response->error_flag = 1;
  }
  response->status_code = kStatusInternalError;
}

void CallFunctionDescriptor(CoreResponse* response, const CoreRequest* request) {
  const FunctionContext* context =
      request != nullptr ? static_cast<const FunctionContext*>(request->function_context) : nullptr;
  // Everything below, the module's memory included, stays valid until `call`
  // ends; nothing of the module may be touched after that.
  CallGate::Call call(context != nullptr ? context->gate : nullptr);
  if (!call.open()) {
    AnswerFinalizing(response);
    return;
  }
  const FunctionRoute* route = context != nullptr ? context->route : nullptr;
  const FunctionRoute* routes[1] = {route};
  DispatchSafely(response, request, std::span<const FunctionRoute* const>(routes, route ? 1 : 0));
}

}  // namespace Kestrel
