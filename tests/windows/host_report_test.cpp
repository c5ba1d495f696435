// Where a Windows host sees what the library reports: a windowed host has no
// standard error, so a refused handshake must reach the debugger channel.
#include <gtest/gtest.h>

#include <string>

#include "devhost/host/core_host.h"
#include "platform/debug_output_capture.h"

namespace Kestrel::DevHost {
namespace {

TEST(HostReportTest, ARefusedHandshakeIsReportedToTheDebugger) {
  Platform::DebugOutputCapture capture;
  HostOptions newer;
  newer.api_major = 19;
  CoreHost host(newer);
  EXPECT_FALSE(host.LoadLibrary(VYN_SPECTATOR_LIBRARY).has_value());
  std::string seen;
  for (const std::string& text : capture.texts()) seen += text;
  EXPECT_NE(seen.find("Expression: ALE-EECF0606"), std::string::npos) << seen;
  EXPECT_NE(seen.find("which supports plugin API 18.0.0 is not compatible with core's plugin API "
                      "19.0.0"),
            std::string::npos)
      << seen;
}

}  // namespace
}  // namespace Kestrel::DevHost
