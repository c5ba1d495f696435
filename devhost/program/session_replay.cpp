#include "devhost/program/session_replay.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "devhost/peers/roster.h"
#include "devhost/program/text_diff.h"
#include "devhost/server/http_answer.h"
#include "devhost/server/session_har.h"
#include "rapidjson/document.h"
#include "rapidjson/prettywriter.h"
#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"
#include "util/base64.h"

namespace Kestrel::DevHost {
namespace {

using rapidjson::Value;

// --- JSON texts -------------------------------------------------------------

template <typename Writer>
void WriteJson(const Value& value, bool sorted, Writer& writer) {
  if (value.IsObject()) {
    std::vector<const Value::Member*> members;
    for (const Value::Member& member : value.GetObject()) members.push_back(&member);
    if (sorted) {
      std::stable_sort(members.begin(), members.end(), [](auto* a, auto* b) {
        return std::string_view(a->name.GetString(), a->name.GetStringLength()) <
               std::string_view(b->name.GetString(), b->name.GetStringLength());
      });
    }
    writer.StartObject();
    for (const Value::Member* member : members) {
      writer.Key(member->name.GetString(), member->name.GetStringLength());
      WriteJson(member->value, sorted, writer);
    }
    writer.EndObject();
  } else if (value.IsArray()) {
    writer.StartArray();
    for (const Value& item : value.GetArray()) WriteJson(item, sorted, writer);
    writer.EndArray();
  } else {
    value.Accept(writer);
  }
}

// `value` as JSON text: compact in its own member order, or with members
// sorted by name (pretty-printed when `pretty`), so that two texts of the
// same JSON compare equal.
std::string JsonText(const Value& value, bool sorted = false, bool pretty = false) {
  rapidjson::StringBuffer buffer;
  if (pretty) {
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    WriteJson(value, sorted, writer);
  } else {
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    WriteJson(value, sorted, writer);
  }
  return std::string(buffer.GetString(), buffer.GetSize());
}

// `text` pretty-printed with sorted members when it is JSON; as it is else.
std::string Comparable(std::string_view text) {
  rapidjson::Document json;
  json.Parse(text.data(), text.size());
  if (json.HasParseError()) return std::string(text);
  return JsonText(json, true, true);
}

// The one-line form of an outgoing request both sides print.
std::string OutgoingLine(std::string_view method, std::string_view path, const Value& payload) {
  return std::string(method) + " " + std::string(path) + " " + JsonText(payload, true);
}

const Value* Find(const Value& object, const char* name) {
  if (!object.IsObject()) return nullptr;
  auto it = object.FindMember(name);
  return it == object.MemberEnd() ? nullptr : &it->value;
}

std::string StringOr(const Value& object, const char* name, std::string fallback = {}) {
  const Value* value = Find(object, name);
  return value != nullptr && value->IsString()
             ? std::string(value->GetString(), value->GetStringLength())
             : fallback;
}

// --- The recording ----------------------------------------------------------

// One outgoing request of a recorded call, with what the peers answered and
// the events delivered after it.
struct RecordedOutgoing {
  std::string method;
  std::string path;
  std::string line;  // OutgoingLine
  bool error = false;
  uint32_t status = 0;
  std::string answer_json;                                      // the value, or the error's message
  std::vector<std::pair<std::string, std::string>> deliveries;  // name, payload JSON
  bool used = false;
};

struct RecordedCall {
  size_t entry = 0;  // its index among the HAR's entries
  CallRequest request;
  std::string text;  // the comparable text of what was recorded
  std::vector<RecordedOutgoing> outgoing;
  std::optional<std::string> roster_json;
};

// What a call answered and sent, as the diff shows it.
std::string CallText(int status, std::string_view content_type, std::string_view body,
                     const std::vector<std::string>& outgoing) {
  std::string text = "status: " + std::to_string(status) + "\n";
  text += "content-type: " + std::string(content_type) + "\n";
  text += "body:\n";
  if (!body.empty()) text += Comparable(body) + "\n";
  text += "outgoing:\n";
  for (const std::string& line : outgoing) text += "  " + line + "\n";
  return text;
}

std::string DecodedBody(const Value& holder, const char* encoding_name) {
  std::string text = StringOr(holder, "text");
  if (StringOr(holder, encoding_name) != kBase64Encoding) return text;
  const std::vector<uint8_t> bytes = DecodeBase64(text);
  return std::string(bytes.begin(), bytes.end());
}

// The path and query of `url` ("http://host/p?q" or "/p?q").
std::string PathOf(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  const size_t path = url.find('/', scheme + 3);
  return path == std::string::npos ? "/" : url.substr(path);
}

MaybeType<RecordedCall> ReadEntry(const Value& entry, size_t index) {
  const Value* request = Find(entry, "request");
  const Value* response = Find(entry, "response");
  const Value* content = response != nullptr ? Find(*response, "content") : nullptr;
  const Value* status = response != nullptr ? Find(*response, "status") : nullptr;
  if (request == nullptr || !request->IsObject() || content == nullptr || !content->IsObject() ||
      status == nullptr || !status->IsInt()) {
    return Failure(2, "entry %1 lacks its request or its response's status and content", index + 1);
  }
  RecordedCall call;
  call.entry = index;
  const std::string method = StringOr(*request, "method");
  call.request.method = static_cast<uint32_t>(HttpMethodFromText(method));
  call.request.path = PathOf(StringOr(*request, "url"));
  if (const Value* headers = Find(*request, "headers"); headers != nullptr && headers->IsArray()) {
    for (const Value& header : headers->GetArray()) {
      call.request.headers.emplace_back(StringOr(header, "name"), StringOr(header, "value"));
    }
  }
  if (const Value* post = Find(*request, "postData"); post != nullptr && post->IsObject()) {
    call.request.content_type = StringOr(*post, "mimeType");
    call.request.body = DecodedBody(*post, "_encoding");
  }
  std::string body = StringOr(*content, "text");
  std::vector<std::string> sent;
  if (const Value* outgoing = Find(entry, "_outgoing");
      outgoing != nullptr && outgoing->IsArray()) {
    for (const Value& item : outgoing->GetArray()) {
      const std::string kind = StringOr(item, "kind");
      if (kind == "delivery" && !call.outgoing.empty()) {
        const Value* payload = Find(item, "payload");
        call.outgoing.back().deliveries.emplace_back(
            StringOr(item, "name"), payload != nullptr ? JsonText(*payload) : "null");
      }
      if (kind != "request") continue;
      RecordedOutgoing recorded;
      recorded.method = StringOr(item, "method");
      recorded.path = StringOr(item, "path");
      const Value null_value;
      const Value* payload = Find(item, "payload");
      recorded.line =
          OutgoingLine(recorded.method, recorded.path, payload != nullptr ? *payload : null_value);
      const Value* error = Find(item, "error");
      recorded.error = error != nullptr && error->IsBool() && error->GetBool();
      const Value* answer_status = Find(item, "status");
      recorded.status =
          answer_status != nullptr && answer_status->IsUint() ? answer_status->GetUint() : 0;
      const Value* answer = Find(item, "answer");
      recorded.answer_json = answer == nullptr ? "null"
                             : recorded.error  ? StringOr(*answer, "message")
                                               : JsonText(*answer);
      sent.push_back(recorded.line);
      call.outgoing.push_back(std::move(recorded));
    }
  }
  if (const Value* roster = Find(entry, "_roster"); roster != nullptr && roster->IsObject()) {
    call.roster_json = JsonText(*roster);
  }
  call.text = CallText(status->GetInt(), StringOr(*content, "mimeType"), body, sent);
  return call;
}

// The entries of the HAR text that call a function of `host`'s plugin;
// `skipped` counts the others.
MaybeType<std::vector<RecordedCall>> ReadSession(const std::string& text, const CoreHost& host,
                                                 size_t* skipped) {
  rapidjson::Document har;
  har.Parse(text.data(), text.size());
  if (har.HasParseError()) return Failure(2, "not a HAR file: it is not JSON");
  const Value* log = Find(har, "log");
  const Value* entries = log != nullptr ? Find(*log, "entries") : nullptr;
  if (entries == nullptr || !entries->IsArray() || Find(*log, "version") == nullptr) {
    return Failure(2, "not a HAR file: no \"log\" with a version and \"entries\"");
  }
  std::vector<RecordedCall> calls;
  for (rapidjson::SizeType i = 0; i < entries->Size(); ++i) {
    MaybeType<RecordedCall> call = ReadEntry((*entries)[i], i);
    if (call.is_failure()) return call.failure();
    const CallRequest& request = call.value().request;
    if (request.method == kMethodNone || request.method == kMethodCustom ||
        host.FindFunction(request.method, request.path) == nullptr) {
      ++*skipped;
      continue;
    }
    calls.push_back(call.TakeValue());
  }
  if (calls.empty()) {
    return Failure(2, "the session holds no call of %1 (%2 entries)", host.plugin_name(),
                   entries->Size());
  }
  return calls;
}

// --- The replay -------------------------------------------------------------

// The peers during a replay: the recording first, the simulated peers for
// what it does not hold. Used on the plugin's thread only (calls are made
// one at a time).
class ReplayPeers {
 public:
  ReplayPeers(CoreHost* host, SimulatedPeers* peers) : host_(host), peers_(peers) {}

