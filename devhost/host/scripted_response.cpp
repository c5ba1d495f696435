#include "devhost/host/scripted_response.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "host_abi/core_value.h"
#include "util/counting_allocator.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreResponse;

// The content type of every response the host fills; never freed.
constexpr char kEmptyText[] = "";

// The stream behind a scripted streamed response; owned by the response
// until the plugin calls the release function.
struct ScriptedStream {
  std::vector<StreamChunk> chunks;
  size_t chunk = 0;
  size_t offset = 0;

  static uint8_t VYN_CDECL Read(void* object, char* buffer, uint32_t* length, uint8_t* more) {
    auto* stream = static_cast<ScriptedStream*>(object);
    if (stream->chunk >= stream->chunks.size()) {
      *length = 0;
      *more = 0;
      return 1;
    }
    const StreamChunk& current = stream->chunks[stream->chunk];
    if (current.fail) return 0;
    size_t left = current.data.size() - stream->offset;
    size_t count = std::min<size_t>(left, *length);
    if (count != 0) std::memcpy(buffer, current.data.data() + stream->offset, count);
    *length = static_cast<uint32_t>(count);
    stream->offset += count;
    if (stream->offset < current.data.size()) {
      *more = 1;
    } else {
      *more = current.more ? 1 : 0;
      ++stream->chunk;
      stream->offset = 0;
    }
    return 1;
  }

  static void VYN_CDECL Release(void* object) { delete static_cast<ScriptedStream*>(object); }
};

// Frees what the host put into a response it filled for the plugin.
void VYN_CDECL ReleaseHostResponse(CoreResponse* response) {
  if (response == nullptr) return;
  Client::ReleaseCoreValue(&response->value);
  if (response->error_flag != 0) CountingFree(response->error_text);
  std::memset(static_cast<void*>(response), 0, sizeof(CoreResponse));
}

}  // namespace

void FillResponse(ScriptedResponse scripted, CoreResponse* response) {
  std::memset(static_cast<void*>(response), 0, sizeof(CoreResponse));
  response->content_type = kEmptyText;
  response->release = &ReleaseHostResponse;
  response->status_code = scripted.status;
  if (scripted.error) {
    response->error_text = Client::CopyOwnedText(scripted.error_text);
    response->error_flag = response->error_text != nullptr ? 1 : 0;
    return;
  }
  if (scripted.streamed) {
    auto* stream = new ScriptedStream{std::move(scripted.chunks)};
    uint64_t size = 0;
    for (const StreamChunk& chunk : stream->chunks) size += chunk.data.size();
    response->stream = stream;
    response->stream_size = size;
    response->stream_read = &ScriptedStream::Read;
    response->stream_release = &ScriptedStream::Release;
    return;
  }
  response->value = scripted.value.Release();
}

ScriptedResponse ScriptedResponse::Value(HostValue value) {
  ScriptedResponse response;
  response.value = std::move(value);
  return response;
}

ScriptedResponse ScriptedResponse::Json(std::string_view text) {
  MaybeType<HostValue> value = HostValue::FromJson(text);
  if (value.is_failure()) {
    return Error("Scripted response is not JSON: " + std::string(value.failure().message()), 500);
  }
  return Value(value.TakeValue());
}

ScriptedResponse ScriptedResponse::Error(std::string text, uint32_t status) {
  ScriptedResponse response;
  response.error = true;
  response.error_text = std::move(text);
  response.status = status;
  return response;
}

ScriptedResponse ScriptedResponse::Stream(std::vector<StreamChunk> chunks) {
  ScriptedResponse response;
  response.streamed = true;
  response.chunks = std::move(chunks);
  return response;
}

}  // namespace Kestrel::DevHost
