#include "log/tracing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/process_info.h"
#include "platform/system_library.h"
#include "tests/support/system_function_resolver.h"

namespace Kestrel {
namespace {

// A stand-in for the operating system's tracing functions. It records every
// call; a listener may be set up to enable providers during registration, as
// the system does when a trace session is already waiting for them.
struct FakeTracing {
  bool library_present = true;
  bool offer_register = true;
  bool offer_write = true;
  bool offer_unregister = true;
  uint32_t register_status = 0;

  struct Listener {
    TraceGuid provider;
    uint8_t level;
    uint64_t match_any;
    uint64_t match_all;
  };
  std::vector<Listener> listeners;

  struct Registration {
    TraceGuid provider;
    TraceEnableCallback callback;
    void* context;
    uint64_t handle;
  };
  std::vector<Registration> registrations;

  struct Written {
    uint64_t handle;
    TraceEventDescriptor descriptor;
    std::vector<std::vector<uint8_t>> items;
  };
  std::vector<Written> written;
  std::vector<uint64_t> unregistered;
  std::vector<std::string> lookups;
};

FakeTracing* g_fake = nullptr;

uint32_t VYN_SYSTEM_API FakeRegister(const TraceGuid* provider, TraceEnableCallback callback,
                                     void* context, uint64_t* handle) {
  if (g_fake->register_status != 0) return g_fake->register_status;
  const uint64_t new_handle = 0x1000 + g_fake->registrations.size();
  g_fake->registrations.push_back({*provider, callback, context, new_handle});
  for (const FakeTracing::Listener& listener : g_fake->listeners) {
    if (listener.provider == *provider) {
      callback(provider, kTraceControlEnable, listener.level, listener.match_any,
               listener.match_all, nullptr, context);
    }
  }
  *handle = new_handle;
  return 0;
}

uint32_t VYN_SYSTEM_API FakeWrite(uint64_t handle, const TraceEventDescriptor* descriptor,
                                  uint32_t count, const TraceDataItem* items) {
  FakeTracing::Written written{handle, *descriptor, {}};
  for (uint32_t i = 0; i < count; ++i) {
    const auto* data = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(items[i].address));
    written.items.emplace_back(data, data + items[i].size);
  }
  g_fake->written.push_back(written);
  return 0;
}

uint32_t VYN_SYSTEM_API FakeUnregister(uint64_t handle) {
  g_fake->unregistered.push_back(handle);
  return 0;
}

void* FakeResolver(const char* library, const char* symbol) {
  if (std::strcmp(library, "Advapi32.dll") != 0 || !g_fake->library_present) return nullptr;
  if (symbol == nullptr) return g_fake;  // the library itself
  g_fake->lookups.push_back(symbol);
  if (std::strcmp(symbol, "EventRegister") == 0 && g_fake->offer_register) {
    return reinterpret_cast<void*>(&FakeRegister);
  }
  if (std::strcmp(symbol, "EventWrite") == 0 && g_fake->offer_write) {
    return reinterpret_cast<void*>(&FakeWrite);
  }
  if (std::strcmp(symbol, "EventUnregister") == 0 && g_fake->offer_unregister) {
    return reinterpret_cast<void*>(&FakeUnregister);
  }
  return nullptr;
}

// The identities listeners know the providers by; they must never change.
const TraceGuid kExpectedGuids[kTraceProviderCount] = {
    {0x7dc80390, 0x647e, 0x4dc4, {0xb4, 0xb0, 0x2a, 0xb3, 0x33, 0x78, 0x98, 0x30}},
    {0xfa66c493, 0x01bd, 0x4a16, {0x8b, 0xc8, 0x83, 0x48, 0x13, 0x5e, 0xe0, 0xf2}},
    {0x933183f8, 0xda73, 0x4028, {0x97, 0xf0, 0xed, 0xc0, 0x6f, 0x14, 0x12, 0x26}},
    {0x31c0115b, 0x6766, 0x4861, {0x90, 0xd5, 0x50, 0x1e, 0x6a, 0x11, 0x69, 0xdd}},
};

class TracingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UnregisterTraceProviders();  // what the load step registered, where the system traces
    g_fake = &fake_;
    previous_ = Platform::SetSystemFunctionResolverForTesting(&FakeResolver);
  }
  void TearDown() override {
    UnregisterTraceProviders();
    for (int i = 0; i < kTraceProviderCount; ++i) {
      TraceProviderAt(i)->ApplyControl(kTraceControlDisable, 0, 0, 0);
    }
    Platform::SetSystemFunctionResolverForTesting(previous_);
    g_fake = nullptr;
  }

  FakeTracing fake_;
  Platform::SystemFunctionResolver previous_ = nullptr;
};