  void Begin(RecordedCall* call) {
    call_ = call;
    sent_.clear();
  }
  void End() { call_ = nullptr; }
  const std::vector<std::string>& sent() const { return sent_; }

  ScriptedResponse Answer(const RecordedRequest& request) {
    if (call_ == nullptr) return peers_->Answer(host_, request);
    const std::string method = HttpMethodText(HttpMethodFromValue(request.method));
    rapidjson::Document payload;
    payload.Parse(request.ArgumentsJson().c_str());
    const std::string line = OutgoingLine(method, request.path, payload);
    for (RecordedOutgoing& recorded : call_->outgoing) {
      if (recorded.used || recorded.method != method || recorded.path != request.path) continue;
      recorded.used = true;
      sent_.push_back(line);
      for (const auto& [name, json] : recorded.deliveries) {
        MaybeType<HostValue> value = HostValue::FromJson(json);
        host_->QueueEvent(name, value.has_value() ? value.TakeValue() : HostValue());
      }
      if (recorded.error) return ScriptedResponse::Error(recorded.answer_json, recorded.status);
      return ScriptedResponse::Json(recorded.answer_json);
    }
    sent_.push_back(line + "  (not in the recording)");
    return peers_->Answer(host_, request);
  }

 private:
  CoreHost* host_;
  SimulatedPeers* peers_;
  RecordedCall* call_ = nullptr;
  std::vector<std::string> sent_;
};

MaybeType<std::string> ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return Failure(2, "cannot read the session '%1'", path);
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return Failure(2, "cannot read the session '%1'", path);
  return text.str();
}

int Fail(std::ostream& err, const Failure& failure) {
  err << "vyn-devhost replay: " << failure.message() << "\n";
  return 2;
}

int Replay(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
           std::ostream& err) {
  MaybeType<std::string> text = ReadText(options.session_path);
  if (text.is_failure()) return Fail(err, text.failure());
  std::error_code missing;
  if (source.entry == nullptr && !std::filesystem::exists(options.plugin_path, missing)) {
    return Fail(err, Failure(2, "the plugin library '%1' does not exist", options.plugin_path));
  }
  std::unique_ptr<ReplayPeers> replay;
  MaybeType<RunningHost> running = StartHost(
      options, source, HostObserver{}, 0, 0, [&replay](CoreHost* host, SimulatedPeers* peers) {
        replay = std::make_unique<ReplayPeers>(host, peers);
        host->SetRequestPrefixHandler(
            kMethodNone, "",
            [peers = replay.get()](const RecordedRequest& r) { return peers->Answer(r); });
      });
  if (running.is_failure()) return Fail(err, running.failure());
  CoreHost& host = *running.value().host;
  size_t skipped = 0;
  MaybeType<std::vector<RecordedCall>> calls = ReadSession(text.value(), host, &skipped);
  if (calls.is_failure()) {
    host.Unload();
    return Fail(err, calls.failure());
  }
  if (skipped != 0) {
    err << "vyn-devhost replay: " << skipped << " entries call no function of "
        << host.plugin_name() << " and are left out\n";
  }
  size_t same = 0, differ = 0;
  for (RecordedCall& call : calls.value()) {
    if (call.roster_json.has_value()) {
      MaybeType<Roster> roster = ParseRoster(*call.roster_json);
      if (roster.has_value()) running.value().peers->SetRoster(roster.TakeValue());
    }
    replay->Begin(&call);
    const HttpAnswer answer = AnswerForCall(host.Call(call.request));
    replay->End();
    std::string body = answer.body;
    if (IsBinaryBody(answer.content_type, body)) {
      body = EncodeBase64(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    }
    const std::string replayed = CallText(answer.status, answer.content_type, body, replay->sent());
    const std::string diff = UnifiedDiff(call.text, replayed, "recorded", "replayed");
    if (diff.empty()) {
      ++same;
      continue;
    }
    ++differ;
    out << "entry " << call.entry + 1 << ": "
        << HttpMethodText(HttpMethodFromValue(call.request.method)) << " " << call.request.path
        << " differs\n"
        << diff;
  }
  host.Unload();
  out << calls.value().size() << " calls, " << same << " same, " << differ << " differ\n";
  return differ == 0 ? 0 : 1;
}

}  // namespace

int RunReplay(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
              std::ostream& err) {
  try {
    return Replay(options, source, out, err);
  } catch (const std::exception& error) {
    return Fail(err, Failure(2, "%1", error.what()));
  } catch (...) {
    return Fail(err, Failure(2, "the replay failed"));
  }
}

}  // namespace Kestrel::DevHost
