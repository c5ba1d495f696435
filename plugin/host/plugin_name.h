// The plugin's names: the full name the host knows it by, derived from its
// short name and type, and the tag list every registered function carries.
//
// The module owns one `PluginNameRecord`; the full name text it hands the host
// in the load record points into it.
//
//   FullNameFromShortNameAndType("vyn-spectator", "backend");  // "tmx-be-vyn-spectator"
//   MakePluginNameRecord("vyn-spectator", "backend").tags;      // {"Plugins", "Plugin tmx-be-..."}
#ifndef VYN_PLUGIN_HOST_PLUGIN_NAME_H_
#define VYN_PLUGIN_HOST_PLUGIN_NAME_H_

#include <string>
#include <string_view>
#include <vector>

namespace Kestrel::Client {

// The plugin type of a backend plugin.
inline constexpr char kBackendPluginType[] = "backend";

struct PluginNameRecord {
  std::string full_name;
  std::string short_name;
  std::string type;
  std::string type_detail;  // empty for this plugin
  // Given to every function the module registers.
  std::vector<std::string> tags;
};

// Returns the prefix for `type` ("tmx-be-" for "backend", "tmx-fe-" for
// "frontend") followed by `short_name`. Any other type gives "tmx-xx-" and logs
// the unknown type at level 2 through the plugin-manager line format. Never fails.
std::string FullNameFromShortNameAndType(std::string_view short_name, std::string_view type);

// Returns the name record of a plugin with an empty type detail and the two
// tags "Plugins" and "Plugin " + full name. Never fails.
PluginNameRecord MakePluginNameRecord(std::string_view short_name, std::string_view type);

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_PLUGIN_NAME_H_
