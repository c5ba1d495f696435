#include "plugin/host/semantic_version.h"

#include <gtest/gtest.h>

#include "plugin/host/plugin_name.h"
#include "tests/support/capturing_log_target.h"
#include "util/format_text.h"

namespace Kestrel::Client {
namespace {

TEST(SemanticVersion, TextFormAddsPrereleaseAndBuildWhenGiven) {
  EXPECT_EQ((SemanticVersion{18, 0, 0, "", ""}).ToText(), "18.0.0");
  EXPECT_EQ((SemanticVersion{1, 2, 3, "beta.1", ""}).ToText(), "1.2.3-beta.1");
  EXPECT_EQ((SemanticVersion{1, 2, 3, "", "77"}).ToText(), "1.2.3+77");
  EXPECT_EQ((SemanticVersion{4294967295u, 0, 1, "rc", "x"}).ToText(), "4294967295.0.1-rc+x");
  EXPECT_EQ(FormatText("v%1", SemanticVersion{2, 5, 0, "", ""}), "v2.5.0");
}

TEST(SemanticVersion, CompatibilityComparesUnsignedMinorThenPatch) {
  const SemanticVersion plugin{18, 2, 5, "", ""};
  EXPECT_TRUE(IsHostCompatible(plugin, {18, 2, 5, "", ""}));
  EXPECT_TRUE(IsHostCompatible(plugin, {18, 3, 0, "", ""}));
  EXPECT_TRUE(IsHostCompatible(plugin, {18, 4294967295u, 0, "", ""}));
  EXPECT_FALSE(IsHostCompatible(plugin, {18, 2, 4, "", ""}));
  EXPECT_FALSE(IsHostCompatible(plugin, {18, 1, 9, "", ""}));
  EXPECT_FALSE(IsHostCompatible(plugin, {19, 2, 5, "", ""}));
  EXPECT_FALSE(IsHostCompatible(plugin, {17, 9, 9, "", ""}));
  EXPECT_TRUE(IsHostCompatible(plugin, {18, 2, 5, "pre", "build"}));
}

TEST(PluginName, FullNameFromTypeWithFallbackAndItsLogLine) {
  CapturingLogTarget capture;
  capture.Configure(kLogLevelOkay, 0, 0, "#L| #M");
  EXPECT_EQ(FullNameFromShortNameAndType("vyn-spectator", "backend"), "tmx-be-vyn-spectator");
  EXPECT_EQ(FullNameFromShortNameAndType("ui", "frontend"), "tmx-fe-ui");
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_EQ(FullNameFromShortNameAndType("odd", "Backend"), "tmx-xx-odd");
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{" ERROR|             Plugin Manager| "
                                     "GetFullNameFromShortNameAndType(\"odd\", \"Backend\") "
                                     "called with an unknown type\n"});

  PluginNameRecord record = MakePluginNameRecord("vyn-spectator", "backend");
  EXPECT_EQ(record.full_name, "tmx-be-vyn-spectator");
  EXPECT_EQ(record.short_name, "vyn-spectator");
  EXPECT_EQ(record.type, "backend");
  EXPECT_EQ(record.type_detail, "");
  EXPECT_EQ(record.tags, (std::vector<std::string>{"Plugins", "Plugin tmx-be-vyn-spectator"}));
}

}  // namespace
}  // namespace Kestrel::Client
