#include "plugin/host/plugin_name.h"

#include "log/logger.h"
#include "util/format_text.h"

namespace Kestrel::Client {

std::string FullNameFromShortNameAndType(std::string_view short_name, std::string_view type) {
  std::string prefix;
  if (type == "backend") {
    prefix = "tmx-be-";
  } else if (type == "frontend") {
    prefix = "tmx-fe-";
  } else {
    prefix = "tmx-xx-";
    const std::string message =
        FormatText("GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type",
                   short_name, type);
    LogMessage(kLogLevelError, 0, "            Plugin Manager| %s", message.c_str());
  }
  return prefix + std::string(short_name);
}

PluginNameRecord MakePluginNameRecord(std::string_view short_name, std::string_view type) {
  PluginNameRecord record;
  record.full_name = FullNameFromShortNameAndType(short_name, type);
  record.short_name = std::string(short_name);
  record.type = std::string(type);
  record.tags = {"Plugins", "Plugin " + record.full_name};
  return record;
}

}  // namespace Kestrel::Client
