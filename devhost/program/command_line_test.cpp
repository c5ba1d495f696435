#include "devhost/program/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "devhost/host/core_host.h"

namespace Kestrel::DevHost {
namespace {

TEST(CommandLineTest, ParsesEachCommandWithItsOptions) {
  MaybeType<DevHostOptions> serve = ParseCommandLine(
      {"serve", "--bind", "0.0.0.0", "--port", "0", "--roster", "r.json", "--plugin", "/p.so",
       "--allow-host", "devbox", "--allow-host", "devbox.lan"},
      "/default.so");
  ASSERT_TRUE(serve.has_value()) << serve.ToText();
  EXPECT_EQ(serve.value().command, DevHostCommand::kServe);
  EXPECT_EQ(serve.value().bind_address, "0.0.0.0");
  EXPECT_EQ(serve.value().port, 0);
  EXPECT_EQ(serve.value().roster_path, "r.json");
  EXPECT_EQ(serve.value().plugin_path, "/p.so");
  EXPECT_EQ(serve.value().allowed_hosts, (std::vector<std::string>{"devbox", "devbox.lan"}));

  MaybeType<DevHostOptions> call =
      ParseCommandLine({"call", "POST", "/a/b?x=1", "--body", "@f.json", "--content-type",
                        "application/x-yaml", "--arg", "name=[1,2]", "--arg", "b=x=y", "--header",
                        "Accept=text/plain", "--verbose", "--host-api", "18.7.3"},
                       "/default.so");
  ASSERT_TRUE(call.has_value()) << call.ToText();
  const DevHostOptions& options = call.value();
  EXPECT_EQ(options.command, DevHostCommand::kCall);
  EXPECT_EQ(options.method, kMethodPost);
  EXPECT_EQ(options.path, "/a/b?x=1");
  EXPECT_EQ(options.body, "@f.json");
  EXPECT_EQ(options.content_type, "application/x-yaml");
  ASSERT_EQ(options.arguments.size(), 2u);
  EXPECT_EQ(options.arguments[1], (std::pair<std::string, std::string>{"b", "x=y"}));
  EXPECT_EQ(options.headers[0], (std::pair<std::string, std::string>{"Accept", "text/plain"}));
  EXPECT_TRUE(options.verbose);
  EXPECT_EQ(options.api_major, 18u);
  EXPECT_EQ(options.api_minor, 7u);
  EXPECT_EQ(options.api_patch, 3u);
  EXPECT_EQ(options.plugin_path, "/default.so");
  EXPECT_EQ(options.port, 8080);  // defaults stay

  MaybeType<DevHostOptions> describe = ParseCommandLine({"describe", "--openapi"}, "/d.so");
  ASSERT_TRUE(describe.has_value());
  EXPECT_EQ(describe.value().format, DescribeFormat::kOpenApi);
  EXPECT_EQ(ParseCommandLine({"describe"}, "/d.so").value().format, DescribeFormat::kText);
  EXPECT_EQ(ParseCommandLine({"--help"}, "").value().command, DevHostCommand::kHelp);

  MaybeType<DevHostOptions> replay =
      ParseCommandLine({"replay", "s.har", "--plugin", "/p.so"}, "/d.so");
  ASSERT_TRUE(replay.has_value()) << replay.ToText();
  EXPECT_EQ(replay.value().command, DevHostCommand::kReplay);
  EXPECT_EQ(replay.value().session_path, "s.har");
  EXPECT_EQ(replay.value().plugin_path, "/p.so");
}

TEST(CommandLineTest, UsageErrorsNameTheWord) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "No command given"},
      {{"launch"}, "Unknown command 'launch'"},
      {{"call", "GET"}, "call needs METHOD and PATH"},
      {{"call", "get", "/x"}, "Unknown method 'get'"},
      {{"call", "GET", "x"}, "The path must begin with '/': 'x'"},
      {{"serve", "--port", "65536"}, "Bad port '65536'"},
      {{"serve", "--port", "80a"}, "Bad port '80a'"},
      {{"serve", "--port"}, "--port needs a value"},
      {{"serve", "--verbose"}, "Unknown option '--verbose' for serve"},
      {{"describe", "--body", "x"}, "Unknown option '--body' for describe"},
      {{"call", "GET", "/x", "--arg", "=1"}, "--arg needs NAME=VALUE, got '=1'"},
      {{"call", "GET", "/x", "--header", "Accept"}, "--header needs NAME=VALUE, got 'Accept'"},
      {{"describe", "--host-api", "18.0"}, "Bad version '18.0'"},
      {{"replay"}, "replay needs SESSION.har"},
      {{"replay", "--plugin", "/p.so"}, "replay needs SESSION.har"},
  };
  for (const auto& [words, message] : cases) {
    MaybeType<DevHostOptions> options = ParseCommandLine(words, "/d.so");
    ASSERT_TRUE(options.is_failure()) << message;
    EXPECT_STREQ(options.failure().message(), message);
  }
  EXPECT_STREQ(ParseCommandLine({"describe"}, "").failure().message(),
               "No plugin library given (--plugin PATH)");
}

