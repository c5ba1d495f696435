// The command line of `vyn-devhost`.
//
//   vyn-devhost serve [--bind 127.0.0.1] [--port 8080] [--max-body BYTES]
//                     [--log none|error|warn|all] [--allow-host NAME]... [--watch]
//   vyn-devhost call METHOD PATH [--body TEXT|@FILE] [--content-type TYPE]
//                    [--arg NAME=JSON]... [--header NAME=VALUE]... [--verbose]
//   vyn-devhost describe [--json | --openapi]
//   vyn-devhost replay SESSION.har
// Every command also takes --plugin PATH, --roster FILE and --host-api X.Y.Z,
// and --help (the program's or the command's usage).
//
//   MaybeType<DevHostOptions> options = ParseCommandLine({"call", "GET", "/x"}, "/lib.so");
#ifndef VYN_DEVHOST_PROGRAM_COMMAND_LINE_H_
#define VYN_DEVHOST_PROGRAM_COMMAND_LINE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "util/failure.h"

namespace Kestrel::DevHost {

enum class DevHostCommand { kServe, kCall, kDescribe, kReplay, kHelp };
enum class DescribeFormat { kText, kJson, kOpenApi };
// Which plugin log lines `serve` prints: none; errors; warnings and errors
// (the default); all, with the per-call progress the plugin writes at the
// levels OKAY and ALWAYS.
enum class LogFilter { kNone, kError, kWarn, kAll };

struct DevHostOptions {
  DevHostCommand command = DevHostCommand::kHelp;
  // With kHelp: the command whose usage is asked for; kHelp for the program's.
  DevHostCommand help_topic = DevHostCommand::kHelp;
  std::string plugin_path;
  std::string roster_path;  // "" for the built-in demo roster
  uint32_t api_major = 18, api_minor = 0, api_patch = 0;
  // serve
  std::string bind_address = "127.0.0.1";
  int port = 8080;
  size_t max_body = size_t{64} * 1024 * 1024;
  LogFilter log = LogFilter::kWarn;
  std::vector<std::string> allowed_hosts;  // `Host` names served besides loopback's
  bool watch = false;                      // reload the plugin when its library file changes
  // call
  uint32_t method = 0;
  std::string path;
  std::optional<std::string> body;  // as given: text, or "@" and a file name
  std::string content_type;
  std::vector<std::pair<std::string, std::string>> arguments;  // name, JSON text
  std::vector<std::pair<std::string, std::string>> headers;
  bool verbose = false;
  // describe
  DescribeFormat format = DescribeFormat::kText;
  // replay
  std::string session_path;
};

// The usage text printed for --help and after a usage error: the program's
// (kHelp) or one command's with its options explained.
std::string UsageText(DevHostCommand topic = DevHostCommand::kHelp);

// Parses the words after the program name. `default_plugin` is the plugin
// path used without --plugin. Fails with a message naming the bad word: an
// unknown command or option, a missing value, a bad port, method or version,
// an argument or header without "=", a bad --max-body or --log value.
// "--help" or "-h" anywhere after a command asks for that command's usage.
MaybeType<DevHostOptions> ParseCommandLine(const std::vector<std::string>& words,
                                           const std::string& default_plugin);

// Returns the body a --body value stands for: the text itself, or for
// "@FILE" the file's bytes. Fails when the file cannot be read.
MaybeType<std::string> ResolveBody(const std::string& value);

}  // namespace Kestrel::DevHost

#endif  // VYN_DEVHOST_PROGRAM_COMMAND_LINE_H_
