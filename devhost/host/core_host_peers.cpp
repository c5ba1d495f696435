// `CoreHost` as the other plugins: the handlers that answer the plugin's
// requests, the events queued for it and their delivery, and the function
// table's call-backs through which the plugin reaches the host.
#include <cstring>
#include <exception>
#include <new>

#include "devhost/host/core_host.h"
#include "devhost/host/core_host_parts.h"
#include "host_abi/core_value.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreArgument;
using Client::CoreEvent;
using Client::CoreRequest;
using Client::CoreResponse;

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
    if (!targets.empty() && ObservesOutgoing()) {
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
  if (ObservesOutgoing()) {
    OutgoingRecord outgoing;
    outgoing.kind = OutgoingRecord::Kind::kRequest;
    outgoing.method = recorded.method;
    outgoing.name = recorded.path;
    outgoing.payload_json = recorded.ArgumentsJson();
    outgoing.status = answer.status;
    outgoing.error = answer.error;
    outgoing.answer_json = AnswerJson(answer);
    ReportOutgoing(std::move(outgoing));
  }
  FillResponse(std::move(answer), response);
}

bool CoreHost::ObservesOutgoing() {
  std::lock_guard<std::mutex> lock(state_mutex_);
  return static_cast<bool>(observer_.on_outgoing);
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

}  // namespace Kestrel::DevHost
