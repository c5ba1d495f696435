#include "plugin/host/plugin_entry.h"

#include "log/assertion_report.h"
#include "util/format_text.h"

namespace Kestrel::Client {

SemanticVersion HostVersionFromRecord(const CorePluginRecord& record) {
  return SemanticVersion{record.version_major, record.version_minor, record.version_patch, "", ""};
}

void ReportIncompatibleHost(const PluginIdentity& identity, const SemanticVersion& host) {
  const std::string description =
      FormatText("%1 which supports plugin API %2 is not compatible with core's plugin API %3",
                 identity.short_name, identity.api_version, host);
  ReportAssertion("ALE-EECF0606", description.c_str(), __FILE__, __LINE__, "LoadPlugin");
}

void WriteRefusedRecord(CorePluginRecord* record, const PluginIdentity& identity) {
  record->version_major = identity.api_version.major;
  record->version_minor = identity.api_version.minor;
  record->version_patch = identity.api_version.patch;
  record->entry_table = nullptr;
  record->module = nullptr;
  record->plugin_name = nullptr;
  record->api_description = nullptr;
}

}  // namespace Kestrel::Client
