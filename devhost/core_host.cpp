#include "devhost/core_host.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <new>

#include "host_abi/core_value.h"
#include "platform/shared_library.h"
#include "util/path_template.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreArgument;
using Client::CoreEvent;
using Client::CoreHeader;
using Client::CoreRequest;
using Client::CoreResponse;

// A streamed answer longer than this is cut off and reported as failed, so a
// stream that never ends cannot exhaust the host.
constexpr size_t kMaxStreamBytes = 64u * 1024u * 1024u;
constexpr uint32_t kStreamBufferSize = 4096;

std::string TextOrEmpty(const char* text) {
  return text != nullptr ? std::string(text) : std::string();
}

std::string StripQuery(std::string_view path) {
  size_t query = path.find('?');
  return std::string(path.substr(0, query));
}

RecordedRequest CopyRequest(const CoreRequest& request) {
  RecordedRequest recorded;
  recorded.method = request.method;
  recorded.path = TextOrEmpty(request.path);
  recorded.caller_id = request.caller_id;
  if (request.arguments != nullptr) {
    for (uint32_t i = 0; i < request.argument_count; ++i) {
      const CoreArgument& argument = request.arguments[i];
      recorded.arguments.emplace_back(TextOrEmpty(argument.name),
                                      HostValue::CopyOf(argument.value));
      recorded.arguments.back().positional = argument.name == nullptr;
    }
  }
  return recorded;
}

