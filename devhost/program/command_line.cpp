#include "devhost/program/command_line.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "devhost/host/core_host.h"

namespace Kestrel::DevHost {
namespace {

bool ParseNumber(const std::string& text, uint32_t* number) {
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *number);
  return error == std::errc() && end == text.data() + text.size();
}

bool ParseVersion(const std::string& text, DevHostOptions* options) {
  size_t first = text.find('.');
  size_t second = first == std::string::npos ? first : text.find('.', first + 1);
  if (second == std::string::npos) return false;
  return ParseNumber(text.substr(0, first), &options->api_major) &&
         ParseNumber(text.substr(first + 1, second - first - 1), &options->api_minor) &&
         ParseNumber(text.substr(second + 1), &options->api_patch);
}

MaybeType<std::pair<std::string, std::string>> SplitPair(const std::string& option,
                                                         const std::string& text) {
  size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    return Failure(2, "%1 needs NAME=VALUE, got '%2'", option, text);
  }
  return std::make_pair(text.substr(0, equals), text.substr(equals + 1));
}

// The commands: name, what follows the name in the usage, what it does.
struct CommandRule {
  const char* name;
  DevHostCommand command;
  const char* operands;
  const char* summary;
};
constexpr CommandRule kCommands[] = {
    {"serve", DevHostCommand::kServe, "",
     "Serves the plugin over HTTP until Ctrl-C. --port 0 picks a free port.\n"},
    {"call", DevHostCommand::kCall, " METHOD PATH",
     "Makes one call and prints its status and answer.\n"},
    {"describe", DevHostCommand::kDescribe, "",
     "Prints the plugin's API: as text, as JSON, or as an OpenAPI document.\n"},
    {"replay", DevHostCommand::kReplay, " SESSION.har",
     "Sends the plugin calls of a saved session again, the peers answering as recorded,\n"
     "and prints a diff for each call answered differently. Exit 0: all the same; 1: some\n"
     "differ; 2: bad input.\n"},
};

const CommandRule* FindCommand(const std::string& name) {
  for (const CommandRule& rule : kCommands) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

using Apply = MaybeType<void> (*)(const std::string& value, DevHostOptions* options);

// One option: the commands it belongs to (none: every command), how the
// usage line and the usage's explanations show it ("": not shown there),
// whether a value follows it, and what it sets. This one table drives the
// usage text, the check of what follows an option and the dispatch.
struct OptionRule {
  const char* name;
  std::optional<DevHostCommand> command;
  const char* synopsis;
  const char* label;
  const char* help;  // lines after the first are indented under it
  bool takes_value;
  Apply apply;
};

MaybeType<void> ApplyPort(const std::string& value, DevHostOptions* options) {
  uint32_t port = 0;
  if (!ParseNumber(value, &port) || port > 65535) return Failure(2, "Bad port '%1'", value);
  options->port = static_cast<int>(port);
  return {};
}

MaybeType<void> ApplyMaxBody(const std::string& value, DevHostOptions* options) {
  uint64_t bytes = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), bytes);
  if (value.empty() || error != std::errc() || end != value.data() + value.size() || bytes == 0 ||
      bytes > SIZE_MAX) {
    return Failure(2, "Bad --max-body '%1': a number of bytes from 1", value);
  }
  options->max_body = static_cast<size_t>(bytes);
  return {};
}

MaybeType<void> ApplyLog(const std::string& value, DevHostOptions* options) {
  static constexpr std::pair<const char*, LogFilter> kFilters[] = {{"none", LogFilter::kNone},
                                                                   {"error", LogFilter::kError},
                                                                   {"warn", LogFilter::kWarn},
                                                                   {"all", LogFilter::kAll}};
  for (const auto& [name, filter] : kFilters) {
    if (value == name) {
      options->log = filter;
      return {};
    }
  }
  return Failure(2, "Bad --log '%1': none, error, warn or all", value);
}

MaybeType<void> AddPair(const char* option, const std::string& value,
                        std::vector<std::pair<std::string, std::string>>* pairs) {
  MaybeType<std::pair<std::string, std::string>> pair = SplitPair(option, value);
  if (pair.is_failure()) return pair.failure();
  pairs->push_back(pair.TakeValue());
  return {};
}

