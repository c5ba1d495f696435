// Calls of the spectator module's endpoints through the host records, with the
// module loaded in-process into the in-process host (transport_fixture.h):
//
// - spectate_get/request/{ours,hand-written}: GET "/vyn-spectator/v1/spectate"
//   through the descriptor's call-back, then the response's release
//   (`ResetResponse`), against the floor: a hand-written call-back that
//   writes the same response and releases it through its own release.
// - spectate_get/request/ours-region-kept: the same GET while another live tree
//   keeps the page pool's region mapped (not a budget figure: it shows what the
//   region's release after every call costs).
// - availability/request/ours: POST "/vyn-spectator/v1/buddy/spectate" with two
//   names, as the host calls it (`CoreHost::CallFunction`: request built, the
//   answer copied out, the response released, queued events delivered),
//   including the service-proxy round trip the simulated login peer answers.
//
// The request records are built once, outside the timed loop. Both sides run
// with the counting allocator, as in the product.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "bench/bench_allocator.h"
#include "bench/benchmarks.h"
#include "bench/transport_fixture.h"
#include "binding/binding_property.h"
#include "plugin/spectator/spectator_module.h"

namespace Kestrel::Bench {
namespace {

using Client::CoreFunctionCallback;
using Client::CoreFunctionDescriptor;
using Client::CoreRequest;
using Client::CoreResponse;
using Client::ReadPacked;
using Client::Spectator::Api::SpectateGameInfoResource;

// Calls between two clearings of the host's and the peers' records.
constexpr int64_t kCallsPerRecordClearing = 1024;

CoreResponse ZeroedResponse() {
  CoreResponse response;
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  return response;
}

// The GET of the current game as the host sends it to `descriptor`.
CoreRequest CurrentGameRequest(const CoreFunctionDescriptor& descriptor) {
  CoreRequest request{};
  request.method = Kestrel::kMethodGet;
  request.path = Client::Spectator::kCurrentGamePath;
  request.function_context = ReadPacked(descriptor.function.function_context);
  request.content_type = "application/json";
  return request;
}

// Starts the module and finds the GET's descriptor; nullptr after reporting
// the problem to `state`.
const CoreFunctionDescriptor* StartForGet(benchmark::State& state, SpectatorInProcess& plugin) {
  MaybeType<void> started = plugin.Start();
  if (started.is_failure()) {
    state.SkipWithError(started.ToText().c_str());
    return nullptr;
  }
  const CoreFunctionDescriptor* get =
      plugin.Find(Kestrel::kMethodGet, Client::Spectator::kCurrentGamePath);
  if (get == nullptr || ReadPacked(get->callback) == nullptr) {
    state.SkipWithError("no call-back for GET /vyn-spectator/v1/spectate");
    return nullptr;
  }
  return get;
}

// Checks once, before timing, that the floor answers what the plugin answers
// (a game, not an error); reports the difference to `state` otherwise.
bool SameAnswerAsPlugin(benchmark::State& state, const CoreFunctionDescriptor& get,
                        const SpectateGameInfoResource& game) {
  const CoreRequest ours_request = CurrentGameRequest(get);
  CoreRequest floor_request = ours_request;
  floor_request.function_context = const_cast<SpectateGameInfoResource*>(&game);
  CoreResponse ours = ZeroedResponse();
  CoreResponse floor = ZeroedResponse();
  ReadPacked(get.callback)(&ours, &ours_request);
  HandWrittenCurrentGame(&floor, &floor_request);
  const std::string difference = ResponseDifference(ours, floor);
  const bool ours_is_game = ReadPacked(ours.value.structure.count) == 3;
  ReadPacked(ours.release)(&ours);
  ReadPacked(floor.release)(&floor);
  if (!difference.empty() || !ours_is_game) {
    state.SkipWithError(("the floor's answer differs from the plugin's: " + difference).c_str());
    return false;
  }
  return true;
}

// The GET through the descriptor. With `region_kept`, another live tree holds a
// page of the page pool's region for the whole run, as other trees of a busy
// process would: the response's tree then takes its page from a region that
// stays mapped instead of mapping one and releasing it again on every call.
void SpectateGet(benchmark::State& state, bool region_kept) {
  CountingScope counting;
  BindingProperty keeper;
  if (region_kept) {
    // Sixteen members: more member values than the inline page holds.
    for (char name = 'a'; name < 'a' + 16; ++name) keeper.Field(std::string(1, name)).SetUnsigned(1);
  }
  SpectatorInProcess plugin;
  const CoreFunctionDescriptor* get = StartForGet(state, plugin);
  if (get == nullptr) return;
  if (!SameAnswerAsPlugin(state, *get, plugin.CurrentGame())) return;
  const CoreRequest request = CurrentGameRequest(*get);
  const CoreFunctionCallback callback = ReadPacked(get->callback);
  CoreResponse response = ZeroedResponse();
  for (auto _ : state) {
    callback(&response, &request);
    ReadPacked(response.release)(&response);
    benchmark::ClobberMemory();
  }
}

void SpectateGetOurs(benchmark::State& state) { SpectateGet(state, false); }
void SpectateGetOursRegionKept(benchmark::State& state) { SpectateGet(state, true); }

void SpectateGetHandWritten(benchmark::State& state) {
  CountingScope counting;
  SpectatorInProcess plugin;
  const CoreFunctionDescriptor* get = StartForGet(state, plugin);
  if (get == nullptr) return;
  // The module's game, copied once: the floor answers from its own record.
  SpectateGameInfoResource game = plugin.CurrentGame();
  if (!SameAnswerAsPlugin(state, *get, game)) return;
  CoreRequest request = CurrentGameRequest(*get);
  request.function_context = &game;
  CoreResponse response = ZeroedResponse();
  for (auto _ : state) {
    HandWrittenCurrentGame(&response, &request);
    ReadPacked(response.release)(&response);
    benchmark::ClobberMemory();
  }
}

void AvailabilityOurs(benchmark::State& state) {
  CountingScope counting;
  SpectatorInProcess plugin;
  MaybeType<void> started = plugin.Start();
  if (started.is_failure()) {
    state.SkipWithError(started.ToText().c_str());
    return;
  }
  const CoreFunctionDescriptor* post =
      plugin.Find(Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath);
  if (post == nullptr) {
    state.SkipWithError("no function for POST /vyn-spectator/v1/buddy/spectate");
    return;
  }
  const DevHost::CallRequest request = DevHost::CallRequest::Json(
      Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath, kAvailabilityBody);
  const DevHost::CallOutcome first = plugin.host().CallFunction(*post, request);
  if (first.error || first.ValueJson() != R"({"availableForWatching":["Ann"]})") {
    state.SkipWithError(
        ("unexpected availability answer: " + first.error_text + first.ValueJson()).c_str());
    return;
  }
  int64_t calls = 0;
  for (auto _ : state) {
    DevHost::CallOutcome outcome = plugin.host().CallFunction(*post, request);
    benchmark::DoNotOptimize(outcome);
    if (++calls % kCallsPerRecordClearing == 0) {
      state.PauseTiming();
      plugin.ForgetRecords();
      state.ResumeTiming();
    }
  }
}

}  // namespace

void RegisterTransportBenchmarks() {
  benchmark::RegisterBenchmark("spectate_get/request/ours", SpectateGetOurs);
  benchmark::RegisterBenchmark("spectate_get/request/ours-region-kept", SpectateGetOursRegionKept);
  benchmark::RegisterBenchmark("spectate_get/request/hand-written", SpectateGetHandWritten);
  benchmark::RegisterBenchmark("availability/request/ours", AvailabilityOurs);
}

}  // namespace Kestrel::Bench
