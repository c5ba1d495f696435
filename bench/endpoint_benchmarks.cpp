// Availability and launch through the function descriptor, each beside its
// hand-written floor (endpoint_fixture.h), with the module loaded in-process:
//
// - availability_<count>/<body>/ours: POST "/vyn-spectator/v1/buddy/spectate"
//   with `count` names in a JSON, MessagePack or YAML body, through the
//   descriptor's call-back, then the response's release; the service-proxy
//   round trip runs through the in-process host.
// - availability_<count>/json/hand-written: the floor, with the same host work.
// - launch/request/{ours,hand-written}: POST "/vyn-spectator/v1/spectate/launch"
//   with the three-field JSON body.
//
// Before timing, each figure checks that both sides answer the same response
// and leave the same requests and events at the host. The host's records are
// cleared with the timer paused, every few calls. The heap allocations of one
// 10,000-name JSON call of each side go into the results' context as
// "alloc/availability_10000/ours" and "alloc/availability_10000/hand-written".
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "bench/bench_allocator.h"
#include "bench/benchmarks.h"
#include "bench/endpoint_fixture.h"
#include "devhost/host/core_host.h"
#include "plugin/spectator/spectator_module.h"
#include "util/counting_allocator.h"

namespace Kestrel::Bench {
namespace {

using Client::CoreFunctionCallback;
using Client::CoreFunctionDescriptor;
using Client::CoreRequest;
using Client::CoreResponse;
using Client::ReadPacked;

constexpr char kJsonType[] = "application/json";
constexpr char kMessagePackType[] = "application/x-msgpack";
constexpr char kYamlType[] = "application/x-yaml";

enum class Body { kJson, kMessagePack, kYaml };

CoreResponse Zeroed() {
  CoreResponse response;
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  return response;
}

// What a call left at the host: its requests' arguments and its events.
std::string HostTrace(DevHost::CoreHost& host) {
  std::string trace;
  for (const DevHost::RecordedRequest& request : host.requests()) {
    trace += request.path + " " + request.ArgumentsJson() + "\n";
  }
  for (const DevHost::RecordedEvent& event : host.events()) {
    trace += event.name + " " + event.payload.ToJson() + "\n";
  }
  return trace;
}

// One endpoint's two sides: the plugin's descriptor and a floor call-back,
// each with its request record.
struct Sides {
  CoreFunctionCallback ours = nullptr;
  CoreRequest ours_request{};
  CoreFunctionCallback floor = nullptr;
  CoreRequest floor_request{};
};

// Calls one side once; returns its response's JSON (or error text) and what
// it left at the host, then forgets the host's records.
std::string CallOnce(SpectatorInProcess& plugin, const std::function<void()>& reinstall,
                     CoreFunctionCallback callback, const CoreRequest& request,
                     CoreResponse* kept) {
  plugin.ForgetRecords();
  reinstall();
  CoreResponse response = Zeroed();
  callback(&response, &request);
  std::string seen = HostTrace(plugin.host());
  *kept = response;
  plugin.ForgetRecords();
  reinstall();
  return seen;
}

// True when both sides answer the same and leave the same trace at the host
// (the uuid and caller ids aside); reports the difference to `state`.
bool SameWork(benchmark::State& state, SpectatorInProcess& plugin,
              const std::function<void()>& reinstall, const Sides& sides) {
  CoreResponse ours = Zeroed();
  CoreResponse floor = Zeroed();
  std::string ours_trace = CallOnce(plugin, reinstall, sides.ours, sides.ours_request, &ours);
  std::string floor_trace = CallOnce(plugin, reinstall, sides.floor, sides.floor_request, &floor);
  std::string difference = ResponseDifference(ours, floor);
  const bool answered = ours.error_flag == 0;
  if (difference.empty() && !answered) difference = ours.error_text;
  ReadPacked(ours.release)(&ours);
  ReadPacked(floor.release)(&floor);
  // The plugin sends its own id where the floor sends its caller id.
  const std::string plugin_id = "\"spectator\",\"getDropInSpectateAvailability\",1,";
  const std::string floor_id = "\"spectator\",\"getDropInSpectateAvailability\",2,";
  for (std::size_t at = floor_trace.find(floor_id); at != std::string::npos;
       at = floor_trace.find(floor_id, at + 1)) {
    floor_trace.replace(at, floor_id.size(), plugin_id);
  }
  if (difference.empty() && ours_trace != floor_trace) {
    difference =
        "host traces differ:\n" + ours_trace.substr(0, 400) + "\nvs\n" + floor_trace.substr(0, 400);
  }
  if (!difference.empty()) {
    state.SkipWithError(("the floor does other work than the plugin: " + difference).c_str());
    return false;
  }
  return true;
}

// Times `callback` on `request`, releasing each response, clearing the host's
// records every `clearing` calls with the timer paused.
void TimeCalls(benchmark::State& state, SpectatorInProcess& plugin,
               const std::function<void()>& reinstall, CoreFunctionCallback callback,
               const CoreRequest& request, int64_t clearing) {
  CoreResponse response = Zeroed();
  int64_t calls = 0;
  for (auto _ : state) {
    EndpointCall(callback, &response, &request);
    benchmark::ClobberMemory();
    if (++calls % clearing == 0) {
      state.PauseTiming();
      plugin.ForgetRecords();
      reinstall();
      state.ResumeTiming();
    }
  }
}

const CoreFunctionDescriptor* Started(benchmark::State& state, SpectatorInProcess& plugin,
                                      const char* path) {
  MaybeType<void> started = plugin.Start();
  if (started.is_failure()) {
    state.SkipWithError(started.ToText().c_str());
    return nullptr;
  }
  const CoreFunctionDescriptor* found = plugin.Find(Kestrel::kMethodPost, path);
  if (found == nullptr || ReadPacked(found->callback) == nullptr) {
    state.SkipWithError("no call-back for the endpoint");
    return nullptr;
  }
  return found;
}

void Availability(benchmark::State& state, uint32_t count, Body body, bool floor_side) {
  CountingScope counting;
  const AvailabilityInput input = AvailabilityInput::Make(count);
  SpectatorInProcess plugin;
  const CoreFunctionDescriptor* post = Started(state, plugin, Client::Spectator::kAvailabilityPath);
  if (post == nullptr) return;
  AvailabilityServer server(plugin, input.server_answer);
  AvailabilityFloor floor(plugin.host());
  const std::function<void()> reinstall = [&server] { server.Reinstall(); };
  void* context = ReadPacked(post->function.function_context);
  Sides sides;
  sides.ours = ReadPacked(post->callback);
  sides.floor = &HandWrittenAvailability;
  sides.floor_request = EndpointRequest(Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath,
                                        input.json, kJsonType, &floor);
  switch (body) {
    case Body::kJson:
      sides.ours_request =
          EndpointRequest(Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath, input.json,
                          kJsonType, context);
      break;
    case Body::kMessagePack:
      sides.ours_request =
          EndpointRequest(Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath, input.msgpack,
                          kMessagePackType, context);
      break;
    case Body::kYaml:
      sides.ours_request =
          EndpointRequest(Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath, input.yaml,
                          kYamlType, context);
      break;
  }
  if (!SameWork(state, plugin, reinstall, sides)) return;
  const int64_t clearing = count >= 1000 ? 8 : 256;
  TimeCalls(state, plugin, reinstall, floor_side ? sides.floor : sides.ours,
            floor_side ? sides.floor_request : sides.ours_request, clearing);
  state.counters["names"] = count;
}

void Launch(benchmark::State& state, bool floor_side) {
  CountingScope counting;
  SpectatorInProcess plugin;
  const CoreFunctionDescriptor* post = Started(state, plugin, Client::Spectator::kLaunchPath);
  if (post == nullptr) return;
  LaunchFloor floor;
  floor.table = plugin.host().functions();
  const std::string body = kLaunchedGameJson;
  const std::function<void()> reinstall = [] {};
  Sides sides;
  sides.ours = ReadPacked(post->callback);
  sides.ours_request = EndpointRequest(Kestrel::kMethodPost, Client::Spectator::kLaunchPath, body,
                                       kJsonType, ReadPacked(post->function.function_context));
  sides.floor = &HandWrittenLaunch;
  sides.floor_request = EndpointRequest(Kestrel::kMethodPost, Client::Spectator::kLaunchPath, body,
                                        kJsonType, &floor);
  if (!SameWork(state, plugin, reinstall, sides)) return;
  TimeCalls(state, plugin, reinstall, floor_side ? sides.floor : sides.ours,
            floor_side ? sides.floor_request : sides.ours_request, 1024);
}

// Heap allocations of one 10,000-name JSON availability call of each side
// (host work included on both; the response's release not included).
void AddAllocationFigures() {
  CountingScope counting;
  const AvailabilityInput input = AvailabilityInput::Make(10000);
  SpectatorInProcess plugin;
  if (plugin.Start().is_failure()) return;
  const CoreFunctionDescriptor* post =
      plugin.Find(Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath);
  if (post == nullptr) return;
  AvailabilityServer server(plugin, input.server_answer);
  AvailabilityFloor floor(plugin.host());
  const CoreRequest ours =
      EndpointRequest(Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath, input.json,
                      kJsonType, ReadPacked(post->function.function_context));
  const CoreRequest hand = EndpointRequest(
      Kestrel::kMethodPost, Client::Spectator::kAvailabilityPath, input.json, kJsonType, &floor);
  const auto count = [&](CoreFunctionCallback callback, const CoreRequest& request) {
    CoreResponse response = Zeroed();
    callback(&response, &request);  // warms the host's records and the plugin's caches
    ReadPacked(response.release)(&response);
    plugin.ForgetRecords();
    server.Reinstall();
    const uint64_t before = ReadAllocatorCounters().allocations;
    callback(&response, &request);
    const uint64_t after = ReadAllocatorCounters().allocations;
    ReadPacked(response.release)(&response);
    plugin.ForgetRecords();
    server.Reinstall();
    return after - before;
  };
  benchmark::AddCustomContext("alloc/availability_10000/ours",
                              std::to_string(count(ReadPacked(post->callback), ours)));
  benchmark::AddCustomContext("alloc/availability_10000/hand-written",
                              std::to_string(count(&HandWrittenAvailability, hand)));
}

}  // namespace

void RegisterEndpointBenchmarks() {
  AddAllocationFigures();
  const auto add = [](const std::string& name, std::function<void(benchmark::State&)> run) {
    benchmark::RegisterBenchmark(name.c_str(), [run](benchmark::State& state) { run(state); });
  };
  for (const uint32_t count : {10000u, 200u}) {
    const std::string figure = "availability_" + std::to_string(count);
    add(figure + "/json/ours",
        [count](benchmark::State& s) { Availability(s, count, Body::kJson, false); });
    add(figure + "/json/hand-written",
        [count](benchmark::State& s) { Availability(s, count, Body::kJson, true); });
    add(figure + "/msgpack/ours",
        [count](benchmark::State& s) { Availability(s, count, Body::kMessagePack, false); });
    add(figure + "/yaml/ours",
        [count](benchmark::State& s) { Availability(s, count, Body::kYaml, false); });
  }
  add("launch/request/ours", [](benchmark::State& s) { Launch(s, false); });
  add("launch/request/hand-written", [](benchmark::State& s) { Launch(s, true); });
}

}  // namespace Kestrel::Bench
