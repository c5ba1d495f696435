// The library works when a 32-bit Windows host calls it from a stack aligned
// to 4 bytes only. Every function the host calls into the plugin goes through
// a trampoline that misaligns the stack on purpose: the export, the entry
// table, the function descriptors' call-backs, the event call-backs the plugin
// subscribes, and the release and stream functions of its responses. The
// in-process host then runs a whole session through them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devhost/host/core_host.h"
#include "devhost/peers/roster.h"
#include "devhost/peers/simulated_peers.h"
#include "host_abi/host_records.h"
#include "platform/shared_library.h"
#include "remoting/call_result.h"
#include "remoting/dispatch.h"
#include "tests/windows/misaligned_call.h"

namespace Kestrel::DevHost {
namespace {

using Client::ApiDescription;
using Client::CoreEvent;
using Client::CoreFunctionCallback;
using Client::CorePluginRecord;
using Client::CoreRequest;
using Client::CoreResponse;
using Client::ModuleEntryTable;
using Client::ReadPacked;

// Compiled with the library's flags: a 16-byte-aligned local stays aligned
// whatever the alignment of the stack it is entered from (without
// -mincoming-stack-boundary=2 the remainder is the stack's offset).
[[gnu::noinline]] uint32_t AlignedLocalRemainder() {
  alignas(16) volatile char local[16] = {};
  uintptr_t address = reinterpret_cast<uintptr_t>(&local[0]);
  asm("" : "+r"(address));  // the optimiser would fold the remainder it believes to 0
  return static_cast<uint32_t>(address % 16);
}

// The kinds of function the host calls into the plugin.
enum Crossing {
  kExport,
  kInitialize,
  kShutdown,
  kMemoryStats,
  kFunction,
  kEvent,
  kRelease,
  kStreamRead,
  kStreamRelease,
  kCrossingKinds
};

// The plugin's call-back and the context it handed the host, reached through
// the context the host is given instead.
template <typename Callback>
struct Target {
  Callback callback;
  void* context;
};

// What the host is given in place of the plugin's own functions: for each,
// the plugin's original, and how often it was called misaligned.
struct Interposer {
  uint32_t offset = 4;
  int crossings[kCrossingKinds] = {};
  LoadPluginFunction load = nullptr;
  const ModuleEntryTable* table = nullptr;
  decltype(CoreFunctionTable::Subscribe) host_subscribe = nullptr;
  std::vector<CoreFunctionDescriptor> functions;
  std::vector<Target<CoreFunctionCallback>> function_targets;
  ApiDescription api{};
  std::deque<Target<CoreEventCallback>> event_targets;  // stable addresses
  Client::CoreResponseReleaseFunction release = nullptr;
  Client::CoreStreamReadFunction stream_read = nullptr;
  Client::CoreStreamReleaseFunction stream_release = nullptr;
  uint64_t release_frees = 0;  // blocks the last release freed in the plugin
  bool released_to_zero = false;
};
// The session under test (each test runs its sessions one after another).
Interposer g;

template <typename Function, typename... Args>
uint32_t Cross(Crossing crossing, Function function, Args... args) {
  ++g.crossings[crossing];
  return Testing::CallMisaligned(function, g.offset, args...);
}

uint64_t PluginFrees() {
  MemoryStats stats{};
  if (g.table != nullptr) g.table->GetMemoryStats(0, &stats);
  return stats.frees;
}

void VYN_CDECL MisalignedRelease(CoreResponse* response) {
  const uint64_t frees = PluginFrees();
  Cross(kRelease, g.release, response);
  g.release_frees = PluginFrees() - frees;
  const auto* bytes = reinterpret_cast<const unsigned char*>(response);
  g.released_to_zero = std::all_of(bytes, bytes + sizeof(CoreResponse), [](auto b) { return !b; });
}

uint8_t VYN_CDECL MisalignedStreamRead(void* stream, char* buffer, uint32_t* length,
                                       uint8_t* more) {
  return static_cast<uint8_t>(Cross(kStreamRead, g.stream_read, stream, buffer, length, more));
}

void VYN_CDECL MisalignedStreamRelease(void* stream) {
  Cross(kStreamRelease, g.stream_release, stream);
}

// Gives the host the misaligned callers of the functions `response` carries.
void InterposeResponse(CoreResponse* response) {
  if (response->release != nullptr) {
    g.release = response->release;
    response->release = &MisalignedRelease;
  }
  if (response->stream_read != nullptr) {
    g.stream_read = response->stream_read;
    response->stream_read = &MisalignedStreamRead;
  }
  if (response->stream_release != nullptr) {
    g.stream_release = response->stream_release;
    response->stream_release = &MisalignedStreamRelease;
  }
}

void VYN_CDECL MisalignedFunction(CoreResponse* response, const CoreRequest* request) {
  const auto* target =
      static_cast<const Target<CoreFunctionCallback>*>(ReadPacked(request->function_context));
  CoreRequest plugin_request = *request;
  plugin_request.function_context = target->context;
  Cross(kFunction, target->callback, response, &plugin_request);
  InterposeResponse(response);
}

void VYN_CDECL MisalignedEvent(const CoreEvent* event) {
  const auto* target = static_cast<const Target<CoreEventCallback>*>(ReadPacked(event->context));
  CoreEvent plugin_event = *event;
  plugin_event.context = target->context;
  Cross(kEvent, target->callback, &plugin_event);
}

void VYN_CDECL InterposedSubscribe(CoreFunctionTable* table, const char* name, uint32_t plugin_id,
                                   CoreEventCallback callback, void* context, uint32_t flag) {
  g.event_targets.push_back({callback, context});
  g.host_subscribe(table, name, plugin_id, &MisalignedEvent, &g.event_targets.back(), flag);
}

uint8_t VYN_CDECL MisalignedInitialize(void* module, CoreInterface* core) {
  g.host_subscribe = core->functions->Subscribe;
  core->functions->Subscribe = &InterposedSubscribe;
  return static_cast<uint8_t>(Cross(kInitialize, g.table->Initialize, module, core));
}

void VYN_CDECL MisalignedShutdown(void* module) {
  Cross(kShutdown, g.table->Shutdown, module);
}

void VYN_CDECL MisalignedGetMemoryStats(uint32_t ignored, MemoryStats* stats) {
  Cross(kMemoryStats, g.table->GetMemoryStats, ignored, stats);
}

const ModuleEntryTable kMisalignedTable = {&MisalignedInitialize, &MisalignedShutdown,
                                           &MisalignedGetMemoryStats};

// Hands the host the misaligned entry table and a copy of the API description
// whose descriptors call back through `MisalignedFunction`.
uint32_t VYN_CDECL MisalignedLoad(CorePluginRecord* record) {
  const uint32_t result = Cross(kExport, g.load, record);
  if (record->entry_table == nullptr || record->api_description == nullptr) return result;
  g.table = record->entry_table;
  record->entry_table = &kMisalignedTable;
  const ApiDescription& api = *record->api_description;
  g.functions.assign(api.functions, api.functions + api.function_count);
  g.function_targets.resize(g.functions.size());
  for (size_t i = 0; i < g.functions.size(); ++i) {
    CoreFunctionDescriptor& function = g.functions[i];
    g.function_targets[i] = {function.callback, function.function.function_context};
    function.callback = &MisalignedFunction;
    function.function.function_context = &g.function_targets[i];
    function.function.next = i + 1 < g.functions.size() ? &g.functions[i + 1].function : nullptr;
  }
  g.api = api;
  g.api.functions = g.functions.data();
  record->api_description = &g.api;
  return result;
}

TEST(StackAlignmentTest, ACompiledFunctionRealignsItsLocalsOnAMisalignedStack) {
  for (uint32_t offset : {0u, 4u, 8u, 12u}) {
    EXPECT_EQ(Testing::CallMisaligned(&AlignedLocalRemainder, offset), 0u) << offset;
  }
}

constexpr const char* kGamePath = "/vyn-spectator/v1/spectate";
constexpr const char* kAvailabilityPath = "/vyn-spectator/v1/buddy/spectate";
constexpr const char* kLaunchPath = "/vyn-spectator/v1/spectate/launch";
constexpr const char* kGame =
    R"({"allowObserveMode":"false","dropInSpectateGameId":"g3","gameQueueType":"ARAM"})";

// One endpoint call and the answer it gets: the value as JSON, or the error.
struct EndpointCall {
  uint32_t method;
  const char* path;
  const char* body;
  bool error;
  const char* answer;
  bool owns_parts;  // the response owns texts or arrays its release frees
};

const EndpointCall kSession[] = {
    {kMethodGet, kGamePath, "", false,
     R"({"allowObserveMode":"","dropInSpectateGameId":"","gameQueueType":""})", true},
    {kMethodPost, kAvailabilityPath, R"(["Ann","Bob","Cleo"])", false,
     R"({"availableForWatching":["Ann","Cleo"]})", true},
    {kMethodPost, kAvailabilityPath, R"("Ann")", true,
     "Couldn't assign value to 'summonerOrTeamNames' of type vector because the input not a "
     "collection.",
     true},
    {kMethodPost, kLaunchPath, kGame, false, "null", false},
    {kMethodGet, kGamePath, "", false, kGame, true},
};

TEST(StackAlignmentTest, EveryFunctionTheHostCallsWorksFromEveryFourByteAlignment) {
  std::string error;
  std::unique_ptr<Platform::SharedLibrary> library =
      Platform::SharedLibrary::Open(VYN_SPECTATOR_LIBRARY, &error);
  ASSERT_NE(library, nullptr) << error;
  for (uint32_t offset : {4u, 8u, 12u}) {
    g = Interposer{};
    g.offset = offset;
    g.load = reinterpret_cast<LoadPluginFunction>(library->FindSymbol(kPluginEntrySymbol));
    ASSERT_NE(g.load, nullptr);
    CoreHost host;
    SimulatedPeers peers(DefaultRoster());
    peers.Install(&host);
    MaybeType<void> loaded = host.Load(&MisalignedLoad);
    ASSERT_TRUE(loaded.has_value()) << loaded.ToText();
    MaybeType<void> started = host.Initialize();
    ASSERT_TRUE(started.has_value()) << started.ToText();
    for (const EndpointCall& call : kSession) {
      SCOPED_TRACE(std::string(call.path) + " " + call.body + " at offset " +
                   std::to_string(offset));
      MaybeType<CallOutcome> outcome =
          host.Call(CallRequest::Json(call.method, call.path, call.body));
      ASSERT_TRUE(outcome.has_value()) << outcome.ToText();
      EXPECT_EQ(outcome.value().error, call.error);
      EXPECT_EQ(call.error ? outcome.value().error_text : outcome.value().ValueJson(), call.answer);
      EXPECT_EQ(g.release_frees > 0, call.owns_parts);
      EXPECT_TRUE(g.released_to_zero);
    }
    EXPECT_EQ(peers.launched_games(), std::vector<std::string>{kGame});
    EXPECT_GT(host.GetMemoryStats().allocations, 0u);
    host.Shutdown();

    const int calls = static_cast<int>(std::size(kSession));
    const int events = static_cast<int>(host.delivered_events().size());
    EXPECT_GT(events, 0);  // the server's availability answer arrives as an event
    // The host reads the counters before and after every call (for its
    // inspector), and once more above.
    const int expected[kCrossingKinds] = {1, 1, 1, 1 + 2 * calls, calls, events, calls, 0, 0};
    for (int kind = 0; kind < kCrossingKinds; ++kind) {
      EXPECT_EQ(g.crossings[kind], expected[kind]) << "kind " << kind << ", offset " << offset;
    }
  }
}

// A body produced piece by piece; counts its destruction.
class TextStream : public ResponseStream {
 public:
  TextStream(std::string text, int* destroyed) : text_(std::move(text)), destroyed_(destroyed) {}
  ~TextStream() override { ++*destroyed_; }
  uint8_t Read(char* buffer, uint32_t* length, uint8_t* more) override {
    *length = std::min<uint32_t>(*length, static_cast<uint32_t>(text_.size() - read_));
    std::memcpy(buffer, text_.data() + read_, *length);
    read_ += *length;
    *more = read_ < text_.size() ? 1 : 0;
    return 1;
  }
  uint32_t Size() override { return static_cast<uint32_t>(text_.size()); }