#ifdef _WIN32
// The system's own functions, watched on their way: the resolver hands out
// wrappers that record each call and pass it to the real Advapi32 function.
struct SystemTracing {
  EventRegisterFunction event_register = nullptr;
  EventWriteFunction event_write = nullptr;
  EventUnregisterFunction event_unregister = nullptr;
  std::vector<TraceGuid> registered;
  std::vector<uint64_t> handles;
  std::vector<uint32_t> statuses;
  std::vector<uint64_t> unregistered;
};
SystemTracing* g_system = nullptr;

uint32_t VYN_SYSTEM_API WatchRegister(const TraceGuid* provider, TraceEnableCallback callback,
                                      void* context, uint64_t* handle) {
  const uint32_t status = g_system->event_register(provider, callback, context, handle);
  g_system->registered.push_back(*provider);
  g_system->handles.push_back(*handle);
  g_system->statuses.push_back(status);
  return status;
}

uint32_t VYN_SYSTEM_API WatchUnregister(uint64_t handle) {
  g_system->unregistered.push_back(handle);
  g_system->statuses.push_back(g_system->event_unregister(handle));
  return g_system->statuses.back();
}

void* WatchingResolver(const char* library, const char* symbol) {
  if (std::strcmp(library, "Advapi32.dll") != 0) return nullptr;
  if (symbol == nullptr) return g_system;  // the library itself
  if (std::strcmp(symbol, "EventWrite") == 0) return reinterpret_cast<void*>(g_system->event_write);
  if (std::strcmp(symbol, "EventRegister") == 0) return reinterpret_cast<void*>(&WatchRegister);
  if (std::strcmp(symbol, "EventUnregister") == 0) {
    return reinterpret_cast<void*>(&WatchUnregister);
  }
  return nullptr;
}

