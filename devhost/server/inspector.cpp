#include "devhost/server/inspector.h"

#include <charconv>

#include "host_abi/http_method.h"

namespace Kestrel::DevHost {
namespace {

// `text` as a JSON string, made valid UTF-8.
std::string Quoted(std::string_view text) {
  return HostValue::String(text).ToJson();
}

// Appends `"name":value` (value already JSON) to the object under way in `out`.
void Member(std::string* out, std::string_view name, std::string_view json) {
  if (out->back() != '{') out->push_back(',');
  out->append(Quoted(name)).append(":").append(json);
}
void Member(std::string* out, std::string_view name, int64_t number) {
  Member(out, name, std::to_string(number));
}

std::string Frame(std::string_view kind, std::string_view data) {
  std::string frame = "event: ";
  frame.append(kind).append("\ndata: ").append(data).append("\n\n");
  return frame;
}

std::string MemoryJson(const MemoryStats& stats) {
  std::string json = "{";
  Member(&json, "liveBytes", LiveBytes(stats));
  Member(&json, "liveAllocations", LiveAllocations(stats));
  Member(&json, "peakLiveBytes", static_cast<int64_t>(stats.peak_live_bytes));
  Member(&json, "peakLiveAllocations", static_cast<int64_t>(stats.peak_live_allocations));
  Member(&json, "allocations", static_cast<int64_t>(stats.allocations));
  Member(&json, "bytesAllocated", static_cast<int64_t>(stats.bytes_allocated));
  Member(&json, "frees", static_cast<int64_t>(stats.frees));
  Member(&json, "bytesFreed", static_cast<int64_t>(stats.bytes_freed));
  return json + "}";
}

// The members of a call's summary, which the stream sends and the full
// record repeats.
void CallSummary(std::string* json, const CallRecord& call, const HttpAnswer& answer) {
  const CallRequest& request = call.request;
  Member(json, "number", static_cast<int64_t>(call.number));
  Member(json, "load", static_cast<int64_t>(call.load));
  Member(json, "time", call.time_ms);
  Member(json, "durationUs", call.duration_us);
  Member(json, "method", Quoted(HttpMethodRecordText(request.method, request.method_name)));
  Member(json, "path", Quoted(request.path));
  Member(json, "function", Quoted(call.outcome.function_name));
  Member(json, "status", answer.status);
  Member(json, "contentType", Quoted(request.content_type));
  Member(json, "bodyBytes",
         request.body.has_value() ? std::to_string(request.body->size()) : "null");
  Member(json, "answerBytes", static_cast<int64_t>(answer.body.size()));
  Member(json, "allocations", call.AllocationsMade());
  Member(json, "liveBytes", call.LiveBytesChange());
  Member(json, "liveAllocations", call.LiveAllocationsChange());
}

std::string FileJson(const WatchedFile& file) {
  if (!file.exists) return "null";
  std::string json = "{";
  Member(&json, "modified", file.modified_ms);
  Member(&json, "size", static_cast<int64_t>(file.size));
  return json + "}";
}

}  // namespace

const char* OutgoingKindName(OutgoingRecord::Kind kind) {
  switch (kind) {
    case OutgoingRecord::Kind::kRequest:
      return "request";
    case OutgoingRecord::Kind::kDelivery:
      return "delivery";
    case OutgoingRecord::Kind::kBeginWait:
      return "beginWait";
    case OutgoingRecord::Kind::kEndWait:
      return "endWait";
  }
  return "request";
}

std::string CallFrame(const CallRecord& call) {
  std::string json = "{";
  CallSummary(&json, call, AnswerForOutcome(call.outcome));
  return Frame("call", json + "}");
}

std::string OutgoingFrame(const OutgoingRecord& outgoing) {
  std::string json = "{";
  Member(&json, "kind", Quoted(OutgoingKindName(outgoing.kind)));
  Member(&json, "call", static_cast<int64_t>(outgoing.call));
  Member(&json, "time", outgoing.time_ms);
  Member(&json, "name", Quoted(outgoing.name));
  if (outgoing.kind == OutgoingRecord::Kind::kRequest) {
    Member(&json, "method", Quoted(HttpMethodRecordText(outgoing.method, "")));
    Member(&json, "status", static_cast<int64_t>(outgoing.status));
    Member(&json, "answer", outgoing.answer_json);
  }
  if (!outgoing.payload_json.empty()) Member(&json, "payload", outgoing.payload_json);
  return Frame("outgoing", json + "}");
}

std::string LogFrame(const LogLine& line) {
  std::string json = "{";
  Member(&json, "level", line.level);
  Member(&json, "time", line.time_ms);
  Member(&json, "call", static_cast<int64_t>(line.call));
  Member(&json, "text", Quoted(line.text));
  return Frame("log", json + "}");
}

std::string PublishedFrame(const RecordedEvent& event) {
  std::string json = "{";
  Member(&json, "name", Quoted(event.name));
  Member(&json, "payload", event.payload.ToJson());
  return Frame("published", json + "}");
}

std::string ReloadFrame(const ReloadRecord& reload) {
  std::string json = "{";
  Member(&json, "time", reload.time_ms);
  Member(&json, "path", Quoted(reload.path));
  Member(&json, "old", FileJson(reload.old_file));
  Member(&json, "new", FileJson(reload.new_file));
  Member(&json, "succeeded", reload.succeeded ? "true" : "false");
  if (!reload.succeeded) Member(&json, "reason", Quoted(reload.reason));
  Member(&json, "load", static_cast<int64_t>(reload.load));
  Member(&json, "durationMs", reload.duration_ms);
  return Frame("reload", json + "}");
}

HttpAnswer CallAnswer(const CoreHost& host, std::string_view url_path) {
  std::string_view digits = url_path.substr(kCallsPathPrefix.size());
  uint64_t number = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  std::optional<CallRecord> call;
  if (error == std::errc() && end == digits.data() + digits.size()) call = host.FindCall(number);
  if (!call.has_value()) {
    return HttpAnswer{404, "application/json",
                      ErrorBody(FormatText("No call %1 is kept", std::string(digits)))};
  }
  const HttpAnswer answer = AnswerForOutcome(call->outcome);
  const CallRequest& request = call->request;
  std::string json = "{";
  CallSummary(&json, *call, answer);
  std::string headers = "[";
  for (const auto& [name, value] : request.headers) {
    if (headers.size() > 1) headers += ',';
    headers += "[" + Quoted(name) + "," + Quoted(value) + "]";
  }
  std::string arguments = "[";
  for (const RecordedArgument& argument : request.arguments) {
    std::string item = "{";
    Member(&item, "name", argument.positional ? "null" : Quoted(argument.name));
    Member(&item, "value", argument.value.ToJson());
    if (arguments.size() > 1) arguments += ',';
    arguments += item + "}";
  }
  std::string request_json = "{";
  Member(&request_json, "headers", headers + "]");
  Member(&request_json, "arguments", arguments + "]");
  Member(&request_json, "body", request.body.has_value() ? Quoted(*request.body) : "null");
  Member(&json, "request", request_json + "}");
  std::string answer_json = "{";
  Member(&answer_json, "status", answer.status);
  Member(&answer_json, "contentType", Quoted(answer.content_type));
  Member(&answer_json, "body", Quoted(answer.body));
  Member(&json, "answer", answer_json + "}");
  Member(&json, "memoryBefore", MemoryJson(call->memory_before));
  Member(&json, "memoryAfter", MemoryJson(call->memory_after));
  return HttpAnswer{200, "application/json", json + "}"};
}

HttpAnswer MemoryAnswer(const MemoryStats& stats) {
  return HttpAnswer{200, "application/json", MemoryJson(stats)};
}

const char kInspectorPathItems[] = R"json({
  "/devhost/inspector": {
    "get": {
      "operationId": "GetDevhostInspector",
      "summary": "Follow what happens inside the plugin",
      "description": "A stream of Server-Sent Events, each named by its kind: call (one call into the plugin, from any client, with its status, duration, body and the change in the plugin's allocations), outgoing (a request the plugin sent to the other plugins or the server with its answer, an answer delivered back to it as an event, or a wait it began or ended; linked to its call by number), log (a line the plugin logged, whatever --log prints), published (an event the plugin published), reload (serve --watch loaded a new build of the plugin library: the old and new file's modification time and size, whether it succeeded and why not, the load number calls carry afterwards). Every message has an id; a new stream starts with the newest 1,000 messages kept (about 4 MiB at most), a reconnecting one after its Last-Event-ID. The stand-in host's own endpoint, not the plugin's.",
      "tags": ["vyn-devhost"],
      "parameters": [{"name": "Last-Event-ID", "in": "header", "required": false,
                      "description": "The id of the last message seen: the stream goes on after it",
                      "schema": {"type": "integer", "minimum": 0}}],
      "responses": {
        "200": {"description": "The stream; it ends when the server stops",
                "content": {"text/event-stream": {"schema": {"type": "string"},
                            "example": "id: 7\nevent: call\ndata: {\"number\":3,\"method\":\"POST\",\"path\":\"/vyn-spectator/v1/spectate/launch\",\"status\":204}\n\n"}}},
        "4XX": {"$ref": "#/components/responses/Refused"},
        "503": {"description": "Too many event streams are open",
                "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}}
      }
    }
  },
  "/devhost/calls/{number}": {
    "get": {
      "operationId": "GetDevhostCall",
      "summary": "One call into the plugin in full",
      "description": "The call numbered as in the inspector stream: its request (headers, arguments, body), the answer the host gave, and the plugin's allocator counters before and after. The host keeps the newest 1,000 calls (about 4 MiB at most). The stand-in host's own endpoint, not the plugin's.",
      "tags": ["vyn-devhost"],
      "parameters": [{"name": "number", "in": "path", "required": true,
                      "schema": {"type": "integer", "minimum": 1}}],
      "responses": {
        "200": {"description": "The call",
                "content": {"application/json": {"schema": {"$ref": "#/components/schemas/DevhostCall"}}}},
        "404": {"description": "No such call is kept",
                "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Error"}}}}
      }
    }
  },
  "/devhost/memory": {
    "get": {
      "operationId": "GetDevhostMemory",
      "summary": "The plugin's memory statistics now",
      "description": "The plugin's allocator counters, with the live bytes and allocations they imply; while a call runs, those taken as it began. The stand-in host's own endpoint, not the plugin's.",
      "tags": ["vyn-devhost"],
      "responses": {
        "200": {"description": "The counters",
                "content": {"application/json": {"schema": {"$ref": "#/components/schemas/DevhostMemory"}}}},
        "4XX": {"$ref": "#/components/responses/Refused"}
      }
    }
  }
})json";

