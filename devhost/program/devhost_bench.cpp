// vyn-devhost-bench: what the stand-in host's server sustains, written as a
// Markdown section for docs/benchmarks.md (see scripts/bench). It serves the
// plugin library through `RunServe` in this process and measures
// availability calls per second over a new connection each and over one
// reused connection, then the resident memory of a soak of 20,000
// availability calls and 5,000 launches; then, serving a copy of the library
// with `--watch`, the time from a rewrite of that file to the first call the
// new build answers. Figures, not pass/fail.
//
//   vyn-devhost-bench PLUGIN_LIBRARY > section.md
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "devhost/program/dev_host_commands.h"
#include "httplib.h"
#include "platform/process_info.h"

namespace {

using namespace Kestrel::DevHost;

constexpr const char* kBuddyPath = "/vyn-spectator/v1/buddy/spectate";
constexpr const char* kLaunchPath = "/vyn-spectator/v1/spectate/launch";
constexpr const char* kNames = R"(["Ann","Bob","Cleo"])";
constexpr double kMiB = 1024.0 * 1024.0;

// Calls per second of `count` availability calls made by `call`.
template <typename Call>
double Rate(int count, Call&& call, int* failures) {
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    if (!call()) ++*failures;
  }
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return count / took.count();
}

// Milliseconds from the end of a rewrite of `library` (served with --watch
// on `port`) to the end of the first call the new build answers, for each of
// `rounds` rewrites; `*calls` counts the calls made so far on that server.
std::vector<double> ReloadTimes(const std::string& library, const std::string& built, int port,
                                int rounds, int* calls, int* failures) {
  namespace fs = std::filesystem;
  httplib::Client client("127.0.0.1", port);
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    const fs::file_time_type before = fs::last_write_time(library);
    fs::copy_file(built, library, fs::copy_options::overwrite_existing);
    fs::last_write_time(library, before + std::chrono::seconds(1));
    const auto written = std::chrono::steady_clock::now();
    const std::string load = "\"load\":" + std::to_string(round + 2) + ",";
    for (;;) {
      auto answer = client.Post(kBuddyPath, kNames, "application/json");
      ++*calls;
      auto call = client.Get("/devhost/calls/" + std::to_string(*calls));
      if (answer && answer->status == 200 && call && call->body.find(load) != std::string::npos) {
        break;
      }
      if (std::chrono::steady_clock::now() - written > std::chrono::seconds(30)) {
        ++*failures;
        break;
      }
    }
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - written)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vyn-devhost-bench PLUGIN_LIBRARY\n");
    return 2;
  }
  DevHostOptions options;
  options.command = DevHostCommand::kServe;
  options.plugin_path = argv[1];
  options.port = 0;
  options.log = LogFilter::kNone;
  std::ostringstream out, err;
  double fresh = 0, reused = 0, first_mib = 0, last_mib = 0;
  int failures = 0;
  int code = RunServe(options, PluginSource{}, out, err, [&](int port) {
    fresh = Rate(
        3000,
        [&] {
          httplib::Client client("127.0.0.1", port);
          auto answer = client.Post(kBuddyPath, kNames, "application/json");
          return answer && answer->status == 200;
        },
        &failures);
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    auto call = [&](const char* path, const std::string& body) {
      auto answer = client.Post(path, body, "application/json");
      return answer && answer->status < 300;
    };
    reused = Rate(
        3000, [&] { return call(kBuddyPath, kNames); }, &failures);
    // The soak, on a server that has already answered the calls above.
    for (int i = 0; i < 1000; ++i) failures += call(kBuddyPath, kNames) ? 0 : 1;
    first_mib = Kestrel::Platform::ResidentBytes() / kMiB;
    for (int i = 1000; i < 20000; ++i) failures += call(kBuddyPath, kNames) ? 0 : 1;
    for (int i = 0; i < 5000; ++i) {
      std::string game = R"({"dropInSpectateGameId":"g)" + std::to_string(i) +
                         R"(","gameQueueType":"ARAM","allowObserveMode":"ALL"})";
      failures += call(kLaunchPath, game) ? 0 : 1;
    }
    last_mib = Kestrel::Platform::ResidentBytes() / kMiB;
  });
  if (code != 0) {
    std::fprintf(stderr, "vyn-devhost-bench: %s", err.str().c_str());
    return code;
  }

  // Reloads: a copy of the library is the file a build would replace.
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / "vyn-devhost-bench-reload";
  fs::create_directories(folder);
  options.plugin_path = (folder / fs::path(argv[1]).filename()).string();
  fs::copy_file(argv[1], options.plugin_path, fs::copy_options::overwrite_existing);
  options.watch = true;
  constexpr int kReloads = 9;
  std::vector<double> reloads;
  int reload_calls = 0;
  code = RunServe(options, PluginSource{}, out, err, [&](int port) {
    reloads = ReloadTimes(options.plugin_path, argv[1], port, kReloads, &reload_calls, &failures);
  });
  fs::remove_all(folder);
  if (code != 0) {
    std::fprintf(stderr, "vyn-devhost-bench: %s", err.str().c_str());
    return code;
  }
  std::printf(
      "## The stand-in host's server\n\n"
      "`vyn-devhost serve` (its server in-process, the plugin library, the demo roster), "
      "measured by `devhost/devhost_bench.cpp` on 127.0.0.1; an availability call asks for "
      "three names.\n\n"
      "| figure | value |\n|---|---|\n"
      "| availability calls per second, a new connection each (3,000 calls) | %.0f |\n"
      "| availability calls per second, one reused connection (3,000 calls) | %.0f |\n"
      "| soak: resident memory after the first 1,000 calls | %.1f MiB |\n"
      "| soak: resident memory after 20,000 availability calls and 5,000 launches | %.1f MiB |\n"
      "| `serve --watch`: from the library file's last write to the first call the new build "
      "answers, median of %d (its 300 ms quiet wait included) | %.0f ms |\n"
      "| the same, slowest of %d | %.0f ms |\n"
      "| calls that failed | %d |\n",
      fresh, reused, first_mib, last_mib, kReloads, reloads[kReloads / 2], kReloads, reloads.back(),
      failures);
  return failures == 0 ? 0 : 1;
}
