#include "devhost/server/session_har.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <vector>

#include "devhost/server/inspector.h"
#include "devhost/server/roster_endpoint.h"
#include "host_abi/http_method.h"
#include "rapidjson/prettywriter.h"
#include "rapidjson/stringbuffer.h"
#include "util/base64.h"

namespace Kestrel::DevHost {
namespace {

using Writer = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

void Text(Writer& writer, std::string_view text) {
  const std::string valid = ValidUtf8(text);
  writer.String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

// A member whose value is JSON text the host wrote itself (always valid).
void Raw(Writer& writer, std::string_view name, const std::string& json) {
  writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
  const std::string& value = json.empty() ? std::string("null") : json;
  writer.RawValue(value.data(), value.size(), rapidjson::kObjectType);
}

void Member(Writer& writer, std::string_view name, std::string_view text) {
  writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
  Text(writer, text);
}

void Member(Writer& writer, std::string_view name, int64_t number) {
  writer.Key(name.data(), static_cast<rapidjson::SizeType>(name.size()));
  writer.Int64(number);
}

// `time_ms` (milliseconds since 1970) as ISO 8601 in UTC with milliseconds.
std::string IsoTime(int64_t time_ms) {
  using namespace std::chrono;
  const sys_time<milliseconds> time{milliseconds(time_ms)};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss<milliseconds> clock{time - day};
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

// `text` with "%XX" escapes and "+" decoded, as a query's names and values.
std::string DecodeQueryPart(std::string_view text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    auto hex = [](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      decoded += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i] == '+' ? ' ' : text[i];
    }
  }
  return decoded;
}

void QueryString(Writer& writer, std::string_view path) {
  writer.Key("queryString");
  writer.StartArray();
  const size_t mark = path.find('?');
  std::string_view query = mark == std::string_view::npos ? "" : path.substr(mark + 1);
  while (!query.empty()) {
    const std::string_view pair = query.substr(0, query.find('&'));
    query.remove_prefix(std::min(query.size(), pair.size() + 1));
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    writer.StartObject();
    Member(writer, "name", DecodeQueryPart(pair.substr(0, equals)));
    Member(writer, "value",
           equals == std::string_view::npos ? "" : DecodeQueryPart(pair.substr(equals + 1)));
    writer.EndObject();
  }
  writer.EndArray();
}

void Headers(Writer& writer, const std::vector<std::pair<std::string, std::string>>& headers) {
  writer.Key("headers");
  writer.StartArray();
  for (const auto& [name, value] : headers) {
    writer.StartObject();
    Member(writer, "name", name);
    Member(writer, "value", value);
    writer.EndObject();
  }
  writer.EndArray();
}

// The body as HAR keeps it: "text", and the encoding member named
// `encoding_name` when it is Base64.
void Body(Writer& writer, std::string_view content_type, const std::string& body,
          std::string_view encoding_name) {
  if (!IsBinaryBody(content_type, body)) return Member(writer, "text", body);
  Member(writer, "text", EncodeBase64(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
  Member(writer, encoding_name, kBase64Encoding);
}

std::string HeaderValue(const CallRequest& request, std::string_view name) {
  for (const auto& [key, value] : request.headers) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      return value;
    }
  }
  return {};
}

void Request(Writer& writer, const CallRequest& request) {
  writer.Key("request");
  writer.StartObject();
  Member(writer, "method",
         request.method == kMethodCustom
             ? request.method_name
             : std::string(HttpMethodText(HttpMethodFromValue(request.method))));
  const std::string host = HeaderValue(request, "Host");
  Member(writer, "url",
         "http://" + (host.empty() ? std::string("localhost") : host) + request.path);
  Member(writer, "httpVersion", "HTTP/1.1");
  writer.Key("cookies");
  writer.StartArray();
  writer.EndArray();
  Headers(writer, request.headers);
  QueryString(writer, request.path);
  if (request.body.has_value()) {
    writer.Key("postData");
    writer.StartObject();
    Member(writer, "mimeType", request.content_type);
    Body(writer, request.content_type, *request.body, "_encoding");
    writer.EndObject();
  }
  Member(writer, "headersSize", -1);
  Member(writer, "bodySize",
         request.body.has_value() ? static_cast<int64_t>(request.body->size()) : 0);
  writer.EndObject();
}

void Response(Writer& writer, const HttpAnswer& answer) {
  std::vector<std::pair<std::string, std::string>> headers;
  if (!answer.content_type.empty()) headers.emplace_back("Content-Type", answer.content_type);
  const bool has_body = answer.status != 204 && answer.status != 304;
  if (has_body) headers.emplace_back("Content-Length", std::to_string(answer.body.size()));
  writer.Key("response");
  writer.StartObject();
  Member(writer, "status", answer.status);
  Member(writer, "statusText", "");
  Member(writer, "httpVersion", "HTTP/1.1");
  writer.Key("cookies");
  writer.StartArray();
  writer.EndArray();
  Headers(writer, headers);
  writer.Key("content");
  writer.StartObject();
  Member(writer, "size", static_cast<int64_t>(answer.body.size()));
  Member(writer, "mimeType", answer.content_type);
  if (has_body) Body(writer, answer.content_type, answer.body, "encoding");
  writer.EndObject();
  Member(writer, "redirectURL", "");
  Member(writer, "headersSize", -1);
  Member(writer, "bodySize", has_body ? static_cast<int64_t>(answer.body.size()) : 0);
  writer.EndObject();
}

void Outgoing(Writer& writer, const OutgoingRecord& record) {
  writer.StartObject();
  Member(writer, "kind", OutgoingKindName(record.kind));
  switch (record.kind) {
    case OutgoingRecord::Kind::kRequest:
      Member(writer, "method", HttpMethodText(HttpMethodFromValue(record.method)));
      Member(writer, "path", record.name);
      Raw(writer, "payload", record.payload_json);
      Member(writer, "status", static_cast<int64_t>(record.status));
      writer.Key("error");
      writer.Bool(record.error);
      Raw(writer, "answer", record.answer_json);
      break;
    case OutgoingRecord::Kind::kDelivery:
      Member(writer, "name", record.name);
      Raw(writer, "payload", record.payload_json);
      break;
    case OutgoingRecord::Kind::kBeginWait:
      Member(writer, "name", record.name);
      break;
    case OutgoingRecord::Kind::kEndWait:
      break;
  }
  writer.EndObject();
}

void NamedPayload(Writer& writer, const std::string& name, const std::string& payload_json) {
  writer.StartObject();
  Member(writer, "name", name);
  Raw(writer, "payload", payload_json);
  writer.EndObject();
}

// What one call's entry carries beside its request and answer.
struct CallExtras {
  std::vector<const OutgoingRecord*> outgoing;
  std::vector<const RecordedEvent*> published;
  std::vector<const LogLine*> log;
  const std::string* roster = nullptr;
};

void Extras(Writer& writer, const CallRecord& call, const CallExtras& extras) {
  writer.Key("_outgoing");
  writer.StartArray();
  for (const OutgoingRecord* record : extras.outgoing) Outgoing(writer, *record);
  writer.EndArray();
  writer.Key("_events");
  writer.StartObject();
  writer.Key("delivered");
  writer.StartArray();
  for (const OutgoingRecord* record : extras.outgoing) {
    if (record->kind == OutgoingRecord::Kind::kDelivery) {
      NamedPayload(writer, record->name, record->payload_json);
    }
  }
  writer.EndArray();
  writer.Key("published");
  writer.StartArray();
  for (const RecordedEvent* event : extras.published) {
    NamedPayload(writer, event->name, event->payload.ToJson());
  }
  writer.EndArray();
  writer.EndObject();
  writer.Key("_log");
  writer.StartArray();
  for (const LogLine* line : extras.log) {
    writer.StartObject();
    Member(writer, "level", line->level);
    Member(writer, "time", IsoTime(line->time_ms));
    Member(writer, "text", line->text);
    writer.EndObject();
  }
  writer.EndArray();
  writer.Key("_allocations");
  writer.StartObject();
  Member(writer, "allocations", call.AllocationsMade());
  Member(writer, "liveBytes", call.LiveBytesChange());
  Member(writer, "liveAllocations", call.LiveAllocationsChange());
  Member(writer, "peakLiveBytes", static_cast<int64_t>(call.memory_after.peak_live_bytes));
  writer.EndObject();
  if (extras.roster != nullptr) Raw(writer, "_roster", *extras.roster);
}

void Entry(Writer& writer, const CallRecord& call, const CallExtras& extras) {
  const HttpAnswer answer = AnswerForOutcome(call.outcome);
  const double duration_ms = static_cast<double>(call.duration_us) / 1000.0;
  writer.StartObject();
  Member(writer, "startedDateTime", IsoTime(call.time_ms));
  writer.Key("time");
  writer.Double(duration_ms);
  Request(writer, call.request);
  Response(writer, answer);
  writer.Key("cache");
  writer.StartObject();
  writer.EndObject();
  writer.Key("timings");
  writer.StartObject();
  writer.Key("send");
  writer.Double(0);
  writer.Key("wait");
  writer.Double(duration_ms);
  writer.Key("receive");
  writer.Double(0);
  writer.EndObject();
  Member(writer, "_call", static_cast<int64_t>(call.number));
  Member(writer, "_function", call.outcome.function_name);
  Extras(writer, call, extras);
  writer.EndObject();
}

}  // namespace

bool IsBinaryBody(std::string_view content_type, std::string_view body) {
  return content_type.find("msgpack") != std::string_view::npos || ValidUtf8(body) != body;
}

SessionRecorder::SessionRecorder(const CoreHost* host, const SimulatedPeers* peers,
                                 size_t record_limit, size_t record_bytes_limit)
    : host_(host),
      peers_(peers),
      record_limit_(record_limit),
      record_bytes_limit_(record_bytes_limit) {}

void SessionRecorder::Observe(HostObserver* observer) {
  observer->on_outgoing = [this, also = observer->on_outgoing](const OutgoingRecord& record) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const size_t bytes =
          record.name.size() + record.payload_json.size() + record.answer_json.size();
      outgoing_.Add(record, bytes, record_limit_, record_bytes_limit_);
    }
    if (also) also(record);
  };
  observer->on_event = [this, also = observer->on_event](const RecordedEvent& event) {
    {
      const uint64_t call = host_->current_call();
      std::lock_guard<std::mutex> lock(mutex_);
      const size_t bytes = event.name.size() + CoreValueBytes(event.payload.get());
      published_.Add(Published{call, event}, bytes, record_limit_, record_bytes_limit_);
    }
    if (also) also(event);
  };
  observer->on_call = [this, also = observer->on_call](const CallRecord& call) {
    if (peers_ != nullptr) {
      std::string roster = RosterJson(peers_->roster());
      std::lock_guard<std::mutex> lock(mutex_);
      const size_t bytes = roster.size();
      rosters_.Add({call.number, std::move(roster)}, bytes, record_limit_, record_bytes_limit_);
    }
    if (also) also(call);
  };
}

