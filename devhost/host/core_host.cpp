#include "devhost/host/core_host.h"

#include <chrono>
#include <cstring>

#include "devhost/host/core_host_parts.h"
#include "platform/shared_library.h"
#include "util/path_template.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreArgument;
using Client::CoreHeader;
using Client::CoreRequest;
using Client::CoreResponse;

// A streamed answer longer than this is cut off and reported as failed, so a
// stream that never ends cannot exhaust the host.
constexpr size_t kMaxStreamBytes = 64u * 1024u * 1024u;
constexpr uint32_t kStreamBufferSize = 4096;

std::string StripQuery(std::string_view path) {
  size_t query = path.find('?');
  return std::string(path.substr(0, query));
}

}  // namespace

std::string RecordedRequest::ArgumentsJson() const {
  std::string json = "[";
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i != 0) json += ',';
    json += arguments[i].value.ToJson();
  }
  json += ']';
  return json;
}

CallOutcome& CallOutcome::operator=(const CallOutcome& other) {
  if (this == &other) return *this;
  function_name = other.function_name;
  error = other.error;
  error_text = other.error_text;
  status = other.status;
  result_flag = other.result_flag;
  body_encoding = other.body_encoding;
  content_type = other.content_type;
  headers = other.headers;
  value = other.value.Clone();
  streamed = other.streamed;
  stream_text = other.stream_text;
  stream_failed = other.stream_failed;
  return *this;
}

CallRequest CallRequest::Json(uint32_t method, std::string path, std::string body) {
  CallRequest request;
  request.method = method;
  request.path = std::move(path);
  if (!body.empty()) {
    request.body = std::move(body);
    request.content_type = "application/json";
  }
  return request;
}

// ---------------------------------------------------------------------------
// Plugin life

CoreHost::CoreHost(HostOptions options) : options_(options) {
  table_.functions.SendRequest = &OnSendRequest;
  table_.functions.Reserved2 = &OnReserved2;
  table_.functions.SendEvent = &OnSendEvent;
  table_.functions.Subscribe = &OnSubscribe;
  table_.functions.Unsubscribe = &OnUnsubscribe;
  table_.functions.Reserved6 = &OnReserved6;
  table_.functions.Yield = &OnYield;
  table_.functions.BeginWait = &OnBeginWait;
  table_.functions.EndWait = &OnEndWait;
  table_.functions.Log = &OnLog;
  table_.host = this;
  core_interface_.functions = &table_.functions;
  core_interface_.plugin_id = options_.plugin_id;
}

CoreHost::~CoreHost() {
  Unload();
}

MaybeType<void> CoreHost::Load(LoadPluginFunction load) {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  if (entry_table_ != nullptr) return Failure(409, "A plugin is already loaded");
  if (load == nullptr) return Failure(400, "No plugin entry function");
  Client::CorePluginRecord record{};
  record.version_major = options_.api_major;
  record.version_minor = options_.api_minor;
  record.version_patch = options_.api_patch;
  (void)load(&record);
  std::string host_version =
      FormatText("%1.%2.%3", options_.api_major, options_.api_minor, options_.api_patch);
  if (record.entry_table == nullptr || record.module == nullptr ||
      record.api_description == nullptr) {
    return Failure(426, "The plugin refused host plugin API %1", host_version);
  }
  if (record.version_major != options_.api_major) {
    // Copied out of the packed record before being formatted by reference.
    uint32_t major = record.version_major, minor = record.version_minor,
             patch = record.version_patch;
    return Failure(426,
                   "Plugin API %1.%2.%3 of the plugin is not compatible with host plugin API %4",
                   major, minor, patch, host_version);
  }
  record_ = record;
  entry_table_ = record.entry_table;
  initialized_ = false;
  shut_down_ = false;
  ++load_number_;
  return {};
}

MaybeType<void> CoreHost::LoadLibrary(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  if (entry_table_ != nullptr) return Failure(409, "A plugin is already loaded");
  std::string error;
  std::unique_ptr<Platform::SharedLibrary> library = Platform::SharedLibrary::Open(path, &error);
  if (library == nullptr) return Failure(404, "Cannot load plugin library '%1': %2", path, error);
  auto load = reinterpret_cast<LoadPluginFunction>(library->FindSymbol(kPluginEntrySymbol));
  if (load == nullptr) {
    return Failure(404, "Plugin library '%1' does not export %2", path, kPluginEntrySymbol);
  }
  MaybeType<void> loaded = Load(load);
  if (loaded.is_failure()) return loaded;
  library_ = std::move(library);
  return {};
}

