// The plugin library's only export: the entry point the host calls once after
// loading the library. Everything else in the library is internal (hidden
// visibility and a version script), so the host sees this one symbol.
#include "log/tracing.h"
#include "host_abi/host_records.h"
#include "plugin/host/plugin_entry.h"
#include "plugin/spectator/spectator_module.h"

extern "C" __attribute__((visibility("default"))) VYN_CDECL uint32_t
load_vyn_spectator(Kestrel::Client::CorePluginRecord* record) {
  return Kestrel::Client::LoadPlugin<Kestrel::Client::Spectator::SpectatorModule>(
      record, Kestrel::Client::PluginIdentity{"vyn-spectator"});
}

// The tracing providers register themselves when the library is loaded and
// unregister when it is unloaded, through a static object in the logging
// layer's tracing unit. That unit is only linked in when something refers to
// it, so keep one reference here.
[[gnu::used]] static void (*const kRegisterTracingAtLoad)() = &Kestrel::RegisterTraceProviders;

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
void __freeres();
}  // namespace __gnu_cxx

// The C++ runtime is linked into this library (so that its allocations stay
// inside it) and with it comes the runtime's emergency exception buffer, taken
// from malloc when the library is loaded. A process-wide runtime keeps that
// buffer for the life of the process; ours dies with the library, so hand it
// back when the host unloads us, or every load and unload would leak it.
[[gnu::destructor]] static void ReleaseRuntimeBuffersAtUnload() { __gnu_cxx::__freeres(); }
#endif