std::string SessionRecorder::Har() const {
  const std::vector<CallRecord> calls = host_->calls();
  const std::vector<LogLine> log = host_->log_lines();
  // Read before the recorder's lock: the host takes its call lock for it,
  // and a call in progress reports to this recorder while it holds that lock.
  const std::string plugin_name = host_->plugin_name();
  std::lock_guard<std::mutex> lock(mutex_);
  std::map<uint64_t, CallExtras> extras;
  for (const CallRecord& call : calls) extras[call.number];
  auto kept = [&](uint64_t call) -> CallExtras* {
    auto it = extras.find(call);
    return it == extras.end() ? nullptr : &it->second;
  };
  for (uint64_t n = outgoing_.first_number(); n < outgoing_.end_number(); ++n) {
    const OutgoingRecord& record = outgoing_.at_number(n);
    if (CallExtras* call = kept(record.call)) call->outgoing.push_back(&record);
  }
  for (uint64_t n = published_.first_number(); n < published_.end_number(); ++n) {
    const Published& published = published_.at_number(n);
    if (CallExtras* call = kept(published.call)) call->published.push_back(&published.event);
  }
  for (uint64_t n = rosters_.first_number(); n < rosters_.end_number(); ++n) {
    const auto& [number, roster] = rosters_.at_number(n);
    if (CallExtras* call = kept(number)) call->roster = &roster;
  }
  for (const LogLine& line : log) {
    if (CallExtras* call = kept(line.call)) call->log.push_back(&line);
  }

  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.SetIndent(' ', 1);
  writer.StartObject();
  writer.Key("log");
  writer.StartObject();
  Member(writer, "version", "1.2");
  writer.Key("creator");
  writer.StartObject();
  Member(writer, "name", "vyn-devhost");
  Member(writer, "version", "1.0");
  writer.EndObject();
  writer.Key("pages");
  writer.StartArray();
  writer.EndArray();
  writer.Key("entries");
  writer.StartArray();
  for (const CallRecord& call : calls) Entry(writer, call, extras[call.number]);
  writer.EndArray();
  Member(writer, "_plugin", plugin_name);
  writer.EndObject();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

HttpAnswer SessionRecorder::Answer(const SessionRecorder* recorder) {
  if (recorder == nullptr) {
    return HttpAnswer{404, "application/json", ErrorBody("This host records no session")};
  }
  return HttpAnswer{200, "application/json", recorder->Har()};
}

const char kSessionPathItems[] = R"json({
  "/devhost/session.har": {
    "get": {
      "operationId": "GetDevhostSessionHar",
      "summary": "The calls kept so far as an HTTP Archive",
      "description": "HAR 1.2: one entry per call kept (the newest 1,000, about 4 MiB at most) with its request and the answer the host gave. Fields beginning with an underscore carry what HAR has no field for: _outgoing (requests to the other plugins and the server with their answers, deliveries, waits), _events, _log, _allocations and _roster. vyn-devhost replay sends the calls again. The stand-in host's own endpoint, not the plugin's.",
      "tags": ["vyn-devhost"],
      "responses": {
        "200": {"description": "The session",
                "content": {"application/json": {"schema": {"type": "object", "required": ["log"],
                            "properties": {"log": {"type": "object"}}}}}},
        "4XX": {"$ref": "#/components/responses/Refused"}
      }
    }
  }
})json";

}  // namespace Kestrel::DevHost
