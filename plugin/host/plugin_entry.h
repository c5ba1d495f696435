// The body of the plugin's exported entry point: creates the module, checks
// the host's plugin API version, names the plugin, registers the framework's
// and the feature's types, events and endpoints, builds the API description
// and fills the host's load record.
//
// On success the record's words 3-6 point into the module, which owns
// everything they point to until `Shutdown`. When the host's version is not
// compatible the failure is reported as the fatal assertion "ALE-EECF0606",
// the module is destroyed, words 3-6 are 0 and nothing is started.
//
//   extern "C" uint32_t load_my_plugin(CorePluginRecord* record) {
//     return LoadPlugin<MyModule>(record, PluginIdentity{"my-plugin"});
//   }
#ifndef VYN_PLUGIN_HOST_PLUGIN_ENTRY_H_
#define VYN_PLUGIN_HOST_PLUGIN_ENTRY_H_

#include <cstdint>
#include <string>
#include <type_traits>

#include "host_abi/host_records.h"
#include "plugin/host/app_module.h"
#include "plugin/host/plugin_name.h"
#include "plugin/host/semantic_version.h"

namespace Kestrel::Client {

// The plugin API version this framework speaks.
inline const SemanticVersion kPluginApiVersion{18, 0, 0, "", ""};

// Who the plugin is: its short name, type and plugin API version.
struct PluginIdentity {
  std::string short_name;
  std::string type = kBackendPluginType;
  SemanticVersion api_version = kPluginApiVersion;
};

// Reads the host's version from words 0-2 of `record`.
SemanticVersion HostVersionFromRecord(const CorePluginRecord& record);

// Reports an incompatible host as the fatal assertion "ALE-EECF0606". Never fails.
void ReportIncompatibleHost(const PluginIdentity& identity, const SemanticVersion& host);

// Writes the refusal into `record` (not null): words 0-2 the plugin's version,
// words 3-6 0.
void WriteRefusedRecord(CorePluginRecord* record, const PluginIdentity& identity);

// Runs the load steps for a module of type `Module` (derived from
// `CoreAppModule`, default-constructible, allocated with `new`). Returns 0,
// which carries no meaning. Never throws: a failure while loading (the heap)
// destroys the module and leaves words 3-6 at 0. `record` nullptr is ignored.
template <class Module>
uint32_t LoadPlugin(CorePluginRecord* record, const PluginIdentity& identity) noexcept {
  static_assert(std::is_base_of_v<CoreAppModule, Module>);
  if (record == nullptr) return 0;
  Module* module = nullptr;
  try {
    module = new Module();
    const SemanticVersion host = HostVersionFromRecord(*record);
    if (!IsHostCompatible(identity.api_version, host)) {
      ReportIncompatibleHost(identity, host);
      delete module;
      WriteRefusedRecord(record, identity);
      return 0;
    }
    module->SetHostVersion(host);
    module->SetPluginName(MakePluginNameRecord(identity.short_name, identity.type));
    RegisterFrameworkTypes(module->registry());
    module->RegisterApi();
    const ApiDescription& description = module->BuildApiDescription();

    record->version_major = identity.api_version.major;
    record->version_minor = identity.api_version.minor;
    record->version_patch = identity.api_version.patch;
    record->entry_table = module->entry_table();
    record->module = static_cast<CoreAppModule*>(module);
    record->plugin_name = module->plugin_name().full_name.c_str();
    record->api_description = &description;
  } catch (...) {
    delete module;
    WriteRefusedRecord(record, identity);
  }
  return 0;
}

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_PLUGIN_ENTRY_H_
