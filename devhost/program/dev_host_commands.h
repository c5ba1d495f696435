// The three commands of `vyn-devhost`, each a function from its options to
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
#include <ostream>
#include <string>

#include "devhost/host/core_host.h"
#include "devhost/program/command_line.h"
#include "devhost/server/http_server.h"

namespace Kestrel::DevHost {

// Where the plugin comes from: its entry function when set (a plugin linked
// into the program), otherwise the options' library path.
struct PluginSource {
  LoadPluginFunction entry = nullptr;
};

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
// picks. The host and the simulated peers keep a bounded window of records.
// With `options.watch` (and a library path) the plugin is reloaded whenever a
// build replaces its file (`LibraryWatch`): a line tells each reload, the
// inspector stream carries it, and the server goes on whether it loaded.
int RunServe(const DevHostOptions& options, const PluginSource& source, std::ostream& out,
             std::ostream& err, const std::function<void(int port)>& wait_for_stop);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_PROGRAM_DEV_HOST_COMMANDS_H_
