// The plugin library's only export: the entry point the host calls once after
// loading the library. Everything else in the library is internal (hidden
// visibility and a version script), so the host sees this one symbol.
#include "log/tracing.h"
#include "plugin/host/abi/host_records.h"
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