const char kInspectorSchemas[] = R"json({
  "DevhostMemory": {
    "type": "object",
    "required": ["liveBytes", "liveAllocations", "peakLiveBytes", "peakLiveAllocations",
                 "allocations", "bytesAllocated", "frees", "bytesFreed"],
    "properties": {
      "liveBytes": {"type": "integer"}, "liveAllocations": {"type": "integer"},
      "peakLiveBytes": {"type": "integer"}, "peakLiveAllocations": {"type": "integer"},
      "allocations": {"type": "integer"}, "bytesAllocated": {"type": "integer"},
      "frees": {"type": "integer"}, "bytesFreed": {"type": "integer"}
    }
  },
  "DevhostCall": {
    "type": "object",
    "required": ["number", "time", "durationUs", "method", "path", "status", "request", "answer"],
    "properties": {
      "number": {"type": "integer"},
      "load": {"type": "integer", "description": "Which load of the plugin answered: 1 for the first, one more after each reload"},
      "time": {"type": "integer", "description": "When the call began, in milliseconds since 1970"},
      "durationUs": {"type": "integer"},
      "method": {"type": "string"}, "path": {"type": "string"}, "function": {"type": "string"},
      "status": {"type": "integer", "description": "The HTTP status the host answered"},
      "contentType": {"type": "string", "description": "The request body's content type"},
      "bodyBytes": {"type": "integer", "nullable": true, "description": "The request body's size; null without a body"},
      "answerBytes": {"type": "integer"},
      "allocations": {"type": "integer", "description": "Allocations the plugin made during the call"},
      "liveBytes": {"type": "integer", "description": "The change in the plugin's live bytes over the call"},
      "liveAllocations": {"type": "integer", "description": "The change in the plugin's live allocations over the call"},
      "request": {"type": "object", "properties": {
        "headers": {"type": "array", "items": {"type": "array", "items": {"type": "string"}}},
        "arguments": {"type": "array", "items": {"type": "object"}},
        "body": {"type": "string", "nullable": true}}},
      "answer": {"type": "object", "properties": {
        "status": {"type": "integer"}, "contentType": {"type": "string"}, "body": {"type": "string"}}},
      "memoryBefore": {"$ref": "#/components/schemas/DevhostMemory"},
      "memoryAfter": {"$ref": "#/components/schemas/DevhostMemory"}
    }
  }
})json";

}  // namespace Kestrel::DevHost
