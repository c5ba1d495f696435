#include "log/tracing.h"

#include <cstring>

#include "platform/process_info.h"
#include "platform/system_library.h"

namespace Kestrel {
namespace {

constexpr const char* kTraceLibrary = "Advapi32.dll";

// The four identities never change from build to build: listeners select the
// providers by them.
constinit TraceProvider g_providers[kTraceProviderCount] = {
    TraceProvider({0x7dc80390, 0x647e, 0x4dc4, {0xb4, 0xb0, 0x2a, 0xb3, 0x33, 0x78, 0x98, 0x30}},
                  TraceEventInfo{1, 0}),
    TraceProvider({0xfa66c493, 0x01bd, 0x4a16, {0x8b, 0xc8, 0x83, 0x48, 0x13, 0x5e, 0xe0, 0xf2}},
                  TraceEventInfo{1, 0}),
    TraceProvider({0x933183f8, 0xda73, 0x4028, {0x97, 0xf0, 0xed, 0xc0, 0x6f, 0x14, 0x12, 0x26}},
                  TraceEventInfo{0, 0}),
    TraceProvider({0x31c0115b, 0x6766, 0x4861, {0x90, 0xd5, 0x50, 0x1e, 0x6a, 0x11, 0x69, 0xdd}},
                  TraceEventInfo{1, 0}, TraceEventInfo{2, 0}),
};

// Written only by the load and unload steps.
TraceApi g_api;
std::atomic<int64_t> g_frequency{0};

bool EventWanted(const TraceEventInfo& event, uint8_t level, uint64_t match_any,
                 uint64_t match_all) {
  if (level != 0 && level < event.level) return false;
  if (event.keyword != 0 &&
      ((event.keyword & match_any) == 0 || (event.keyword & match_all) != match_all)) {
    return false;
  }
  return true;
}

}  // namespace

bool TraceProvider::IsEventEnabled(int index) const {
  if (index < 0 || index >= event_count_) return false;
  return (event_bits_.load(std::memory_order_relaxed) & (1u << index)) != 0;
}

void TraceProvider::ApplyControl(uint32_t control_code, uint8_t level, uint64_t match_any,
                                 uint64_t match_all) {
  if (control_code == kTraceControlDisable) {
    enabled_.store(0, std::memory_order_relaxed);
    level_.store(0, std::memory_order_relaxed);
    match_any_.store(0, std::memory_order_relaxed);
    match_all_.store(0, std::memory_order_relaxed);
    event_bits_.store(0, std::memory_order_relaxed);
    return;
  }
  if (control_code != kTraceControlEnable) return;
  level_.store(level, std::memory_order_relaxed);
  match_any_.store(match_any, std::memory_order_relaxed);
  match_all_.store(match_all, std::memory_order_relaxed);
  enabled_.store(1, std::memory_order_relaxed);
  uint32_t bits = 0;
  for (int index = 0; index < event_count_; ++index) {
    if (EventWanted(events_[index], level, match_any, match_all)) bits |= 1u << index;
  }
  event_bits_.store(bits, std::memory_order_relaxed);
}

void VYN_SYSTEM_API TraceProvider::EnableCallback(const TraceGuid*, uint32_t control_code,
                                                  uint8_t level, uint64_t match_any,
                                                  uint64_t match_all, const void*, void* context) {
  if (context == nullptr) return;
  static_cast<TraceProvider*>(context)->ApplyControl(control_code, level, match_any, match_all);
}

TraceProvider* TraceProviderAt(int index) {
  if (index < 0 || index >= kTraceProviderCount) return nullptr;
  return &g_providers[index];
}

void RegisterTraceProviders() {
  g_frequency.store(Platform::HighResolutionFrequency(), std::memory_order_relaxed);
  if (!Platform::IsSystemLibraryAvailable(kTraceLibrary)) return;
  g_api.EventRegister = reinterpret_cast<EventRegisterFunction>(
      Platform::FindSystemFunction(kTraceLibrary, "EventRegister"));
  g_api.EventWrite = reinterpret_cast<EventWriteFunction>(
      Platform::FindSystemFunction(kTraceLibrary, "EventWrite"));
  g_api.EventUnregister = reinterpret_cast<EventUnregisterFunction>(
      Platform::FindSystemFunction(kTraceLibrary, "EventUnregister"));
  for (TraceProvider& provider : g_providers) {
    if (provider.handle() != 0 || g_api.EventRegister == nullptr) continue;
    uint64_t handle = 0;
    // The call-back may run inside this call, before the handle is stored.
    if (g_api.EventRegister(&provider.id(), &TraceProvider::EnableCallback, &provider, &handle) ==
        0) {
      provider.set_handle(handle);
    }
  }
  WriteThreadNameEvent(Platform::CurrentThreadId(), kMainThreadName);
}

void UnregisterTraceProviders() {
  for (int index = kTraceProviderCount - 1; index >= 0; --index) {
    TraceProvider& provider = g_providers[index];
    const uint64_t handle = provider.handle();
    if (handle == 0) continue;
    if (g_api.EventUnregister != nullptr) g_api.EventUnregister(handle);
    provider.set_handle(0);
  }
  g_api = TraceApi{};
}

bool WriteTraceEvent(const TraceProvider& provider, int event_index,
                     const TraceEventDescriptor& descriptor, const TraceDataItem* items,
                     uint32_t item_count) {
  if (!provider.IsEventEnabled(event_index) || g_api.EventWrite == nullptr) return false;
  g_api.EventWrite(provider.handle(), &descriptor, item_count, items);
  return true;
}

bool WriteThreadNameEvent(uint32_t thread_id, const char* name) {
  const char* text = name == nullptr ? "" : name;
  const TraceDataItem items[2] = {
      {reinterpret_cast<uintptr_t>(&thread_id), sizeof(thread_id), 0},
      {reinterpret_cast<uintptr_t>(text), static_cast<uint32_t>(std::strlen(text) + 1), 0},
  };
  return WriteTraceEvent(g_providers[kThreadNameProviderIndex], 0, kThreadNameEventDescriptor,
                         items, 2);
}

int64_t TraceCounterFrequency() {
  return g_frequency.load(std::memory_order_relaxed);
}

namespace {

// Registers the providers when the library is loaded and unregisters them when
// it is unloaded. Defined after the providers, which are constant-initialised
// anyway, so they exist before this runs.
struct TraceLifetime {
  TraceLifetime() { RegisterTraceProviders(); }
  ~TraceLifetime() { UnregisterTraceProviders(); }
};
TraceLifetime g_trace_lifetime;

}  // namespace

}  // namespace Kestrel