TEST(TracingWithSystemTest, ProvidersRegisterAndUnregisterThroughAdvapi32) {
  // The load step already ran before main, through the system's functions.
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_NE(TraceProviderAt(i)->handle(), 0u) << i;
  SystemTracing system;
  system.event_register = reinterpret_cast<EventRegisterFunction>(
      Platform::FindSystemFunction("Advapi32.dll", "EventRegister"));
  system.event_write = reinterpret_cast<EventWriteFunction>(
      Platform::FindSystemFunction("Advapi32.dll", "EventWrite"));
  system.event_unregister = reinterpret_cast<EventUnregisterFunction>(
      Platform::FindSystemFunction("Advapi32.dll", "EventUnregister"));
  ASSERT_NE(system.event_register, nullptr);
  ASSERT_NE(system.event_write, nullptr);
  ASSERT_NE(system.event_unregister, nullptr);
  UnregisterTraceProviders();
  g_system = &system;
  Platform::SystemFunctionResolver previous =
      Platform::SetSystemFunctionResolverForTesting(&WatchingResolver);

  RegisterTraceProviders();
  ASSERT_EQ(system.registered.size(), 4u);
  for (int i = 0; i < kTraceProviderCount; ++i) {
    EXPECT_EQ(system.registered[i], kExpectedGuids[i]) << i;
    EXPECT_NE(system.handles[i], 0u) << i;
    EXPECT_EQ(TraceProviderAt(i)->handle(), system.handles[i]) << i;
  }
  UnregisterTraceProviders();
  EXPECT_EQ(system.unregistered, (std::vector<uint64_t>{system.handles[3], system.handles[2],
                                                        system.handles[1], system.handles[0]}));
  EXPECT_EQ(system.statuses, std::vector<uint32_t>(8, 0u));  // every call succeeded
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(TraceProviderAt(i)->handle(), 0u) << i;

  Platform::SetSystemFunctionResolverForTesting(previous);
  g_system = nullptr;
}
#else
TEST(TracingWithoutSystemTest, NothingIsRegisteredWhereTheSystemOffersNoTracing) {
  // The load step already ran before main; this platform has no tracing library.
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(TraceProviderAt(i)->handle(), 0u);
  RegisterTraceProviders();
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(TraceProviderAt(i)->handle(), 0u);
  EXPECT_EQ(TraceCounterFrequency(), Platform::HighResolutionFrequency());
  EXPECT_EQ(TraceProviderAt(-1), nullptr);
  EXPECT_EQ(TraceProviderAt(kTraceProviderCount), nullptr);
}
#endif

TEST(TracingWithoutSystemTest, ProvidersDeclareTheirEventsAndDescriptorIsFixed) {
  const uint64_t keywords[kTraceProviderCount][2] = {{1, 0}, {1, 0}, {0, 0}, {1, 2}};
  const uint16_t counts[kTraceProviderCount] = {1, 1, 1, 2};
  for (int i = 0; i < kTraceProviderCount; ++i) {
    const TraceProvider& provider = *TraceProviderAt(i);
    EXPECT_EQ(provider.id(), kExpectedGuids[i]) << i;
    ASSERT_EQ(provider.event_count(), counts[i]) << i;
    for (int e = 0; e < provider.event_count(); ++e) {
      EXPECT_EQ(provider.event(e).keyword, keywords[i][e]) << i << "/" << e;
      EXPECT_EQ(provider.event(e).level, 0) << i << "/" << e;
    }
  }
  EXPECT_EQ(kThreadNameEventDescriptor.id, 103);
  EXPECT_EQ(kThreadNameEventDescriptor.version, 0);
  EXPECT_EQ(kThreadNameEventDescriptor.channel, 0);
  EXPECT_EQ(kThreadNameEventDescriptor.level, 0);
  EXPECT_EQ(kThreadNameEventDescriptor.opcode, 14);
  EXPECT_EQ(kThreadNameEventDescriptor.task, 2);
  EXPECT_EQ(kThreadNameEventDescriptor.keyword, 1u);
}

TEST_F(TracingTest, RegistersInOrderAndUnregistersInReverse) {
  RegisterTraceProviders();
  ASSERT_EQ(fake_.registrations.size(), 4u);
  for (int i = 0; i < kTraceProviderCount; ++i) {
    EXPECT_EQ(fake_.registrations[i].provider, kExpectedGuids[i]) << i;
    EXPECT_EQ(fake_.registrations[i].context, TraceProviderAt(i)) << i;
    EXPECT_EQ(fake_.registrations[i].callback, &TraceProvider::EnableCallback) << i;
    EXPECT_EQ(TraceProviderAt(i)->handle(), 0x1000u + i) << i;
  }
  EXPECT_EQ(fake_.lookups,
            (std::vector<std::string>{"EventRegister", "EventWrite", "EventUnregister"}));
  // Nobody listens, so the thread-name event is not written.
  EXPECT_TRUE(fake_.written.empty());

  // Registering again skips providers that already have a handle.
  RegisterTraceProviders();
  EXPECT_EQ(fake_.registrations.size(), 4u);

  UnregisterTraceProviders();
  EXPECT_EQ(fake_.unregistered, (std::vector<uint64_t>{0x1003, 0x1002, 0x1001, 0x1000}));
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(TraceProviderAt(i)->handle(), 0u);
  UnregisterTraceProviders();
  EXPECT_EQ(fake_.unregistered.size(), 4u);
}

