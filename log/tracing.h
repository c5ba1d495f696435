// Event tracing: the library announces itself to the operating system's event
// tracing as four providers, so that a trace listener can tell which thread is
// the host's main thread.
//
// At library load the providers are registered (in order) through the
// `EventRegister` function of the system library "Advapi32.dll"; at unload they
// are unregistered in reverse order. The operating system tells each provider
// through `TraceProvider::EnableCallback` which of its events a listener wants.
// When the library or a function is missing (always on Linux), the matching
// step does nothing. The providers are static objects owned by this component;
// the functions found at load are borrowed from the system library.
//
//   RegisterTraceProviders();     // load: writes the thread-name event if wanted
//   UnregisterTraceProviders();   // unload
#ifndef VYN_LOG_TRACING_H_
#define VYN_LOG_TRACING_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/system_library.h"

namespace Kestrel {

// A provider identity, laid out as the operating system expects.
struct TraceGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];

  friend bool operator==(const TraceGuid&, const TraceGuid&) = default;
};
static_assert(sizeof(TraceGuid) == 16);
static_assert(offsetof(TraceGuid, data4) == 8);

// What identifies one written event.
struct TraceEventDescriptor {
  uint16_t id;
  uint8_t version;
  uint8_t channel;
  uint8_t level;
  uint8_t opcode;
  uint16_t task;
  uint64_t keyword;
};
static_assert(sizeof(TraceEventDescriptor) == 16);
static_assert(offsetof(TraceEventDescriptor, task) == 6);
static_assert(offsetof(TraceEventDescriptor, keyword) == 8);

// One payload item of a written event: the address (as 64 bits whatever the
// pointer size) and the byte size of the data. The data is borrowed.
struct TraceDataItem {
  uint64_t address;
  uint32_t size;
  uint32_t reserved;
};
static_assert(sizeof(TraceDataItem) == 16);
static_assert(offsetof(TraceDataItem, size) == 8);

// Control codes of the enable call-back.
inline constexpr uint32_t kTraceControlDisable = 0;
inline constexpr uint32_t kTraceControlEnable = 1;

// The operating system's call-back into a provider. `source` and `filter` are
// not used by this library and may be null; `context` is the provider given at
// registration (a null one is ignored).
using TraceEnableCallback = void(VYN_SYSTEM_API*)(const TraceGuid* source, uint32_t control_code,
                                                  uint8_t level, uint64_t match_any,
                                                  uint64_t match_all, const void* filter,
                                                  void* context);
// The three system functions (in the system libraries' calling convention).
// Each returns 0 on success. The library passes no null pointer but `items`
// with an `item_count` of 0.
using EventRegisterFunction = uint32_t(VYN_SYSTEM_API*)(const TraceGuid* provider,
                                                        TraceEnableCallback callback, void* context,
                                                        uint64_t* handle);
using EventWriteFunction = uint32_t(VYN_SYSTEM_API*)(uint64_t handle,
                                                     const TraceEventDescriptor* descriptor,
                                                     uint32_t item_count,
                                                     const TraceDataItem* items);
using EventUnregisterFunction = uint32_t(VYN_SYSTEM_API*)(uint64_t handle);

// The system functions found at load; each may be nullptr.
struct TraceApi {
  EventRegisterFunction EventRegister = nullptr;
  EventWriteFunction EventWrite = nullptr;
  EventUnregisterFunction EventUnregister = nullptr;
};

// What a provider declares about one of its events.
struct TraceEventInfo {
  uint64_t keyword;
  uint8_t level;
};

// One provider: its identity, registration handle, what the listener asked for
// and one enable bit per declared event. The enable call-back writes the
// listener state without a lock; a concurrent reader sees old or new values.
class TraceProvider {
 public:
  static constexpr int kMaxEvents = 2;

