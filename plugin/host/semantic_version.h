// `SemanticVersion`: the plugin API version exchanged with the host at load,
// and the rule that decides whether a host can drive this plugin.
//
// A version is three unsigned numbers plus optional prerelease and build
// texts; it owns its texts. The host only ever sends the three numbers.
//
//   SemanticVersion plugin{18, 0, 0};
//   SemanticVersion host{18, 7, 3};
//   IsHostCompatible(plugin, host);   // true
//   plugin.ToText();                  // "18.0.0"
#ifndef VYN_PLUGIN_HOST_SEMANTIC_VERSION_H_
#define VYN_PLUGIN_HOST_SEMANTIC_VERSION_H_

#include <cstdint>
#include <string>

namespace Kestrel::Client {

struct SemanticVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  std::string prerelease;  // empty when none
  std::string build;       // empty when none

  // "major.minor.patch", then "-prerelease" and "+build" when those are not
  // empty. Never fails.
  std::string ToText() const;

  friend bool operator==(const SemanticVersion&, const SemanticVersion&) = default;
};

// FormatText rule: a version is formatted as its text form.
std::string ToFormatText(const SemanticVersion& version);

// Returns true when a host speaking `host` can drive a plugin built for
// `plugin`: the majors are equal and the host's (minor, patch) is not below the
// plugin's, minor compared first. Prerelease and build texts are ignored.
bool IsHostCompatible(const SemanticVersion& plugin, const SemanticVersion& host);

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_SEMANTIC_VERSION_H_