MaybeType<void> CoreHost::Initialize() {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  if (entry_table_ == nullptr || shut_down_) return Failure(503, "No plugin is loaded");
  if (initialized_) return Failure(409, "The plugin is already initialized");
  if (entry_table_->Initialize == nullptr) return Failure(500, "The plugin has no Initialize");
  uint8_t started = entry_table_->Initialize(record_.module, &core_interface_);
  if (options_.deliver_after_calls) DeliverPending();
  if (started == 0) return Failure(500, "The plugin's Initialize returned 0");
  initialized_ = true;
  return {};
}

void CoreHost::Shutdown() {
  // Not under `call_mutex_`: a call may be waiting inside the plugin (in its
  // `Yield`) on another thread, and a host at exit shuts the module down
  // without waiting for it.
  std::lock_guard<std::mutex> lock(shutdown_mutex_);
  if (entry_table_ == nullptr || shut_down_) return;
  shut_down_ = true;
  initialized_ = false;
  if (entry_table_->Shutdown != nullptr) entry_table_->Shutdown(record_.module);
}

void CoreHost::Unload() {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  Shutdown();
  entry_table_ = nullptr;
  record_ = Client::CorePluginRecord{};
  shut_down_ = false;
  library_.reset();
  std::lock_guard<std::mutex> state(state_mutex_);
  active_subscriptions_.clear();
  pending_events_.clear();
}

MaybeType<void> CoreHost::Reload(const std::string& path, std::chrono::milliseconds drain) {
  gate_.Close();
  if (!gate_.WaitEmpty(drain)) {
    // Calls that wait for an answer that never comes end with the shutdown.
    Shutdown();
    gate_.WaitEmpty();
  }
  MaybeType<void> loaded;
  {
    // One lock from unloading to initializing: no call sees the host empty.
    std::lock_guard<std::recursive_mutex> lock(call_mutex_);
    Unload();
    loaded = LoadLibrary(path);
    if (loaded.has_value()) loaded = Initialize();
    if (loaded.is_failure()) {
      Unload();
      unavailable_reason_ = FormatText("The plugin did not reload: %1", loaded.failure().message());
    } else {
      unavailable_reason_.clear();
    }
  }
  gate_.Open();
  return loaded;
}

std::string CoreHost::plugin_name() const {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  return entry_table_ != nullptr ? TextOrEmpty(record_.plugin_name) : std::string();
}

const ApiDescription* CoreHost::api() const {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  return entry_table_ != nullptr && !shut_down_ ? record_.api_description : nullptr;
}

void CoreHost::ReadApi(
    const std::function<void(const ApiDescription* api, const std::string& name)>& read) const {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  read(api(), plugin_name());
}

MemoryStats CoreHost::GetMemoryStats() const {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  // Once shut down, the module (and the entry table inside it) goes when its
  // last call leaves, possibly on another thread: the table is read only
  // while `Shutdown` cannot run.
  std::lock_guard<std::mutex> shutdown(shutdown_mutex_);
  MemoryStats stats{};
  if (entry_table_ != nullptr && !shut_down_ && entry_table_->GetMemoryStats != nullptr) {
    entry_table_->GetMemoryStats(0, &stats);
  }
  return stats;
}

MemoryStats CoreHost::SampleMemoryStats() const {
  std::unique_lock<std::recursive_mutex> lock(call_mutex_, std::try_to_lock);
  if (lock.owns_lock() && current_call_ == 0) return GetMemoryStats();
  std::lock_guard<std::mutex> state(state_mutex_);
  return call_start_memory_;
}

// ---------------------------------------------------------------------------
// Calling the plugin

const CoreFunctionDescriptor* CoreHost::FindFunction(uint32_t method, std::string_view path,
                                                     std::string_view method_name) const {
  const ApiDescription* description = api();
  if (description == nullptr || description->functions == nullptr) return nullptr;
  std::string bare_path = StripQuery(path);
  for (uint32_t i = 0; i < description->function_count; ++i) {
    const CoreFunctionDescriptor& function = description->functions[i];
    if (function.method != kMethodNone && function.method != method) continue;
    if (function.method == kMethodCustom && method_name != TextOrEmpty(function.method_name)) {
      continue;
    }
    if (PathMatchesTemplate(TextOrEmpty(function.path), bare_path)) return &function;
  }
  return nullptr;
}

MaybeType<CallOutcome> CoreHost::Call(const CallRequest& request) {
  CallGateGuard gate(gate_);
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  if (!initialized_) {
    if (!unavailable_reason_.empty()) return Failure(503, "%1", unavailable_reason_);
    return Failure(503, "The plugin is not initialized");
  }
  const CoreFunctionDescriptor* function =
      FindFunction(request.method, request.path, request.method_name);
  if (function == nullptr) {
    return Failure(404, "No function for %1 %2",
                   std::string(HttpMethodRecordText(request.method, request.method_name)),
                   StripQuery(request.path));
  }
  return CallFunction(*function, request);
}

