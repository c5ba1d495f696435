#include "devhost/command_line.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "devhost/core_host.h"
#include "platform/process_info.h"

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

}  // namespace

std::string UsageText(DevHostCommand topic) {
  static constexpr char kCommon[] =
      "Every command also takes --plugin PATH (the plugin library), --roster FILE (who the\n"
      "simulated server knows and how peers fail; see the README), --host-api X.Y.Z (the\n"
      "plugin API version the host announces, 18.0.0 by default) and --help.\n";
  switch (topic) {
    case DevHostCommand::kServe:
      return std::string(
                 "Usage: vyn-devhost serve [--bind 127.0.0.1] [--port 8080] [--max-body BYTES]\n"
                 "                         [--log none|error|warn|all]\n"
                 "Serves the plugin over HTTP until Ctrl-C. --port 0 picks a free port.\n"
                 "  --max-body BYTES  larger request bodies get 413 (default 67108864, 64 MiB)\n"
                 "  --log LEVEL       plugin log lines printed: none, error, warn (default:\n"
                 "                    warnings and errors) or all (with per-call progress)\n") +
             kCommon;
    case DevHostCommand::kCall:
      return std::string(
                 "Usage: vyn-devhost call METHOD PATH [--body TEXT|@FILE] [--content-type TYPE]\n"
                 "                        [--arg NAME=JSON]... [--header NAME=VALUE]... "
                 "[--verbose]\n"
                 "Makes one call and prints its status and answer.\n"
                 "  --body TEXT|@FILE      the body, or the bytes of FILE (JSON by default)\n"
                 "  --content-type TYPE    the body's type (application/json, "
                 "application/x-yaml,\n"
                 "                         application/x-msgpack)\n"
                 "  --arg NAME=JSON        an argument outside the body\n"
                 "  --header NAME=VALUE    a request header\n"
                 "  --verbose              first print what the plugin did meanwhile\n") +
             kCommon;
    case DevHostCommand::kDescribe:
      return std::string(
                 "Usage: vyn-devhost describe [--json | --openapi]\n"
                 "Prints the plugin's API: as text, as JSON, or as an OpenAPI document.\n") +
             kCommon;
    case DevHostCommand::kHelp:
      break;
  }
  return std::string(
             "Usage:\n"
             "  vyn-devhost serve [--bind 127.0.0.1] [--port 8080] [--max-body BYTES]\n"
             "                    [--log none|error|warn|all]\n"
             "  vyn-devhost call METHOD PATH [--body TEXT|@FILE] [--content-type TYPE]\n"
             "                   [--arg NAME=JSON]... [--header NAME=VALUE]... [--verbose]\n"
             "  vyn-devhost describe [--json | --openapi]\n"
             "  vyn-devhost COMMAND --help\n") +
         kCommon;
}

std::string BesideProgramOr(const std::string& name, const std::string& built_path) {
  const std::string program = Platform::ExecutablePath();
  if (program.empty()) return built_path;
  const std::filesystem::path beside = std::filesystem::path(program).parent_path() / name;
  std::error_code error;
  return std::filesystem::exists(beside, error) ? beside.string() : built_path;
}

MaybeType<DevHostOptions> ParseCommandLine(const std::vector<std::string>& words,
                                           const std::string& default_plugin) {
  DevHostOptions options;
  options.plugin_path = default_plugin;
  if (words.empty()) return Failure(2, "No command given");
  const std::string& command = words[0];
  size_t next = 1;
  for (size_t i = 1; i < words.size(); ++i) {
    if (words[i] != "--help" && words[i] != "-h") continue;
    options.command = DevHostCommand::kHelp;
    if (command == "serve") {
      options.help_topic = DevHostCommand::kServe;
    } else if (command == "call") {
      options.help_topic = DevHostCommand::kCall;
    } else if (command == "describe") {
      options.help_topic = DevHostCommand::kDescribe;
    } else if (command != "help" && command != "--help" && command != "-h") {
      return Failure(2, "Unknown command '%1'", command);
    }
    return options;
  }
  if (command == "serve") {
    options.command = DevHostCommand::kServe;
  } else if (command == "describe") {
    options.command = DevHostCommand::kDescribe;
  } else if (command == "call") {
    options.command = DevHostCommand::kCall;
    if (words.size() < 3) return Failure(2, "call needs METHOD and PATH");
    options.method = static_cast<uint32_t>(HttpMethodFromText(words[1]));
    if (options.method == kMethodNone) return Failure(2, "Unknown method '%1'", words[1]);
    options.path = words[2];
    if (options.path.empty() || options.path[0] != '/') {
      return Failure(2, "The path must begin with '/': '%1'", words[2]);
    }
    next = 3;
  } else if (command == "help" || command == "--help" || command == "-h") {
    options.command = DevHostCommand::kHelp;
    return options;
  } else {
    return Failure(2, "Unknown command '%1'", command);
  }

  for (size_t i = next; i < words.size(); ++i) {
    const std::string& word = words[i];
    bool is_call = options.command == DevHostCommand::kCall;
    bool is_serve = options.command == DevHostCommand::kServe;
    bool is_describe = options.command == DevHostCommand::kDescribe;
    // Options without a value.
    if (word == "--verbose" && is_call) {
      options.verbose = true;
      continue;
    }
    if ((word == "--json" || word == "--openapi") && is_describe) {
      options.format = word == "--json" ? DescribeFormat::kJson : DescribeFormat::kOpenApi;
      continue;
    }
    bool takes_value =
        word == "--plugin" || word == "--roster" || word == "--host-api" ||
        (is_serve &&
         (word == "--bind" || word == "--port" || word == "--max-body" || word == "--log")) ||
        (is_call &&
         (word == "--body" || word == "--content-type" || word == "--arg" || word == "--header"));
    if (!takes_value) return Failure(2, "Unknown option '%1' for %2", word, command);
    if (i + 1 >= words.size()) return Failure(2, "%1 needs a value", word);
    const std::string& value = words[++i];
    if (word == "--plugin") {
      options.plugin_path = value;
    } else if (word == "--roster") {
      options.roster_path = value;
    } else if (word == "--host-api") {
      if (!ParseVersion(value, &options)) return Failure(2, "Bad version '%1'", value);
    } else if (word == "--bind") {
      options.bind_address = value;
    } else if (word == "--port") {
      uint32_t port = 0;
      if (!ParseNumber(value, &port) || port > 65535) return Failure(2, "Bad port '%1'", value);
      options.port = static_cast<int>(port);
    } else if (word == "--max-body") {
      uint64_t bytes = 0;
      auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), bytes);
      if (value.empty() || error != std::errc() || end != value.data() + value.size() ||
          bytes == 0 || bytes > SIZE_MAX) {
        return Failure(2, "Bad --max-body '%1': a number of bytes from 1", value);
      }
      options.max_body = static_cast<size_t>(bytes);
    } else if (word == "--log") {
      if (value == "none") {
        options.log = LogFilter::kNone;
      } else if (value == "error") {
        options.log = LogFilter::kError;
      } else if (value == "warn") {
        options.log = LogFilter::kWarn;
      } else if (value == "all") {
        options.log = LogFilter::kAll;
      } else {
        return Failure(2, "Bad --log '%1': none, error, warn or all", value);
      }
    } else if (word == "--body") {
      options.body = value;
    } else if (word == "--content-type") {
      options.content_type = value;
    } else {
      MaybeType<std::pair<std::string, std::string>> pair = SplitPair(word, value);
      if (pair.is_failure()) return pair.failure();
      (word == "--arg" ? options.arguments : options.headers).push_back(pair.TakeValue());
    }
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
