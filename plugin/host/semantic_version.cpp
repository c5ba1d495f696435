#include "plugin/host/semantic_version.h"

#include "util/format_text.h"

namespace Kestrel::Client {

std::string SemanticVersion::ToText() const {
  std::string text = FormatText("%1.%2.%3", major, minor, patch);
  if (!prerelease.empty()) {
    text += '-';
    text += prerelease;
  }
  if (!build.empty()) {
    text += '+';
    text += build;
  }
  return text;
}

std::string ToFormatText(const SemanticVersion& version) {
  return version.ToText();
}

bool IsHostCompatible(const SemanticVersion& plugin, const SemanticVersion& host) {
  if (host.major != plugin.major) return false;
  if (host.minor != plugin.minor) return host.minor > plugin.minor;
  return host.patch >= plugin.patch;
}

}  // namespace Kestrel::Client
