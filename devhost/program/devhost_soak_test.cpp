// A soak of the server `vyn-devhost serve` runs (through `RunServe`, in this
// process): 20,000 availability calls and 5,000 launches over one reused
// connection, with the page's inspector stream open and read throughout.
// Its resident memory after them stays within a few MB of its memory after
// the first 1,000 calls; 100 launches of a 1 MB game after them fill the
// byte-bounded windows and no more. The test prints the figures.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>

#include "devhost/program/dev_host_commands.h"
#include "httplib.h"
#include "platform/process_info.h"

namespace Kestrel::DevHost {
namespace {

constexpr const char* kBuddyPath = "/vyn-spectator/v1/buddy/spectate";
constexpr const char* kLaunchPath = "/vyn-spectator/v1/spectate/launch";
constexpr double kMiB = 1024.0 * 1024.0;
// "Within a few MB": what allocator caches and the server's bounded windows
// may still take after the first 1,000 calls.
constexpr double kAllowedGrowthMiB = 4.0;
// Each kind of record keeps up to about 4 MiB; with 1 MB calls the windows
// fill to that, and no further.
constexpr double kAllowedLargeGrowthMiB = 64.0;

TEST(ServeSoakTest, ResidentMemoryStaysFlatOverTwentyFiveThousandCalls) {
  DevHostOptions options;
  options.command = DevHostCommand::kServe;
  options.plugin_path = VYN_SPECTATOR_LIBRARY;
  options.port = 0;
  options.log = LogFilter::kNone;
  std::ostringstream out, err;
  double after_first = 0, after_all = 0, after_large = 0;
  int failures = 0;
  std::atomic<size_t> streamed{0};
  std::thread page;
  int code = RunServe(options, PluginSource{}, out, err, [&](int port) {
    // Read as the page reads it, until the server stops.
    page = std::thread([port, &streamed] {
      httplib::Client stream("127.0.0.1", port);
      stream.Get("/devhost/inspector", [&](const char*, size_t length) {
        streamed += length;
        return true;
      });
    });
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);  // its body is a second write
    auto call = [&](const char* path, const std::string& body) {
      auto answer = client.Post(path, body, "application/json");
      if (!answer || answer->status >= 300) ++failures;
    };
    for (int i = 0; i < 1000; ++i) call(kBuddyPath, R"(["Ann","Bob","Cleo"])");
    after_first = Platform::ResidentBytes() / kMiB;
    for (int i = 1000; i < 20000; ++i) call(kBuddyPath, R"(["Ann","Bob","Cleo"])");
    for (int i = 0; i < 5000; ++i) {
      call(kLaunchPath, R"({"dropInSpectateGameId":"g)" + std::to_string(i) +
                            R"(","gameQueueType":"ARAM","allowObserveMode":"ALL"})");
    }
    after_all = Platform::ResidentBytes() / kMiB;
    const std::string large_id(1024 * 1024, 'x');
    for (int i = 0; i < 100; ++i) {
      call(kLaunchPath, R"({"dropInSpectateGameId":")" + large_id + "\"}");
    }
    after_large = Platform::ResidentBytes() / kMiB;
  });
  if (page.joinable()) page.join();
  EXPECT_EQ(code, 0) << err.str();
  EXPECT_EQ(failures, 0);
  std::printf(
      "soak: resident %.1f MiB after the first 1,000 calls, %.1f MiB after all 25,000, "
      "%.1f MiB after 100 more launches of a 1 MB game; the inspector stream carried %.1f "
      "MiB\n",
      after_first, after_all, after_large, streamed / kMiB);
  EXPECT_GT(streamed, size_t{0});
  EXPECT_LT(after_all - after_first, kAllowedGrowthMiB);
  // The windows are bounded in bytes too: large calls fill them only so far.
  EXPECT_LT(after_large - after_first, kAllowedLargeGrowthMiB);
}

}  // namespace
}  // namespace Kestrel::DevHost