constexpr auto kServe = DevHostCommand::kServe;
constexpr auto kCall = DevHostCommand::kCall;
constexpr auto kDescribe = DevHostCommand::kDescribe;
const OptionRule kOptions[] = {
    {"--bind", kServe, "[--bind 127.0.0.1]", "", "", true,
     [](const std::string& value, DevHostOptions* options) -> MaybeType<void> {
       options->bind_address = value;
       return {};
     }},
    {"--port", kServe, "[--port 8080]", "", "", true, &ApplyPort},
    {"--max-body", kServe, "[--max-body BYTES]", "--max-body BYTES",
     "larger request bodies get 413 (default 67108864, 64 MiB)", true, &ApplyMaxBody},
    {"--log", kServe, "[--log none|error|warn|all]", "--log LEVEL",
     "plugin log lines printed: none, error, warn (default:\n"
     "warnings and errors) or all (with per-call progress)",
     true, &ApplyLog},
    {"--allow-host", kServe, "[--allow-host NAME]...", "--allow-host NAME",
     "also answer requests sent to NAME (as their Host); on a\n"
     "loopback address only this machine's names are answered",
     true,
     [](const std::string& value, DevHostOptions* options) -> MaybeType<void> {
       options->allowed_hosts.push_back(value);
       return {};
     }},
    {"--watch", kServe, "[--watch]", "--watch",
     "reload the plugin when its library file changes (after\n"
     "it stays unchanged for 300 ms)",
     false,
     [](const std::string&, DevHostOptions* options) -> MaybeType<void> {
       options->watch = true;
       return {};
     }},
    {"--body", kCall, "[--body TEXT|@FILE]", "--body TEXT|@FILE",
     "the body, or the bytes of FILE (JSON by default)", true,
     [](const std::string& value, DevHostOptions* options) -> MaybeType<void> {
       options->body = value;
       return {};
     }},
    {"--content-type", kCall, "[--content-type TYPE]", "--content-type TYPE",
     "the body's type (application/json, application/x-yaml,\napplication/x-msgpack)", true,
     [](const std::string& value, DevHostOptions* options) -> MaybeType<void> {
       options->content_type = value;
       return {};
     }},
    {"--arg", kCall, "[--arg NAME=JSON]...", "--arg NAME=JSON", "an argument outside the body",
     true,
     [](const std::string& value, DevHostOptions* options) {
       return AddPair("--arg", value, &options->arguments);
     }},
    {"--header", kCall, "[--header NAME=VALUE]...", "--header NAME=VALUE", "a request header", true,
     [](const std::string& value, DevHostOptions* options) {
       return AddPair("--header", value, &options->headers);
     }},
    {"--verbose", kCall, "[--verbose]", "--verbose", "first print what the plugin did meanwhile",
     false,
     [](const std::string&, DevHostOptions* options) -> MaybeType<void> {
       options->verbose = true;
       return {};
     }},
    {"--json", kDescribe, "[--json | --openapi]", "", "", false,
     [](const std::string&, DevHostOptions* options) -> MaybeType<void> {
       options->format = DescribeFormat::kJson;
       return {};
     }},
    {"--openapi", kDescribe, "", "", "", false,
     [](const std::string&, DevHostOptions* options) -> MaybeType<void> {
       options->format = DescribeFormat::kOpenApi;
       return {};
     }},
    {"--plugin", std::nullopt, "", "", "", true,
     [](const std::string& value, DevHostOptions* options) -> MaybeType<void> {
       options->plugin_path = value;
       return {};
     }},
    {"--roster", std::nullopt, "", "", "", true,
     [](const std::string& value, DevHostOptions* options) -> MaybeType<void> {
       options->roster_path = value;
       return {};
     }},
    {"--host-api", std::nullopt, "", "", "", true,
     [](const std::string& value, DevHostOptions* options) -> MaybeType<void> {
       if (!ParseVersion(value, options)) return Failure(2, "Bad version '%1'", value);
       return {};
     }},
};

const OptionRule* FindOption(const std::string& name, DevHostCommand command) {
  for (const OptionRule& rule : kOptions) {
    if (name == rule.name && (!rule.command.has_value() || *rule.command == command)) return &rule;
  }
  return nullptr;
}