// About how many bytes a record holds.
size_t RecordBytes(const RecordedRequest& request) {
  size_t bytes = sizeof(request) + request.path.size();
  for (const RecordedArgument& argument : request.arguments) {
    bytes += sizeof(argument) + argument.name.size() + CoreValueBytes(argument.value.get());
  }
  return bytes;
}
size_t RecordBytes(const RecordedEvent& event) {
  return sizeof(event) + event.name.size() + CoreValueBytes(event.payload.get());
}
size_t RecordBytes(const std::string& text) {
  return sizeof(text) + text.size();
}
size_t RecordBytes(const LogLine& line) {
  return sizeof(line) + line.text.size();
}
size_t RecordBytes(const CallRecord& call) {
  size_t bytes = sizeof(call) + call.request.path.size() + call.request.content_type.size() +
                 call.outcome.error_text.size() + call.outcome.content_type.size() +
                 call.outcome.stream_text.size() + CoreValueBytes(call.outcome.value.get());
  if (call.request.body.has_value()) bytes += call.request.body->size();
  for (const auto& [name, value] : call.request.headers) bytes += name.size() + value.size();
  for (const RecordedArgument& argument : call.request.arguments) {
    bytes += sizeof(argument) + argument.name.size() + CoreValueBytes(argument.value.get());
  }
  return bytes;
}
size_t RecordBytes(const Subscription& subscription) {
  return sizeof(subscription) + subscription.name.size();
}
size_t RecordBytes(const Unsubscription& unsubscription) {
  return sizeof(unsubscription) + unsubscription.name.size();
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The JSON of what the host answers an outgoing request.
std::string AnswerJson(const ScriptedResponse& answer) {
  if (answer.error) return "{\"message\":" + HostValue::String(answer.error_text).ToJson() + "}";
  if (answer.streamed) {
    std::string text;
    for (const StreamChunk& chunk : answer.chunks) text += chunk.data;
    return HostValue::String(text).ToJson();
  }
  return answer.value.ToJson();
}

// Runs `body` and drops what it throws: the function table's call-backs run
// on the plugin's stack, and nothing may be thrown into the plugin.
template <typename Body>
void Contained(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

// Answers the plugin's request with `text` and status 500; when even that
// cannot be built, with status 500 and no text.
void AnswerHostFailure(std::string_view text, CoreResponse* response) noexcept {
  try {
    FillResponse(ScriptedResponse::Error(std::string(text), 500), response);
  } catch (...) {
    std::memset(static_cast<void*>(response), 0, sizeof(CoreResponse));
    response->status_code = 500;
  }
}

}  // namespace

template <typename Record>
void CoreHost::Keep(RecordWindow<Record>& window, Record record) {
  size_t bytes = RecordBytes(record);
  window.Add(std::move(record), bytes, options_.record_limit, options_.record_bytes_limit);
}

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

std::string CoreHost::plugin_name() const {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  return entry_table_ != nullptr ? TextOrEmpty(record_.plugin_name) : std::string();
}

const ApiDescription* CoreHost::api() const {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  return entry_table_ != nullptr && !shut_down_ ? record_.api_description : nullptr;
}

MemoryStats CoreHost::GetMemoryStats() const {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  MemoryStats stats{};
  if (entry_table_ != nullptr && entry_table_->GetMemoryStats != nullptr) {
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
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  if (!initialized_) return Failure(503, "The plugin is not initialized");
  const CoreFunctionDescriptor* function =
      FindFunction(request.method, request.path, request.method_name);
  if (function == nullptr) {
    std::string method = request.method == kMethodCustom
                             ? request.method_name
                             : std::string(HttpMethodText(HttpMethodFromValue(request.method)));
    return Failure(404, "No function for %1 %2", method, StripQuery(request.path));
  }
  return CallFunction(*function, request);
}

CallOutcome CoreHost::CallFunction(const CoreFunctionDescriptor& function,
                                   const CallRequest& request) {
  std::lock_guard<std::recursive_mutex> lock(call_mutex_);
  CallRecord record;
  record.number = ++last_call_number_;
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
  record.memory_after = GetMemoryStats();
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

// ---------------------------------------------------------------------------
// Playing the other plugins

void CoreHost::SetRequestHandler(uint32_t method, std::string path, RequestHandler handler) {
  std::lock_guard<std::mutex> lock(state_mutex_);
  for (HandlerEntry& entry : handlers_) {
    if (!entry.prefix && entry.method == method && entry.path == path) {
      entry.handler = std::move(handler);
      return;
    }
  }
  handlers_.push_back(HandlerEntry{method, std::move(path), false, std::move(handler)});
}

void CoreHost::SetRequestPrefixHandler(uint32_t method, std::string prefix,
                                       RequestHandler handler) {
  std::lock_guard<std::mutex> lock(state_mutex_);
  for (HandlerEntry& entry : handlers_) {
    if (entry.prefix && entry.method == method && entry.path == prefix) {
      entry.handler = std::move(handler);
      return;
    }
  }
  handlers_.push_back(HandlerEntry{method, std::move(prefix), true, std::move(handler)});
}

const CoreHost::HandlerEntry* CoreHost::FindHandler(uint32_t method,
                                                    const std::string& path) const {
  const HandlerEntry* best = nullptr;
  for (const HandlerEntry& entry : handlers_) {
    if (entry.method != kMethodNone && entry.method != method) continue;
    if (!entry.prefix) {
      if (entry.path == path) return &entry;
      continue;
    }
    if (path.compare(0, entry.path.size(), entry.path) == 0 &&
        (best == nullptr || entry.path.size() > best->path.size())) {
      best = &entry;
    }
  }
  return best;
}

void CoreHost::QueueEvent(std::string name, HostValue payload) {
  std::lock_guard<std::mutex> lock(state_mutex_);
  pending_events_.emplace_back(std::move(name), 0, std::move(payload));
}

int CoreHost::DeliverPending() {
  std::lock_guard<std::recursive_mutex> call(call_mutex_);
  int callbacks = 0;
  // The callbacks belong to the module: nothing is delivered before load or
  // after shutdown; the events stay queued.
  if (entry_table_ == nullptr || shut_down_) return 0;
  for (;;) {
    RecordedEvent event;
    std::vector<Subscription> targets;
    {
      std::lock_guard<std::mutex> lock(state_mutex_);
      if (pending_events_.empty()) break;
      event = std::move(pending_events_.front());
      pending_events_.pop_front();
      for (const Subscription& subscription : active_subscriptions_) {
        if (subscription.name == event.name) targets.push_back(subscription);
      }
    }
    if (!targets.empty()) {
      OutgoingRecord delivery;
      delivery.kind = OutgoingRecord::Kind::kDelivery;
      delivery.name = event.name;
      delivery.payload_json = event.payload.ToJson();
      ReportOutgoing(std::move(delivery));
    }
    for (const Subscription& subscription : targets) {
      if (subscription.callback == nullptr) continue;
      // The payload stays the host's; the plugin only reads it during the call.
      CoreEvent core_event{};
      core_event.name = event.name.c_str();
      core_event.payload = event.payload.get();
      core_event.flag = subscription.flag;
      core_event.context = subscription.context;
      {
        std::lock_guard<std::mutex> lock(state_mutex_);
        Keep(delivered_events_,
             RecordedEvent(event.name, subscription.flag, event.payload.Clone()));
      }
      subscription.callback(&core_event);
      ++callbacks;
    }
  }
  return callbacks;
}

void CoreHost::SetObserver(HostObserver observer) {
  std::lock_guard<std::mutex> lock(state_mutex_);
  observer_ = std::move(observer);
}

// ---------------------------------------------------------------------------
// The function table

CoreHost* CoreHost::FromTable(CoreFunctionTable* table) {
  static_assert(offsetof(HostTable, functions) == 0);
  return reinterpret_cast<HostTable*>(table)->host;
}

void VYN_CDECL CoreHost::OnSendRequest(CoreFunctionTable* table, CoreResponse* response,
                                       const CoreRequest* request) {
  if (table == nullptr || response == nullptr) return;
  try {
    FromTable(table)->HandleSendRequest(response, request);
  } catch (const std::bad_alloc&) {
    AnswerHostFailure("The host ran out of memory while answering the request", response);
  } catch (const std::exception& error) {
    AnswerHostFailure(std::string("The host failed to answer the request: ") + error.what(),
                      response);
  } catch (...) {
    AnswerHostFailure("The host failed to answer the request", response);
  }
}

void CoreHost::HandleSendRequest(CoreResponse* response, const CoreRequest* request) {
  if (request == nullptr) {
    FillResponse(ScriptedResponse::Error("No request", 400), response);
    return;
  }
  RecordedRequest recorded = CopyRequest(*request);
  RequestHandler handler;
  std::function<void(const RecordedRequest&)> on_request;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    Keep(requests_, recorded);
    const HandlerEntry* entry = FindHandler(recorded.method, recorded.path);
    if (entry != nullptr) handler = entry->handler;
    on_request = observer_.on_request;
  }
  if (on_request) on_request(recorded);
  ScriptedResponse answer =
      handler ? handler(recorded)
              : ScriptedResponse::Error(
                    FormatText("No handler for %1 %2",
                               HttpMethodText(HttpMethodFromValue(recorded.method)), recorded.path),
                    404);
  OutgoingRecord outgoing;
  outgoing.kind = OutgoingRecord::Kind::kRequest;
  outgoing.method = recorded.method;
  outgoing.name = recorded.path;
  outgoing.payload_json = recorded.ArgumentsJson();
  outgoing.status = answer.status;
  outgoing.answer_json = AnswerJson(answer);
  ReportOutgoing(std::move(outgoing));
  FillResponse(std::move(answer), response);
}

void CoreHost::ReportOutgoing(OutgoingRecord record) {
  std::function<void(const OutgoingRecord&)> on_outgoing;
  {
    std::lock_guard<std::mutex> lock(state_mutex_);
    on_outgoing = observer_.on_outgoing;
  }
  if (!on_outgoing) return;
  record.call = current_call_;
  record.time_ms = NowMs();
  on_outgoing(record);
}

void VYN_CDECL CoreHost::OnReserved2(CoreFunctionTable*, uint32_t, uint32_t) {}

void VYN_CDECL CoreHost::OnSendEvent(CoreFunctionTable* table, const CoreEvent* event) {
  if (table == nullptr || event == nullptr) return;
  Contained([&] {
    CoreHost* host = FromTable(table);
    // The plugin frees the payload after the call: keep deep copies.
    RecordedEvent recorded(TextOrEmpty(event->name), event->flag,
                           HostValue::CopyOf(event->payload));
    std::function<void(const RecordedEvent&)> on_event;
    {
      std::lock_guard<std::mutex> lock(host->state_mutex_);
      host->Keep(host->events_, recorded);
      host->pending_events_.emplace_back(recorded.name, recorded.flag, recorded.payload.Clone());
      on_event = host->observer_.on_event;
    }
    if (on_event) on_event(recorded);
  });
}

void VYN_CDECL CoreHost::OnSubscribe(CoreFunctionTable* table, const char* name, uint32_t plugin_id,
                                     CoreEventCallback callback, void* context, uint32_t flag) {
  if (table == nullptr) return;
  Contained([&] {
    CoreHost* host = FromTable(table);
    Subscription subscription{TextOrEmpty(name), plugin_id, callback, context, flag};
    std::lock_guard<std::mutex> lock(host->state_mutex_);
    host->Keep(host->subscriptions_, subscription);
    host->active_subscriptions_.push_back(subscription);
  });
}

void VYN_CDECL CoreHost::OnUnsubscribe(CoreFunctionTable* table, const char* name,
                                       uint32_t plugin_id) {
  if (table == nullptr) return;
  Contained([&] {
    CoreHost* host = FromTable(table);
    std::string event_name = TextOrEmpty(name);
    std::lock_guard<std::mutex> lock(host->state_mutex_);
    host->Keep(host->unsubscriptions_, Unsubscription{event_name, plugin_id});
    std::erase_if(host->active_subscriptions_, [&](const Subscription& subscription) {
      return subscription.name == event_name && subscription.plugin_id == plugin_id;
    });
  });
}

void VYN_CDECL CoreHost::OnReserved6(CoreFunctionTable*, uint32_t, uint32_t, uint32_t, double,
                                     uint32_t) {}

void VYN_CDECL CoreHost::OnYield(CoreFunctionTable* table) {
  if (table == nullptr) return;
  Contained([&] {
    CoreHost* host = FromTable(table);
    {
      std::lock_guard<std::mutex> lock(host->state_mutex_);
      ++host->yield_count_;
    }
    host->DeliverPending();
  });
}

void VYN_CDECL CoreHost::OnBeginWait(CoreFunctionTable* table, const char* label, uint32_t) {
  if (table == nullptr) return;
  Contained([&] {
    CoreHost* host = FromTable(table);
    std::string text = TextOrEmpty(label);
    std::function<void(const std::string&)> on_begin_wait;
    {
      std::lock_guard<std::mutex> lock(host->state_mutex_);
      host->Keep(host->wait_labels_, text);
      on_begin_wait = host->observer_.on_begin_wait;
    }
    if (on_begin_wait) on_begin_wait(text);
    OutgoingRecord wait;
    wait.kind = OutgoingRecord::Kind::kBeginWait;
    wait.name = std::move(text);
    host->ReportOutgoing(std::move(wait));
  });
}

void VYN_CDECL CoreHost::OnEndWait(CoreFunctionTable* table) {
  if (table == nullptr) return;
  Contained([&] {
    CoreHost* host = FromTable(table);
    {
      std::lock_guard<std::mutex> lock(host->state_mutex_);
      ++host->end_wait_count_;
    }
    OutgoingRecord wait;
    wait.kind = OutgoingRecord::Kind::kEndWait;
    host->ReportOutgoing(std::move(wait));
  });
}

void VYN_CDECL CoreHost::OnLog(CoreFunctionTable* table, int32_t level, const char* text) {
  if (table == nullptr) return;
  Contained([&] {
    CoreHost* host = FromTable(table);
    LogLine line{level, TextOrEmpty(text), NowMs(), host->current_call_};
    std::function<void(const LogLine&)> on_log;
    {
      std::lock_guard<std::mutex> lock(host->state_mutex_);
      host->Keep(host->log_lines_, line);
      on_log = host->observer_.on_log;
    }
    if (on_log) on_log(line);
  });
}

// ---------------------------------------------------------------------------
// Records

std::vector<RecordedRequest> CoreHost::requests() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return requests_.Copy();
}

std::vector<RecordedEvent> CoreHost::events() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return events_.Copy();
}

