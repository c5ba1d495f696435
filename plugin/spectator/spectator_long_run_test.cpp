// A long run of mixed endpoint calls through the plugin library loaded by
// path: valid and invalid bodies of every content type the endpoints read
// (JSON, YAML, MessagePack), unsupported content types, malformed bodies,
// launches and reads of the current game. After a warm-up the library's
// counted live bytes must come back to where they were and the process's
// resident memory must stay flat: nothing may accumulate per call.
//
// VYN_LONG_RUN_CALLS overrides the number of calls (100,000).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "devhost/host/core_host.h"
#include "platform/process_info.h"

namespace Kestrel::DevHost {
namespace {

constexpr int kDefaultCalls = 100000;
constexpr uint64_t kResidentSlack = 2u << 20;
constexpr char kAvailability[] = "/vyn-spectator/v1/buddy/spectate";
constexpr char kLaunch[] = "/vyn-spectator/v1/spectate/launch";
constexpr char kCurrent[] = "/vyn-spectator/v1/spectate";
constexpr char kGameJson[] =
    R"({"allowObserveMode":"ALL","dropInSpectateGameId":"42","gameQueueType":"ARAM"})";

struct MixedCall {
  CallRequest request;
  bool succeeds;
};

CallRequest WithBody(uint32_t method, const char* path, const char* content_type,
                     std::string body) {
  CallRequest request;
  request.method = method;
  request.path = path;
  request.content_type = content_type;
  request.body = std::move(body);
  return request;
}

// One round of every kind of call; the round ends with a launch, so the
// current game is the same after every round.
std::vector<MixedCall> OneRound() {
  const std::string msgpack_names(
      "\x92\xA3"
      "Ann"
      "\xA3"
      "Bob",
      9);
  const std::string msgpack_truncated(
      "\x93\xA3"
      "Ann"
      "\xA3",
      6);
  CallRequest current;
  current.method = kMethodGet;
  current.path = kCurrent;
  return {
      {WithBody(kMethodPost, kAvailability, "application/json", R"(["Ann","Bob","Cid"])"), true},
      {WithBody(kMethodPost, kAvailability, "application/x-yaml", "---\n- Ann\n- Cid\n"), true},
      {WithBody(kMethodPost, kAvailability, "application/x-msgpack", msgpack_names), true},
      {WithBody(kMethodPost, kAvailability, "application/json", R"(["Ann",)"), false},
      {WithBody(kMethodPost, kAvailability, "application/json", R"({"x":1})"), false},
      {WithBody(kMethodPost, kAvailability, "application/x-yaml", "- [Ann\n- : :\n"), false},
      {WithBody(kMethodPost, kAvailability, "application/x-msgpack", msgpack_truncated), false},
      {WithBody(kMethodPost, kAvailability, "text/plain", "Ann,Bob"), false},
      {WithBody(kMethodPost, kLaunch, "application/json", R"({"allowObserveMode":)"), false},
      {WithBody(kMethodPost, kLaunch, "application/x-yaml", "allowObserveMode: [\n"), false},
      {current, true},
      {WithBody(kMethodPost, kLaunch, "application/json", kGameJson), true},
  };
}

int CallCount() {
  const char* text = std::getenv("VYN_LONG_RUN_CALLS");
  if (text == nullptr) return kDefaultCalls;
  const int count = std::atoi(text);
  return count > 0 ? count : kDefaultCalls;
}

uint64_t LiveBytes(const CoreHost& host) {
  const MemoryStats stats = host.GetMemoryStats();
  return stats.bytes_allocated - stats.bytes_freed;
}

TEST(SpectatorLongRun, MixedCallsLeaveCountedAndResidentMemoryFlat) {
  CoreHost host;
  host.SetRequestHandler(kMethodPost, "/vyn-gameflow/v1/spectate/launch",
                         [](const RecordedRequest&) { return ScriptedResponse::Nil(); });
  uint64_t uuids = 0;
  host.SetRequestHandler(
      kMethodPost, "/vyn-login/v1/service-proxy-uuid-requests",
      [&host, &uuids](const RecordedRequest&) {
        const std::string uuid = "uuid-" + std::to_string(++uuids);
        MaybeType<HostValue> answer = HostValue::FromJson(
            R"({"uuid":")" + uuid +
            R"(","serviceName":"spectator","methodName":"getDropInSpectateAvailability",)"
            R"("payload":"{\"availableForWatching\":[\"Ann\"]}","status":"200","error":""})");
        if (answer.has_value()) host.QueueEvent("OnServiceProxyUuidEvent", answer.TakeValue());
        return ScriptedResponse::Value(HostValue::String(uuid));
      });
  MaybeType<void> loaded = host.LoadLibrary(VYN_SPECTATOR_LIBRARY);
  ASSERT_TRUE(loaded.has_value()) << loaded.ToText();
  ASSERT_TRUE(host.Initialize().has_value());

  const std::vector<MixedCall> round = OneRound();
  const int rounds = std::max(2, CallCount() / static_cast<int>(round.size()));
  const int warm_up_rounds = std::max(1, rounds / 20);
  uint64_t live_after_warm_up = 0;
  uint64_t resident_after_warm_up = 0;
  uint64_t resident_peak = 0;
  int wrong = 0;
  std::string first_wrong;
  for (int r = 0; r < rounds; ++r) {
    for (const MixedCall& call : round) {
      MaybeType<CallOutcome> outcome = host.Call(call.request);
      const bool succeeded = outcome.has_value() && !outcome.value().error;
      if (succeeded != call.succeeds) {
        if (first_wrong.empty()) first_wrong = call.request.content_type + " " + *call.request.body;
        ++wrong;
      }
    }
    // The host's own records of the calls are not the library's business.
    host.ClearRecords();
    if (r + 1 == warm_up_rounds) {
      live_after_warm_up = LiveBytes(host);
      resident_after_warm_up = Platform::ResidentBytes();
    }
    if (r + 1 > warm_up_rounds) {
      resident_peak = std::max(resident_peak, Platform::ResidentBytes());
    }
  }
  EXPECT_EQ(wrong, 0) << "first unexpected outcome: " << first_wrong;
  EXPECT_EQ(host.pending_event_count(), 0u);
  EXPECT_EQ(LiveBytes(host), live_after_warm_up);
  ASSERT_GT(resident_after_warm_up, 0u);
  EXPECT_LE(resident_peak, resident_after_warm_up + kResidentSlack)
      << "resident after warm-up " << resident_after_warm_up << ", peak " << resident_peak;
  host.Shutdown();
  host.Unload();
}

}  // namespace
}  // namespace Kestrel::DevHost
