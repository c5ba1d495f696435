#include "plugin/host/outgoing_request.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "binding/core_value_conversion.h"
#include "formats/json_reader.h"

namespace Kestrel::Client {
namespace {

// Releases a received response on every way out of the call: its stream
// through the stream release, then everything else through its release.
class ReceivedResponse {
 public:
  ReceivedResponse() : response_{} {}
  ReceivedResponse(const ReceivedResponse&) = delete;
  ReceivedResponse& operator=(const ReceivedResponse&) = delete;
  ~ReceivedResponse() {
    if (response_.stream_release != nullptr && response_.stream != nullptr) {
      response_.stream_release(response_.stream);
    }
    response_.stream = nullptr;
    if (response_.release != nullptr) response_.release(&response_);
  }
  CoreResponse* get() { return &response_; }

 private:
  CoreResponse response_;
};

const char* MethodText(HttpMethod method) {
  return HttpMethodText(method);
}

uint32_t MethodValue(HttpMethod method) {
  const auto value = static_cast<uint32_t>(method);
  return value >= 1 && value <= 8 ? value : 0;
}

}  // namespace

OutgoingArguments::~OutgoingArguments() {
  for (CoreArgument& argument : arguments_) ReleaseToCoreValue(argument.value);
}

void OutgoingArguments::AddProperty(const BindingProperty& property, const TypeRegistry& registry) {
  CoreArgument argument{};
  argument.name = nullptr;
  arguments_.push_back(argument);
  ToCoreValue(property, arguments_.back().value, &registry);
}

bool OutgoingArguments::AddWalked(const NativeWalk& walk, const TypeRegistry& registry) {
  CoreArgument argument{};
  argument.name = nullptr;
  arguments_.push_back(argument);
  if (ToCoreValue(walk, arguments_.back().value, &registry)) return true;
  arguments_.pop_back();  // the failed walk left the value nil
  return false;
}

Failure ArgumentFailure(HttpMethod method, std::string_view path, std::string_view message) {
  return Failure(400, "Request not sent: Error converting parameters for %1 %2: %3",
                 MethodText(method), path, message);
}

Failure ResponseConversionFailure(HttpMethod method, std::string_view path,
                                  std::string_view message, uint32_t status_code) {
  return Failure(static_cast<int32_t>(status_code), "Error converting response for %1 %2: %3",
                 MethodText(method), path, message);
}

MaybeType<std::string> ReadResponseStream(RequestChannel& channel, const CoreResponse& response) {
  std::string text;
  try {
    // The declared size is another plugin's claim: reserve no more than a
    // bounded amount and let the text grow with the bytes that really arrive.
    const uint64_t declared_size = response.stream_size;  // packed field: read by value
    text.reserve(static_cast<std::size_t>(std::min<uint64_t>(declared_size, kMaxStreamReserve)));
    char buffer[kStreamReadSize];
    uint8_t more = 1;
    while (true) {
      uint32_t length = kStreamReadSize;
      if (response.stream_read(response.stream, buffer, &length, &more) == 0) {
        return Failure("Stream read error");
      }
      length = std::min(length, kStreamReadSize);  // a reader may not claim more than it got
      text.append(buffer, length);
      if (more == 0) break;
      if (length < kStreamReadSize) channel.YieldOnce();
    }
  } catch (const std::bad_alloc&) {
    return Failure("Stream read error");
  } catch (const std::length_error&) {
    return Failure("Stream read error");
  }
  return text;
}

MaybeType<ResponseContent> ExchangeRequest(RequestChannel& channel, HttpMethod method,
                                           std::string_view path,
                                           const OutgoingArguments& arguments, ResponseUse use) {
  const std::string path_text(path);
  CoreRequest request{};
  request.method = MethodValue(method);
  request.path = path_text.c_str();
  request.arguments = arguments.data();
  request.argument_count = arguments.size();
  request.caller_id = channel.plugin_id();

  ReceivedResponse received;
  CoreResponse& response = *received.get();
  channel.SendRequest(&response, &request);

  ResponseContent content;
  content.status_code = response.status_code;
  const auto code = static_cast<int32_t>(response.status_code);
  if (response.error_flag != 0) {
    return Failure(code, "Error response for %1 %2: %3", MethodText(method), path,
                   response.error_text != nullptr ? response.error_text : "");
  }
  if (use == ResponseUse::kNothing) return content;

  if (response.stream_read != nullptr) {
    MaybeType<std::string> text = ReadResponseStream(channel, response);
    if (text.is_failure()) {
      return Failure(code, "Error reading streamed response for %1 %2: %3", MethodText(method),
                     path, text.failure().message());
    }
    PropertyResult parsed = ParseJson(text.value());
    if (!parsed.IsValid()) {
      return Failure(code, "Error reading streamed response for %1 %2: %3", MethodText(method),
                     path, parsed.GetError());
    }
    content.value = static_cast<BindingProperty&&>(parsed);
    return content;
  }

  std::string message;
  if (!FromCoreValue(response.value, content.value, "<result>", &message)) {
    return ResponseConversionFailure(method, path, message, response.status_code);
  }
  return content;
}

}  // namespace Kestrel::Client