std::vector<RecordedEvent> CoreHost::delivered_events() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return delivered_events_.Copy();
}

std::vector<Subscription> CoreHost::subscriptions() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return subscriptions_.Copy();
}

std::vector<Subscription> CoreHost::active_subscriptions() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return active_subscriptions_;
}

std::vector<Unsubscription> CoreHost::unsubscriptions() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return unsubscriptions_.Copy();
}

std::vector<std::string> CoreHost::wait_labels() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return wait_labels_.Copy();
}

int CoreHost::end_wait_count() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return end_wait_count_;
}

int CoreHost::yield_count() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return yield_count_;
}

std::vector<LogLine> CoreHost::log_lines() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return log_lines_.Copy();
}

std::vector<CallRecord> CoreHost::calls() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return calls_.Copy();
}

std::optional<CallRecord> CoreHost::FindCall(uint64_t number) const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  const CallRecord* call =
      calls_.FindNewest([number](const CallRecord& kept) { return kept.number == number; });
  if (call == nullptr) return std::nullopt;
  return *call;
}

size_t CoreHost::pending_event_count() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return pending_events_.size();
}

std::vector<RecordedEvent> CoreHost::pending_events() const {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return std::vector<RecordedEvent>(pending_events_.begin(), pending_events_.end());
}

void CoreHost::ClearRecords() {
  std::lock_guard<std::mutex> lock(state_mutex_);
  requests_.Clear();
  events_.Clear();
  delivered_events_.Clear();
  subscriptions_.Clear();
  unsubscriptions_.Clear();
  wait_labels_.Clear();
  end_wait_count_ = 0;
  yield_count_ = 0;
  log_lines_.Clear();
  calls_.Clear();
}

}  // namespace Kestrel::DevHost