TEST_F(TracingTest, ListenerOnTheSecondProviderGetsTheMainThreadName) {
  fake_.listeners.push_back({kExpectedGuids[1], 5, 1, 0});
  RegisterTraceProviders();
  ASSERT_EQ(fake_.written.size(), 1u);
  const FakeTracing::Written& event = fake_.written[0];
  EXPECT_EQ(event.handle, 0x1001u);
  EXPECT_EQ(std::memcmp(&event.descriptor, &kThreadNameEventDescriptor, sizeof(event.descriptor)),
            0);
  ASSERT_EQ(event.items.size(), 2u);
  const uint32_t thread_id = Platform::CurrentThreadId();
  ASSERT_EQ(event.items[0].size(), 4u);
  EXPECT_EQ(std::memcmp(event.items[0].data(), &thread_id, 4), 0);
  const std::string name(event.items[1].begin(), event.items[1].end());
  EXPECT_EQ(name, std::string("Main thread", 12));  // the NUL is part of the payload

  const TraceProvider& provider = *TraceProviderAt(kThreadNameProviderIndex);
  EXPECT_TRUE(provider.enabled());
  EXPECT_EQ(provider.listener_level(), 5);
  EXPECT_TRUE(WriteThreadNameEvent(77, "Worker"));
  ASSERT_EQ(fake_.written.size(), 2u);
  EXPECT_EQ(std::string(fake_.written[1].items[1].begin(), fake_.written[1].items[1].end()),
            std::string("Worker", 7));

  // Once the listener leaves, nothing more is written.
  TraceProvider::EnableCallback(nullptr, kTraceControlDisable, 0, 0, 0, nullptr,
                                TraceProviderAt(kThreadNameProviderIndex));
  EXPECT_FALSE(WriteThreadNameEvent(78, "Late"));
  EXPECT_EQ(fake_.written.size(), 2u);
}

TEST_F(TracingTest, ListenerOnAnotherProviderWritesNothing) {
  fake_.listeners.push_back({kExpectedGuids[0], 0, 1, 0});
  RegisterTraceProviders();
  EXPECT_TRUE(TraceProviderAt(0)->IsEventEnabled(0));
  EXPECT_FALSE(TraceProviderAt(kThreadNameProviderIndex)->IsEventEnabled(0));
  EXPECT_TRUE(fake_.written.empty());
}

TEST_F(TracingTest, MissingPiecesTurnStepsIntoNothing) {
  fake_.library_present = false;
  RegisterTraceProviders();
  EXPECT_TRUE(fake_.lookups.empty());
  EXPECT_TRUE(fake_.registrations.empty());

  fake_.library_present = true;
  fake_.offer_register = false;
  RegisterTraceProviders();
  EXPECT_TRUE(fake_.registrations.empty());
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(TraceProviderAt(i)->handle(), 0u);

  // A failed registration leaves the handle at 0.
  fake_.offer_register = true;
  fake_.register_status = 5;
  RegisterTraceProviders();
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(TraceProviderAt(i)->handle(), 0u);

  // Enabled, but no write function: nothing is written.
  fake_.register_status = 0;
  fake_.offer_write = false;
  fake_.listeners.push_back({kExpectedGuids[1], 0, 1, 0});
  RegisterTraceProviders();
  EXPECT_TRUE(TraceProviderAt(kThreadNameProviderIndex)->IsEventEnabled(0));
  EXPECT_TRUE(fake_.written.empty());
  EXPECT_FALSE(WriteThreadNameEvent(1, "x"));

  // Without an unregister function the handles are still forgotten.
  fake_.offer_unregister = false;
  RegisterTraceProviders();  // looks the functions up again
  UnregisterTraceProviders();
  EXPECT_TRUE(fake_.unregistered.empty());
  for (int i = 0; i < kTraceProviderCount; ++i) EXPECT_EQ(TraceProviderAt(i)->handle(), 0u);
}