// "vyn-devhost <command> <operands> <synopses>", wrapped under the first
// operand after `indent` columns.
std::string SynopsisLine(const CommandRule& command, size_t indent) {
  constexpr size_t kWidth = 88;
  std::string line = std::string("vyn-devhost ") + command.name + command.operands;
  const size_t hang = indent + std::strlen("vyn-devhost ") + std::strlen(command.name) + 1;
  size_t column = indent + line.size();
  for (const OptionRule& rule : kOptions) {
    if (rule.command != command.command || rule.synopsis[0] == '\0') continue;
    const size_t width = std::strlen(rule.synopsis);
    if (column + 1 + width > kWidth) {
      line += "\n" + std::string(hang, ' ') + rule.synopsis;
      column = hang + width;
    } else {
      line += std::string(" ") + rule.synopsis;
      column += 1 + width;
    }
  }
  return line + "\n";
}

// The explanations of the command's options, one column.
std::string OptionHelp(DevHostCommand command) {
  constexpr size_t kColumn = 25;
  std::string text;
  for (const OptionRule& rule : kOptions) {
    if (rule.command != command || rule.help[0] == '\0') continue;
    std::string label = std::string("  ") + rule.label;
    label.resize(std::max(kColumn, label.size() + 1), ' ');
    std::string help = rule.help;
    for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1)) {
      help.insert(at + 1, kColumn, ' ');
    }
    text += label + help + "\n";
  }
  return text;
}

}  // namespace

std::string UsageText(DevHostCommand topic) {
  static constexpr char kCommon[] =
      "Every command also takes --plugin PATH (the plugin library), --roster FILE (who the\n"
      "simulated server knows and how peers fail; see the README), --host-api X.Y.Z (the\n"
      "plugin API version the host announces, 18.0.0 by default) and --help.\n";
  for (const CommandRule& command : kCommands) {
    if (command.command != topic) continue;
    return "Usage: " + SynopsisLine(command, 7) + command.summary + OptionHelp(topic) + kCommon;
  }
  std::string text = "Usage:\n";
  for (const CommandRule& command : kCommands) text += "  " + SynopsisLine(command, 2);
  return text + "  vyn-devhost COMMAND --help\n" + kCommon;
}

MaybeType<DevHostOptions> ParseCommandLine(const std::vector<std::string>& words,
                                           const std::string& default_plugin) {
  DevHostOptions options;
  options.plugin_path = default_plugin;
  if (words.empty()) return Failure(2, "No command given");
  const std::string& command = words[0];
  const bool asks_help = command == "help" || command == "--help" || command == "-h";
  const CommandRule* rule = FindCommand(command);
  if (rule == nullptr && !asks_help) return Failure(2, "Unknown command '%1'", command);
  for (size_t i = 1; i < words.size(); ++i) {
    if (words[i] != "--help" && words[i] != "-h") continue;
    if (rule != nullptr) options.help_topic = rule->command;
    return options;
  }
  if (asks_help) return options;
  options.command = rule->command;
  size_t next = 1;
  if (options.command == DevHostCommand::kCall) {
    if (words.size() < 3) return Failure(2, "call needs METHOD and PATH");
    options.method = static_cast<uint32_t>(HttpMethodFromText(words[1]));
    if (options.method == kMethodNone) return Failure(2, "Unknown method '%1'", words[1]);
    options.path = words[2];
    if (options.path.empty() || options.path[0] != '/') {
      return Failure(2, "The path must begin with '/': '%1'", words[2]);
    }
    next = 3;
  }
  if (options.command == DevHostCommand::kReplay) {
    if (words.size() < 2 || words[1].rfind("--", 0) == 0) {
      return Failure(2, "replay needs SESSION.har");
    }
    options.session_path = words[1];
    next = 2;
  }
  for (size_t i = next; i < words.size(); ++i) {
    const std::string& word = words[i];
    const OptionRule* option = FindOption(word, options.command);
    if (option == nullptr) return Failure(2, "Unknown option '%1' for %2", word, command);
    if (option->takes_value && i + 1 >= words.size()) return Failure(2, "%1 needs a value", word);
    MaybeType<void> applied =
        option->apply(option->takes_value ? words[++i] : std::string(), &options);
    if (applied.is_failure()) return applied.failure();
  }
  if (options.plugin_path.empty()) return Failure(2, "No plugin library given (--plugin PATH)");
  return options;
}

MaybeType<std::string> ResolveBody(const std::string& value) {
  if (value.empty() || value[0] != '@') return value;
  std::string path = value.substr(1);
  std::ifstream file(path, std::ios::binary);
  if (!file) return Failure(2, "Cannot read body file '%1'", path);
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return Failure(2, "Cannot read body file '%1'", path);
  return text.str();
}

}  // namespace Kestrel::DevHost