 private:
  std::string text_;
  size_t read_ = 0;
  int* destroyed_;
};

// The library's endpoints answer values, never streams: the transport's
// stream functions (the same code, built with the same flags) are driven here.
TEST(StackAlignmentTest, StreamFunctionsWorkFromEveryFourByteAlignment) {
  for (uint32_t offset : {4u, 8u, 12u}) {
    g = Interposer{};
    g.offset = offset;
    int destroyed = 0;
    CallResult result;
    result.stream = std::make_unique<TextStream>("a body read in pieces", &destroyed);
    CoreResponse response;
    std::memset(static_cast<void*>(&response), 0, sizeof(response));
    WriteResponse(&response, result, nullptr);
    response.release = &ResetResponse;
    InterposeResponse(&response);

    std::string text;
    uint8_t more = 1;
    while (more != 0) {
      char buffer[4];
      uint32_t length = sizeof(buffer);
      ASSERT_NE(ReadPacked(response.stream_read)(response.stream, buffer, &length, &more), 0);
      text.append(buffer, length);
    }
    EXPECT_EQ(text, "a body read in pieces");
    ReadPacked(response.stream_release)(response.stream);
    EXPECT_EQ(destroyed, 1);
    ReadPacked(response.release)(&response);
    EXPECT_TRUE(g.released_to_zero);
    EXPECT_EQ(g.crossings[kStreamRead], 6) << offset;  // 21 bytes, 4 at a time
    EXPECT_EQ(g.crossings[kStreamRelease], 1) << offset;
    EXPECT_EQ(g.crossings[kRelease], 1) << offset;
  }
}

}  // namespace
}  // namespace Kestrel::DevHost
