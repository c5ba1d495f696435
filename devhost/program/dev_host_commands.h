// The commands of `vyn-devhost` (replay: session_replay.h), each a function from its options to
// an exit code, writing to the given streams. `main` adds the process
// concerns (the default plugin path, signals); tests call these directly.
//
// Exit codes: 0 success; 1 the call was answered with an error status;
// 2 a usage error or a failure to start (library, roster, body file, port).
//
//   std::ostringstream out, err;
//   int code = RunDescribe(options, PluginSource{}, out, err);
#ifndef VYN_DEVHOST_PROGRAM_DEV_HOST_COMMANDS_H_
#define VYN_DEVHOST_PROGRAM_DEV_HOST_COMMANDS_H_

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "devhost/host/core_host.h"
#include "devhost/peers/simulated_peers.h"
#include "devhost/program/command_line.h"
#include "devhost/server/http_server.h"

namespace Kestrel::DevHost {

// Where the plugin comes from: its entry function when set (a plugin linked
// into the program), otherwise the options' library path.
struct PluginSource {
  LoadPluginFunction entry = nullptr;
};

// A host with the simulated peers, loaded and initialized.
struct RunningHost {
  std::unique_ptr<CoreHost> host;
  std::unique_ptr<SimulatedPeers> peers;
};

// Starts a host from the options (roster, host API version, plugin) with
// `observer` and the record bounds (0: keep all). `install` registers the
// request handlers before the plugin loads; empty: the peers' own. Fails
// with the roster's, the loader's or `Initialize`'s reason.
MaybeType<RunningHost> StartHost(
    const DevHostOptions& options, const PluginSource& source, const HostObserver& observer,
    size_t record_limit = 0, size_t record_bytes_limit = 0,
    const std::function<void(CoreHost*, SimulatedPeers*)>& install = {});

// Whether `serve` with `filter` prints a plugin log line of `level`.
bool ShowsLogLine(LogFilter filter, int32_t level);

// The text of a plugin log level: "  OKAY", "  WARN", " ERROR", "ALWAYS", or
// the number for other levels.
std::string LogLevelText(int32_t level);

// Prints the API description (text, JSON or OpenAPI).
int RunDescribe(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
                std::ostream& err);

// Makes one call and prints "status: N" and the JSON result or error body;
// with `verbose`, first what the plugin did meanwhile.
int RunCall(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
            std::ostream& err);

// Serves HTTP until `wait_for_stop` returns (it is called once the server
// runs, with the bound port), then shuts the plugin down (calls that wait
// end), stops the server and unloads the plugin. Prints "listening on
// http://ADDRESS:PORT" when ready and the plugin log lines `options.log`
// picks. The host, the simulated peers and the session served as HAR keep a
// bounded window of records. With `options.watch` (and a library path) the
// plugin is reloaded whenever a build replaces its file (`LibraryWatch`): a
// line tells each reload, the inspector stream carries it, and the server
// goes on whether it loaded.
int RunServe(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
             std::ostream& err, const std::function<void(int port)>& wait_for_stop);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_PROGRAM_DEV_HOST_COMMANDS_H_