TEST(CommandLineTest, HelpForTheProgramAndEachCommand) {
  const std::pair<std::vector<std::string>, DevHostCommand> cases[] = {
      {{"--help"}, DevHostCommand::kHelp},
      {{"serve", "--help"}, DevHostCommand::kServe},
      {{"call", "-h"}, DevHostCommand::kCall},
      {{"describe", "--json", "--help"}, DevHostCommand::kDescribe},
  };
  for (const auto& [words, topic] : cases) {
    MaybeType<DevHostOptions> options = ParseCommandLine(words, "/default.so");
    ASSERT_TRUE(options.has_value()) << words[0] << ": " << options.ToText();
    EXPECT_EQ(options.value().command, DevHostCommand::kHelp);
    EXPECT_EQ(options.value().help_topic, topic);
  }
  EXPECT_NE(UsageText(DevHostCommand::kServe).find("--log LEVEL"), std::string::npos);
  EXPECT_NE(UsageText(DevHostCommand::kCall).find("--verbose"), std::string::npos);
  EXPECT_STREQ(ParseCommandLine({"fetch", "--help"}, "/d.so").failure().message(),
               "Unknown command 'fetch'");
}

TEST(CommandLineTest, ServeTakesALogFilterABodyLimitAndWatch) {
  MaybeType<DevHostOptions> serve =
      ParseCommandLine({"serve", "--log", "all", "--max-body", "1024", "--watch"}, "/d.so");
  ASSERT_TRUE(serve.has_value()) << serve.ToText();
  EXPECT_EQ(serve.value().log, LogFilter::kAll);
  EXPECT_EQ(serve.value().max_body, 1024u);
  EXPECT_TRUE(serve.value().watch);
  EXPECT_EQ(ParseCommandLine({"serve"}, "/d.so").value().log, LogFilter::kWarn);
  EXPECT_FALSE(ParseCommandLine({"serve"}, "/d.so").value().watch);
  EXPECT_FALSE(ParseCommandLine({"call", "GET", "/x", "--watch"}, "/d.so").has_value());
  EXPECT_STREQ(ParseCommandLine({"serve", "--log", "loud"}, "/d.so").failure().message(),
               "Bad --log 'loud': none, error, warn or all");
  EXPECT_STREQ(ParseCommandLine({"serve", "--max-body", "0"}, "/d.so").failure().message(),
               "Bad --max-body '0': a number of bytes from 1");
  EXPECT_FALSE(ParseCommandLine({"call", "GET", "/x", "--log", "all"}, "/d.so").has_value());
}

TEST(CommandLineTest, BodiesComeFromTextOrFile) {
  EXPECT_EQ(ResolveBody("[1]").value(), "[1]");
  EXPECT_EQ(ResolveBody("").value(), "");
  std::string path = ::testing::TempDir() + "command_line_body.bin";
  {
    std::ofstream file(path, std::ios::binary);
    file << std::string(
        "\x92\xA1"
        "a\x00",
        4);
  }
  MaybeType<std::string> body = ResolveBody("@" + path);
  ASSERT_TRUE(body.has_value());
  EXPECT_EQ(body.value(), std::string("\x92\xA1"
                                      "a\x00",
                                      4));  // bytes kept, NUL included
  std::remove(path.c_str());
  MaybeType<std::string> missing = ResolveBody("@/nonexistent/body.json");
  ASSERT_TRUE(missing.is_failure());
  EXPECT_STREQ(missing.failure().message(), "Cannot read body file '/nonexistent/body.json'");
}

}  // namespace
}  // namespace Kestrel::DevHost