TEST(TraceProviderTest, EnableRules) {
  // Two events with keywords 1 and 2, like the fourth provider, plus one
  // without keyword and one of level 4 to exercise the level rule.
  TraceProvider keyed({1, 2, 3, {4}}, TraceEventInfo{1, 0}, TraceEventInfo{2, 0});
  TraceProvider plain({5, 6, 7, {8}}, TraceEventInfo{0, 0}, TraceEventInfo{0, 4});

  struct Case {
    const char* why;
    TraceProvider* provider;
    uint8_t level;
    uint64_t any;
    uint64_t all;
    bool first;
    bool second;
  };
  const Case cases[] = {
      {"match-any selects the first", &keyed, 0, 1, 0, true, false},
      {"match-any selects both", &keyed, 0, 3, 0, true, true},
      {"match-any 0 selects no keyed event", &keyed, 0, 0, 0, false, false},
      {"match-all must be contained", &keyed, 0, 3, 2, false, true},
      {"match-all of both bits fits neither", &keyed, 0, 3, 3, false, false},
      {"level does not matter for level-0 events", &keyed, 1, 3, 0, true, true},
      {"no keyword: any masks pass", &plain, 0, 0, 0, true, true},
      {"listener level 0 takes every level", &plain, 0, 0, 0, true, true},
      {"listener level below the event's", &plain, 3, 0, 0, true, false},
      {"listener level equal to the event's", &plain, 4, 0, 0, true, true},
      {"listener level above the event's", &plain, 5, 0, 0, true, true},
  };
  for (const Case& c : cases) {
    TraceProvider::EnableCallback(nullptr, kTraceControlEnable, c.level, c.any, c.all, nullptr,
                                  c.provider);
    EXPECT_TRUE(c.provider->enabled()) << c.why;
    EXPECT_EQ(c.provider->listener_level(), c.level) << c.why;
    EXPECT_EQ(c.provider->match_any(), c.any) << c.why;
    EXPECT_EQ(c.provider->match_all(), c.all) << c.why;
    EXPECT_EQ(c.provider->IsEventEnabled(0), c.first) << c.why;
    EXPECT_EQ(c.provider->IsEventEnabled(1), c.second) << c.why;
  }

  // An unknown control code changes nothing.
  keyed.ApplyControl(kTraceControlEnable, 2, 3, 0);
  keyed.ApplyControl(7, 0, 0, 0);
  EXPECT_TRUE(keyed.enabled());
  EXPECT_EQ(keyed.listener_level(), 2);
  EXPECT_TRUE(keyed.IsEventEnabled(0));
  EXPECT_TRUE(keyed.IsEventEnabled(1));

  // Disable clears the whole listener state.
  TraceProvider::EnableCallback(nullptr, kTraceControlDisable, 9, 9, 9, nullptr, &keyed);
  EXPECT_FALSE(keyed.enabled());
  EXPECT_EQ(keyed.listener_level(), 0);
  EXPECT_EQ(keyed.match_any(), 0u);
  EXPECT_EQ(keyed.match_all(), 0u);
  EXPECT_FALSE(keyed.IsEventEnabled(0));
  EXPECT_FALSE(keyed.IsEventEnabled(1));

  // Out-of-range events are never enabled; a missing context is ignored.
  EXPECT_FALSE(plain.IsEventEnabled(2));
  EXPECT_FALSE(plain.IsEventEnabled(-1));
  TraceProvider::EnableCallback(nullptr, kTraceControlEnable, 0, 0, 0, nullptr, nullptr);
}

}  // namespace
}  // namespace Kestrel
