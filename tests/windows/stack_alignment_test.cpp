// The library's entry points work when a 32-bit Windows host calls them from
// a stack aligned to 4 bytes only. The export and the entry table are called
// through a trampoline that misaligns the stack on purpose; the in-process
// host then runs a whole session through them.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "devhost/core_host.h"
#include "host_abi/host_records.h"
#include "platform/shared_library.h"
#include "tests/windows/misaligned_call.h"

namespace Kestrel::DevHost {
namespace {

using Client::CoreInterface;
using Client::CorePluginRecord;
using Client::ModuleEntryTable;

// Compiled with the library's flags: a 16-byte-aligned local stays aligned
// whatever the alignment of the stack it is entered from (without
// -mincoming-stack-boundary=2 the remainder is the stack's offset).
[[gnu::noinline]] uint32_t AlignedLocalRemainder() {
  alignas(16) volatile char local[16] = {};
  uintptr_t address = reinterpret_cast<uintptr_t>(&local[0]);
  asm("" : "+r"(address));  // the optimiser would fold the remainder it believes to 0
  return static_cast<uint32_t>(address % 16);
}

// The plugin's export and entry table, reached through the trampoline.
Client::LoadPluginFunction g_load = nullptr;
const ModuleEntryTable* g_table = nullptr;
uint32_t g_offset = 4;
int g_misaligned_calls = 0;

uint8_t VYN_CDECL MisalignedInitialize(void* module, CoreInterface* core) {
  ++g_misaligned_calls;
  return static_cast<uint8_t>(Testing::CallMisaligned(g_table->Initialize, g_offset, module, core));
}

void VYN_CDECL MisalignedShutdown(void* module) {
  ++g_misaligned_calls;
  Testing::CallMisaligned(g_table->Shutdown, g_offset, module);
}

void VYN_CDECL MisalignedGetMemoryStats(uint32_t ignored, MemoryStats* stats) {
  ++g_misaligned_calls;
  Testing::CallMisaligned(g_table->GetMemoryStats, g_offset, ignored, stats);
}

const ModuleEntryTable kMisalignedTable = {&MisalignedInitialize, &MisalignedShutdown,
                                           &MisalignedGetMemoryStats};

uint32_t VYN_CDECL MisalignedLoad(CorePluginRecord* record) {
  ++g_misaligned_calls;
  const uint32_t result = Testing::CallMisaligned(g_load, g_offset, record);
  if (record->entry_table != nullptr) {
    g_table = record->entry_table;
    record->entry_table = &kMisalignedTable;
  }
  return result;
}

TEST(StackAlignmentTest, ACompiledFunctionRealignsItsLocalsOnAMisalignedStack) {
  for (uint32_t offset : {0u, 4u, 8u, 12u}) {
    EXPECT_EQ(Testing::CallMisaligned(&AlignedLocalRemainder, offset), 0u) << offset;
  }
}

TEST(StackAlignmentTest, ExportAndEntryTableWorkFromEveryFourByteAlignment) {
  std::string error;
  std::unique_ptr<Platform::SharedLibrary> library =
      Platform::SharedLibrary::Open(VYN_SPECTATOR_LIBRARY, &error);
  ASSERT_NE(library, nullptr) << error;
  g_load = reinterpret_cast<Client::LoadPluginFunction>(library->FindSymbol("load_vyn_spectator"));
  ASSERT_NE(g_load, nullptr);
  for (uint32_t offset : {4u, 8u, 12u}) {
    g_offset = offset;
    g_misaligned_calls = 0;
    CoreHost host;
    MaybeType<void> loaded = host.Load(&MisalignedLoad);
    ASSERT_TRUE(loaded.has_value()) << loaded.ToText();
    MaybeType<void> started = host.Initialize();
    ASSERT_TRUE(started.has_value()) << started.ToText();
    MaybeType<CallOutcome> outcome =
        host.Call(CallRequest::Json(kMethodGet, "/vyn-spectator/v1/spectate", ""));
    ASSERT_TRUE(outcome.has_value()) << outcome.ToText();
    EXPECT_EQ(outcome.value().ValueJson(),
              R"({"allowObserveMode":"","dropInSpectateGameId":"","gameQueueType":""})");
    EXPECT_GT(host.GetMemoryStats().allocations, 0u);
    host.Shutdown();
    EXPECT_EQ(g_misaligned_calls, 4) << offset;  // load, Initialize, GetMemoryStats, Shutdown
  }
}

}  // namespace
}  // namespace Kestrel::DevHost
