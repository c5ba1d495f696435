#include "devhost/command_line.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "devhost/core_host.h"

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

const char* UsageText() {
  return "Usage:\n"
         "  vyn-devhost serve [--bind 127.0.0.1] [--port 8080] [--roster FILE] [--plugin PATH]\n"
         "  vyn-devhost call METHOD PATH [--body TEXT|@FILE] [--content-type TYPE]\n"
         "                   [--arg NAME=JSON]... [--header NAME=VALUE]... [--verbose]\n"
         "  vyn-devhost describe [--json | --openapi]\n"
         "Every command also takes --plugin PATH, --roster FILE and --host-api X.Y.Z\n"
         "(the plugin API version the host announces, 18.0.0 by default).\n";
}

MaybeType<DevHostOptions> ParseCommandLine(const std::vector<std::string>& words,
                                           const std::string& default_plugin) {
  DevHostOptions options;
  options.plugin_path = default_plugin;
  if (words.empty()) return Failure(2, "No command given");
  const std::string& command = words[0];
  size_t next = 1;
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
    bool takes_value = word == "--plugin" || word == "--roster" || word == "--host-api" ||
                       (is_serve && (word == "--bind" || word == "--port")) ||
                       (is_call && (word == "--body" || word == "--content-type" ||
                                    word == "--arg" || word == "--header"));
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