  constexpr TraceProvider(const TraceGuid& id, TraceEventInfo event)
      : id_(id), event_count_(1), events_{event, {0, 0}} {}
  constexpr TraceProvider(const TraceGuid& id, TraceEventInfo first, TraceEventInfo second)
      : id_(id), event_count_(2), events_{first, second} {}
  TraceProvider(const TraceProvider&) = delete;
  TraceProvider& operator=(const TraceProvider&) = delete;

  const TraceGuid& id() const { return id_; }
  uint64_t handle() const { return handle_.load(std::memory_order_acquire); }
  void set_handle(uint64_t handle) { handle_.store(handle, std::memory_order_release); }

  bool enabled() const { return enabled_.load(std::memory_order_relaxed) != 0; }
  uint8_t listener_level() const { return level_.load(std::memory_order_relaxed); }
  uint64_t match_any() const { return match_any_.load(std::memory_order_relaxed); }
  uint64_t match_all() const { return match_all_.load(std::memory_order_relaxed); }
  uint16_t event_count() const { return event_count_; }
  // Returns the declaration of event `index`; requires `index` < `event_count()`.
  const TraceEventInfo& event(int index) const { return events_[index]; }
  // Returns false for an `index` outside the declared events.
  bool IsEventEnabled(int index) const;

  // Applies a listener's request: disable clears everything, enable stores the
  // listener state and recomputes every event's bit, other codes change nothing.
  void ApplyControl(uint32_t control_code, uint8_t level, uint64_t match_any, uint64_t match_all);

  // The call-back registered for every provider; `context` is the provider.
  // A nullptr context is ignored.
  static void VYN_SYSTEM_API EnableCallback(const TraceGuid* source, uint32_t control_code,
                                            uint8_t level, uint64_t match_any, uint64_t match_all,
                                            const void* filter, void* context);

 private:
  TraceGuid id_;
  std::atomic<uint64_t> handle_{0};
  std::atomic<uint32_t> enabled_{0};
  std::atomic<uint8_t> level_{0};
  std::atomic<uint64_t> match_any_{0};
  std::atomic<uint64_t> match_all_{0};
  uint16_t event_count_;
  TraceEventInfo events_[kMaxEvents];
  std::atomic<uint32_t> event_bits_{0};
};

inline constexpr int kTraceProviderCount = 4;

// The provider that carries the thread-name event (its only event).
inline constexpr int kThreadNameProviderIndex = 1;

// The thread-name event: payload is the thread id (unsigned 32-bit) followed by
// the thread's name, NUL included.
inline constexpr TraceEventDescriptor kThreadNameEventDescriptor = {103, 0, 0, 0, 14, 2, 1};

// The name given to the thread that loads the library.
inline constexpr const char* kMainThreadName = "Main thread";

// Returns provider `index` (0 to 3, in registration order), or nullptr outside it.
TraceProvider* TraceProviderAt(int index);

// The load step: reads the counter frequency, looks up the tracing functions in
// "Advapi32.dll", registers every provider whose handle is still 0 and, when a
// listener enabled it, writes the thread-name event for the calling thread as
// "Main thread". Runs once at library load; may run again (tests do).
void RegisterTraceProviders();

// The unload step: unregisters every provider with a handle, last first, sets
// the handles to 0 and forgets the functions found at load.
void UnregisterTraceProviders();

// Writes event `event_index` of `provider` with `descriptor` and `items`, when
// that event is enabled and `EventWrite` was found. `items` may be null only
// when `item_count` is 0. Returns true when written.
bool WriteTraceEvent(const TraceProvider& provider, int event_index,
                     const TraceEventDescriptor& descriptor, const TraceDataItem* items,
                     uint32_t item_count);

// Writes the thread-name event for `thread_id` named `name` (nullptr counts as
// ""). Returns true when written.
bool WriteThreadNameEvent(uint32_t thread_id, const char* name);

// Returns the high-resolution counter frequency read at load (0 before).
int64_t TraceCounterFrequency();

}  // namespace Kestrel

#endif  // VYN_LOG_TRACING_H_