CallOutcome CoreHost::CallFunction(const CoreFunctionDescriptor& function,
                                   const CallRequest& request) {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  CallRecord record;
  record.number = ++last_call_number_;
  record.load = load_number_;
  record.time_ms = NowMs();
  record.memory_before = GetMemoryStats();
  {
    std::lock_guard<std::mutex> state(state_mutex_);
    call_start_memory_ = record.memory_before;
  }
  // A call made from inside another (a plugin that calls back) is its own;
  // what follows it belongs to the outer one again.
  const uint64_t outer_call = current_call_.exchange(record.number);
  const auto started = std::chrono::steady_clock::now();
  CallOutcome outcome = RunFunction(function, request);
  record.duration_us = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
  current_call_ = outer_call;
  // A plugin shut down during the call can no longer be asked: the call's
  // change then reads as none.
  record.memory_after = shut_down_ ? record.memory_before : GetMemoryStats();
  record.request = request;
  record.outcome = outcome;
  std::function<void(const CallRecord&)> on_call;
  {
    std::lock_guard<std::mutex> state(state_mutex_);
    on_call = observer_.on_call;
  }
  if (on_call) on_call(record);
  std::lock_guard<std::mutex> state(state_mutex_);
  Keep(calls_, std::move(record));
  return outcome;
}

CallOutcome CoreHost::RunFunction(const CoreFunctionDescriptor& function,
                                  const CallRequest& request) {
  // The request points into `request` and these arrays for the whole call.
  std::vector<CoreArgument> arguments(request.arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) {
    const RecordedArgument& argument = request.arguments[i];
    arguments[i].name = argument.positional ? nullptr : argument.name.c_str();
    arguments[i].value = argument.value.get();  // borrowed view; the host keeps ownership
  }
  std::vector<CoreHeader> headers(request.headers.size());
  for (size_t i = 0; i < headers.size(); ++i) {
    headers[i].name = request.headers[i].first.c_str();
    headers[i].value = request.headers[i].second.c_str();
  }
  CoreRequest core_request{};
  core_request.method = request.method;
  core_request.path = request.path.c_str();
  core_request.arguments = arguments.empty() ? nullptr : arguments.data();
  core_request.argument_count = static_cast<uint32_t>(arguments.size());
  core_request.function_context = function.function.function_context;
  core_request.headers = headers.empty() ? nullptr : headers.data();
  core_request.header_count = static_cast<uint32_t>(headers.size());
  core_request.content_type = request.content_type.c_str();
  core_request.body = request.body.has_value() ? request.body->c_str() : nullptr;
  core_request.body_length =
      request.body.has_value() ? static_cast<uint32_t>(request.body->size()) : 0;
  core_request.caller_id = request.caller_id;
  core_request.method_name =
      request.method == kMethodCustom ? request.method_name.c_str() : nullptr;

  CoreResponse response;
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  CallOutcome outcome;
  outcome.function_name = TextOrEmpty(function.function.name);
  if (function.callback == nullptr) {
    outcome.error = true;
    outcome.error_text = "The function has no call-back";
    outcome.status = 500;
    return outcome;
  }
  function.callback(&response, &core_request);

  outcome.error = response.error_flag != 0;
  if (outcome.error) outcome.error_text = TextOrEmpty(response.error_text);
  outcome.status = response.status_code;
  outcome.result_flag = response.result_flag;
  outcome.body_encoding = response.body_encoding;
  outcome.content_type = TextOrEmpty(response.content_type);
  if (response.headers != nullptr) {
    for (uint32_t i = 0; i < response.header_count; ++i) {
      outcome.headers.emplace_back(TextOrEmpty(response.headers[i].name),
                                   TextOrEmpty(response.headers[i].value));
    }
  }
  outcome.value = HostValue::CopyOf(response.value);
  if (response.stream_read != nullptr) {
    outcome.streamed = true;
    char buffer[kStreamBufferSize];
    uint8_t more = 1;
    while (more != 0) {
      uint32_t length = kStreamBufferSize;
      if (response.stream_read(response.stream, buffer, &length, &more) == 0 ||
          length > kStreamBufferSize || outcome.stream_text.size() + length > kMaxStreamBytes) {
        outcome.stream_failed = true;
        break;
      }
      outcome.stream_text.append(buffer, length);
    }
  }
  if (response.stream_release != nullptr && response.stream != nullptr) {
    response.stream_release(response.stream);
  }
  if (response.release != nullptr) response.release(&response);
  if (options_.deliver_after_calls) DeliverPending();
  return outcome;
}

}  // namespace Kestrel::DevHost
