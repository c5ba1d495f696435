#include "remoting/route.h"

#include <gtest/gtest.h>

#include <iterator>

#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/path_template_cases.h"

namespace Kestrel {
namespace {

// Stand-ins for registry records: only their addresses matter here.
const FunctionRecord* const kFirstFunction = reinterpret_cast<const FunctionRecord*>(0x1000);
const FunctionRecord* const kSecondFunction = reinterpret_cast<const FunctionRecord*>(0x2000);

FunctionRoute MakeRoute(std::string_view path, HttpMethod method = HttpMethod::kNone,
                        const FunctionRecord* function = kFirstFunction) {
  FunctionRoute route(function, FunctionNameFromRoute(method, path), nullptr);
  route.SetMethod(method);
  route.SetPath(path);
  return route;
}

// The state views `path` and `method_name`: pass texts that outlive it.
MatchState MakeState(std::string_view path, HttpMethod method = HttpMethod::kNone,
                     std::string_view method_name = "") {
  MatchState state;
  state.path = path;
  state.method = method;
  state.method_name = method_name;
  return state;
}

// Matches `path` against `path_template` alone; returns the parameters, or
// nothing when the path does not match.
std::optional<PathParameters> Match(std::string_view path_template, std::string_view path) {
  FunctionRoute route = MakeRoute(path_template);
  const CompiledRoute compiled = CompileRoute(route);
  PathParameters parameters;
  if (!compiled.MatchPath(path, &parameters)) return std::nullopt;
  return parameters;
}

TEST(FunctionNameTest, BuildsCapitalisedNamesFromMethodAndPath) {
  EXPECT_EQ(FunctionNameFromRoute(HttpMethod::kPost, "/vyn-spectator/v1/spectate/launch"),
            "PostVynSpectatorV1SpectateLaunch");
  EXPECT_EQ(FunctionNameFromRoute(HttpMethod::kGet, "/items/{id}"), "GetItemsById");
  EXPECT_EQ(FunctionNameFromRoute(HttpMethod::kPut, "/a-b/c_d/{+rest}"), "PutABCDByRest");
  EXPECT_EQ(FunctionNameFromRoute(HttpMethod::kOptions, "/a.b!c"), "OptionsABC");
  // Characters after the first keep their case unless a separator precedes them.
  EXPECT_EQ(FunctionNameFromRoute(HttpMethod::kDelete, "/camelCase/x1y"), "DeleteCamelCaseX1y");
  // Without a method the name starts at the path.
  EXPECT_EQ(FunctionNameFromRoute(HttpMethod::kNone, "/a/b"), "AB");
  EXPECT_EQ(FunctionNameFromRoute(HttpMethod::kGet, ""), "Get");
}

TEST(FunctionRouteTest, SetPathDropsOneTrailingSlashAndSetMethodClearsTheName) {
  FunctionRoute route(nullptr, "F", nullptr);
  route.SetPath("/a/");
  EXPECT_EQ(route.path(), "/a");
  route.SetPath("/a//");
  EXPECT_EQ(route.path(), "/a/");
  route.SetPath("/");
  EXPECT_EQ(route.path(), "/");
  route.SetPath("");
  EXPECT_EQ(route.TemplateText(), "F");  // no template: the function's name

  route.SetCustomMethod("PURGE");
  EXPECT_EQ(route.method(), HttpMethod::kCustom);
  EXPECT_EQ(route.method_name(), "PURGE");
  route.SetMethod(HttpMethod::kGet);
  EXPECT_EQ(route.method_name(), "");

  EXPECT_EQ(route.LocationAt(3), ArgumentLocation::kAny);
  route.SetArgumentLocation(2, ArgumentLocation::kBody);
  ASSERT_EQ(route.argument_locations().size(), 3u);
  EXPECT_EQ(route.LocationAt(0), ArgumentLocation::kAny);
  EXPECT_EQ(route.LocationAt(2), ArgumentLocation::kBody);
  EXPECT_EQ(route.LocationAt(3), ArgumentLocation::kAny);
}

TEST(RouteTableTest, RegistersOnceKeepsAddressesAndIteratesByName) {
  RouteTable table;
  bool created = false;
  FunctionRoute& post = table.Register(kFirstFunction, "PostB", nullptr, &created);
  EXPECT_TRUE(created);
  post.SetPath("/b");
  FunctionRoute& get = table.Register(kSecondFunction, "GetA", nullptr, &created);
  EXPECT_TRUE(created);
  // Adding more routes must not move the ones handed out.
  for (int i = 0; i < 50; ++i) table.Register(nullptr, "Filler" + std::to_string(i), nullptr);

  FunctionRoute& again = table.Register(kSecondFunction, "PostB", nullptr, &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(&again, &post);
  EXPECT_EQ(again.path(), "/b");
  EXPECT_EQ(again.function(), kFirstFunction);  // the first registration stays

  EXPECT_EQ(table.Find("GetA"), &get);
  EXPECT_EQ(table.Find("Missing"), nullptr);
  ASSERT_EQ(table.size(), 52u);
  EXPECT_EQ(table.routes().begin()->first, "Filler0");
  EXPECT_EQ(std::prev(table.routes().end())->second.function_name(), "PostB");
  table.Clear();
  EXPECT_EQ(table.Find("GetA"), nullptr);
}

TEST(CompileRouteTest, RecordsParametersInOrderAndBuildsTheEquivalentPattern) {
  FunctionRoute route = MakeRoute("/a.b/{id}/{+rest}/x{#frag}(y)");
  const CompiledRoute compiled = CompileRoute(route);
  EXPECT_FALSE(compiled.is_literal());
  EXPECT_EQ(compiled.function(), kFirstFunction);
  EXPECT_EQ(compiled.route(), &route);
  ASSERT_EQ(compiled.parameters().size(), 3u);
  EXPECT_EQ(compiled.parameters()[0].kind, TemplateParameterKind::kSimple);
  EXPECT_EQ(compiled.parameters()[0].name, "id");
  EXPECT_EQ(compiled.parameters()[1].kind, TemplateParameterKind::kReserved);
  EXPECT_EQ(compiled.parameters()[1].name, "rest");
  EXPECT_EQ(compiled.parameters()[2].kind, TemplateParameterKind::kFragment);
  EXPECT_EQ(compiled.parameters()[2].name, "frag");
  EXPECT_EQ(compiled.PatternText(), R"(/a\.b/([^/]*)/(.*)/x#(.*)\(y\))");

  // Only the first character of a name selects the kind.
  // Compiled routes point at their route: keep the routes alive.
  const FunctionRoute odd_route = MakeRoute("/{++a}{b#}");
  const CompiledRoute odd = CompileRoute(odd_route);
  ASSERT_EQ(odd.parameters().size(), 2u);
  EXPECT_EQ(odd.parameters()[0].kind, TemplateParameterKind::kReserved);
  EXPECT_EQ(odd.parameters()[0].name, "+a");
  EXPECT_EQ(odd.parameters()[1].kind, TemplateParameterKind::kSimple);
  EXPECT_EQ(odd.parameters()[1].name, "b#");

  const FunctionRoute literal_route = MakeRoute("/plain.path");
  const CompiledRoute literal = CompileRoute(literal_route);
  EXPECT_TRUE(literal.is_literal());
  EXPECT_EQ(literal.literal_path(), "/plain.path");
  EXPECT_EQ(literal.PatternText(), "");
}

TEST(CompileRouteTest, UnbalancedBracesHaveAFixedMeaning) {
  // A stray '}' is dropped.
  EXPECT_TRUE(Match("/a}/{id}", "/a/1").has_value());
  // A '{' inside braces restarts the parameter.
  const auto restarted = Match("/{ab{cd}", "/1");
  ASSERT_TRUE(restarted.has_value());
  EXPECT_EQ(restarted->count("cd"), 1u);
  // A parameter left open is dropped; the rest is literal.
  EXPECT_TRUE(Match("/a/{open", "/a/").has_value());
  EXPECT_FALSE(Match("/a/{open", "/a/open").has_value());
}

TEST(MatchPathTest, LiteralRoutesCompareTheWholePathByteForByte) {
  EXPECT_TRUE(Match("/a", "/a").has_value());
  EXPECT_TRUE(Match("/a", "/a")->empty());
  EXPECT_FALSE(Match("/a", "/a?x=1").has_value());
  EXPECT_FALSE(Match("/a", "/A").has_value());
  EXPECT_FALSE(Match("/a", "/a/").has_value());
  EXPECT_FALSE(Match("/a/", "/a/").has_value());  // registered as '/a'
  EXPECT_TRUE(Match("/", "/").has_value());
}

TEST(MatchPathTest, ParameterKindsTakeTheirCharactersAndValuesAreDecoded) {
  EXPECT_EQ(Match("/items/{id}", "/items/5")->at("id"), "5");
  EXPECT_EQ(Match("/items/{id}", "/items/5?x=1")->at("id"), "5?x=1");
  EXPECT_EQ(Match("/items/{id}", "/items/")->at("id"), "");
  EXPECT_FALSE(Match("/items/{id}", "/items/5/6").has_value());
  EXPECT_FALSE(Match("/items/{id}", "/items").has_value());
  EXPECT_EQ(Match("/files/{+path}", "/files/a/b")->at("path"), "a/b");
  EXPECT_EQ(Match("/x/{#frag}", "/x/#top/sub")->at("frag"), "top/sub");
  EXPECT_FALSE(Match("/x/{#frag}", "/x/top").has_value());
  EXPECT_FALSE(Match("/a.b/{id}", "/axb/1").has_value());
  EXPECT_EQ(Match("/a.b/{id}", "/a.b/1")->at("id"), "1");
  // Decoding happens after matching: an encoded '/' stays inside a simple value.
  EXPECT_EQ(Match("/items/{id}", "/items/a%2Fb+c")->at("id"), "a/b c");
  // A name used twice keeps the later value.
  EXPECT_EQ(Match("/{x}/{x}", "/1/2")->at("x"), "2");
  // Reserved and fragment values stop at line breaks, simple ones do not.
  EXPECT_FALSE(Match("/f/{+p}", "/f/a\nb").has_value());
  EXPECT_FALSE(Match("/f/{#p}", "/f/#a\rb").has_value());
  EXPECT_EQ(Match("/f/{p}", "/f/a\nb")->at("p"), "a\nb");
}

TEST(MatchPathTest, EarlierParametersTakeAsMuchAsTheRestAllows) {
  const auto dashes = Match("/{a}-{b}", "/x-y-z");
  ASSERT_TRUE(dashes.has_value());
  EXPECT_EQ(dashes->at("a"), "x-y");
  EXPECT_EQ(dashes->at("b"), "z");
  const auto slashes = Match("/{+a}/{b}", "/p/q/r");
  ASSERT_TRUE(slashes.has_value());
  EXPECT_EQ(slashes->at("a"), "p/q");
  EXPECT_EQ(slashes->at("b"), "r");
  const auto both = Match("/{+a}{+b}", "/pq");
  ASSERT_TRUE(both.has_value());
  EXPECT_EQ(both->at("a"), "pq");
  EXPECT_EQ(both->at("b"), "");
}

// The cases the stand-in host's matcher (`PathMatchesTemplate`) is held to.
TEST(MatchPathTest, AgreesWithTheSharedTableOfTemplateCases) {
  for (const Testing::PathTemplateCase& c : Testing::kPathTemplateCases) {
    FunctionRoute route(nullptr, "F", nullptr);
    const CompiledRoute compiled = CompileRoute(nullptr, route, c.path_template);
    std::vector<std::string_view> captures;
    EXPECT_EQ(compiled.MatchCaptures(c.path, &captures), c.matches)
        << "template '" << c.path_template << "' path '" << c.path << "'";
  }
}

// The matcher must give exactly what an ECMAScript full match of the
// equivalent pattern gives. Short random templates and paths over a small
// alphabet reach the awkward splits (empty values, repeated separators,
// backtracking over several parameters).
TEST(MatchPathTest, AgreesWithTheEquivalentRegularExpression) {
  std::mt19937 random(20240611);
  const char* const kPieces[] = {"/", "a", "b", ".", "-", "{p}", "{+r}", "{#f}"};
  const char kPathChars[] = {'/', 'a', 'b', '.', '-', '#', '\n'};
  int matches = 0;
  for (int round = 0; round < 400; ++round) {
    std::string path_template;
    const int pieces = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < pieces; ++i) path_template += kPieces[random() % std::size(kPieces)];
    FunctionRoute route(nullptr, "F", nullptr);
    route.SetPath(path_template);
    const CompiledRoute compiled = CompileRoute(nullptr, route, path_template);
    if (compiled.is_literal()) continue;
    const std::regex expression(compiled.PatternText(),
                                std::regex::ECMAScript | std::regex::optimize);
    for (int sample = 0; sample < 25; ++sample) {
      std::string path;
      const int length = static_cast<int>(random() % 9);
      for (int i = 0; i < length; ++i) path += kPathChars[random() % std::size(kPathChars)];
      std::smatch expected;
      const bool expected_match = std::regex_match(path, expected, expression);
      std::vector<std::string_view> captures;
      const bool match = compiled.MatchCaptures(path, &captures);
      ASSERT_EQ(match, expected_match)
          << "template '" << path_template << "' path '" << path << "'";
      if (!match) continue;
      ++matches;
      ASSERT_EQ(captures.size() + 1, expected.size());
      for (std::size_t i = 0; i < captures.size(); ++i) {
        EXPECT_EQ(captures[i], expected[i + 1].str())
            << "template '" << path_template << "' path '" << path << "' group " << i + 1;
      }
    }
  }
  EXPECT_GT(matches, 50);  // the samples must exercise successful splits too
}

// Request paths come from outside; a path of megabytes must be matched or
// refused without exhausting the stack.
TEST(MatchPathTest, MegabytePathsAreMatchedWithoutRecursion) {
  const std::string long_value(5 * 1024 * 1024, 'a');
  const auto simple = Match("/items/{id}", "/items/" + long_value);
  ASSERT_TRUE(simple.has_value());
  EXPECT_EQ(simple->at("id").size(), long_value.size());

  std::string with_slash = "/items/" + long_value;
  with_slash[with_slash.size() / 2] = '/';
  EXPECT_FALSE(Match("/items/{id}", with_slash).has_value());

  std::string nested = "/files/" + long_value;
  for (std::size_t i = 7; i < nested.size(); i += 1000) nested[i] = '/';
  const auto reserved = Match("/files/{+path}/{name}", nested + "/last");
  ASSERT_TRUE(reserved.has_value());
  EXPECT_EQ(reserved->at("path").size(), nested.size() - 7);
  EXPECT_EQ(reserved->at("name"), "last");

  EXPECT_FALSE(Match("/files/{+path}/end", nested).has_value());
}

TEST(MatchRoutesTest, MethodZeroAcceptsEveryMethodAndNamesMustBeIdentical) {
  FunctionRoute any = MakeRoute("/a");
  FunctionRoute get = MakeRoute("/a", HttpMethod::kGet);
  FunctionRoute purge = MakeRoute("/a", HttpMethod::kCustom);
  purge.SetCustomMethod("PURGE");

  auto matches = [](const FunctionRoute& route, HttpMethod method, std::string_view name) {
    const std::vector<CompiledRoute> routes{CompileRoute(route)};
    MatchState state = MakeState("/a", method, name);
    return MatchRoutes(state, routes);
  };
  EXPECT_TRUE(matches(any, HttpMethod::kPost, ""));
  EXPECT_TRUE(matches(any, HttpMethod::kCustom, "whatever"));
  EXPECT_TRUE(matches(get, HttpMethod::kGet, ""));
  EXPECT_FALSE(matches(get, HttpMethod::kPost, ""));
  EXPECT_FALSE(matches(get, HttpMethod::kGet, "GET"));  // names compared for every method
  EXPECT_TRUE(matches(purge, HttpMethod::kCustom, "PURGE"));
  EXPECT_FALSE(matches(purge, HttpMethod::kCustom, "purge"));
  EXPECT_FALSE(matches(purge, HttpMethod::kCustom, ""));
}

TEST(MatchRoutesTest, ShortestDecodedParametersWinAndTiesKeepTheEarlierRoute) {
  FunctionRoute wide = MakeRoute("/{+all}", HttpMethod::kNone, kFirstFunction);
  FunctionRoute narrow = MakeRoute("/x/{rest}", HttpMethod::kNone, kSecondFunction);
  const std::vector<CompiledRoute> routes{CompileRoute(wide), CompileRoute(narrow)};
  MatchState state = MakeState("/x/yz");
  ASSERT_TRUE(MatchRoutes(state, routes));
  EXPECT_EQ(state.route, &narrow);
  EXPECT_EQ(state.function, kSecondFunction);
  ASSERT_EQ(state.path_parameters.size(), 1u);  // the earlier route's values are gone
  EXPECT_EQ(state.path_parameters.at("rest"), "yz");

  // Lengths count decoded text: '%41%42' is six characters but two bytes,
  // so it beats the three of 'abc' that a later route would take.
  FunctionRoute encoded = MakeRoute("/{v}/abc", HttpMethod::kNone, kFirstFunction);
  FunctionRoute plain = MakeRoute("/%41%42/{w}", HttpMethod::kNone, kSecondFunction);
  const std::vector<CompiledRoute> decoded{CompileRoute(encoded), CompileRoute(plain)};
  MatchState decoded_state = MakeState("/%41%42/abc");
  ASSERT_TRUE(MatchRoutes(decoded_state, decoded));
  EXPECT_EQ(decoded_state.route, &encoded);
  EXPECT_EQ(decoded_state.path_parameters.at("v"), "AB");

  FunctionRoute first = MakeRoute("/{a}", HttpMethod::kNone, kFirstFunction);
  FunctionRoute second = MakeRoute("/{b}", HttpMethod::kNone, kSecondFunction);
  const std::vector<CompiledRoute> equal{CompileRoute(first), CompileRoute(second)};
  MatchState equal_state = MakeState("/q");
  ASSERT_TRUE(MatchRoutes(equal_state, equal));
  EXPECT_EQ(equal_state.route, &first);
}

TEST(MatchRoutesTest, ARouteWithoutParametersEndsTheSearch) {
  FunctionRoute literal = MakeRoute("/a/b", HttpMethod::kNone, kFirstFunction);
  FunctionRoute pattern = MakeRoute("/a/{x}b", HttpMethod::kNone, kSecondFunction);
  // A literal taken first ends the search before the pattern is tried.
  const std::vector<CompiledRoute> routes{CompileRoute(literal), CompileRoute(pattern)};
  MatchState state = MakeState("/a/b");
  ASSERT_TRUE(MatchRoutes(state, routes));
  EXPECT_EQ(state.route, &literal);
  EXPECT_TRUE(state.path_parameters.empty());

  // A pattern taken first with an empty value is not replaced: nothing is shorter.
  const std::vector<CompiledRoute> reversed{CompileRoute(pattern), CompileRoute(literal)};
  MatchState reversed_state = MakeState("/a/b");
  ASSERT_TRUE(MatchRoutes(reversed_state, reversed));
  EXPECT_EQ(reversed_state.route, &pattern);
  EXPECT_EQ(reversed_state.path_parameters.at("x"), "");
}

TEST(MatchRoutesTest, NoMatchLeavesTheStateAndFunctionsWithoutPathMatchTheirName) {
  FunctionRoute unnamed(kFirstFunction, "GetThings", nullptr);  // no path template
  const std::vector<CompiledRoute> routes{CompileRoute(unnamed)};
  MatchState miss = MakeState("/GetThings");
  EXPECT_FALSE(MatchRoutes(miss, routes));
  EXPECT_EQ(miss.route, nullptr);
  EXPECT_EQ(miss.function, nullptr);
  MatchState hit = MakeState("GetThings");
  ASSERT_TRUE(MatchRoutes(hit, routes));
  EXPECT_EQ(hit.function, kFirstFunction);
  MatchState empty_list = MakeState("GetThings");
  EXPECT_FALSE(MatchRoutes(empty_list, {}));
}

TEST(MatchRouteTest, OneRouteMatchesAsInAListOfOne) {
  FunctionRoute literal = MakeRoute("/a/b", HttpMethod::kGet);
  FunctionRoute pattern = MakeRoute("/a/{id}", HttpMethod::kGet);
  FunctionRoute unnamed(kSecondFunction, "GetThings", nullptr);  // matched by its name
  FunctionRoute purge = MakeRoute("/a/b");
  purge.SetCustomMethod("PURGE");
  const std::string_view paths[] = {"/a/b", "/a/b/", "/a/c", "/a/b?x=1", "GetThings", "/a"};
  const std::pair<HttpMethod, std::string_view> methods[] = {
      {HttpMethod::kGet, ""}, {HttpMethod::kPost, ""}, {HttpMethod::kCustom, "PURGE"}};
  for (const FunctionRoute* route : {&literal, &pattern, &unnamed, &purge}) {
    for (const std::string_view path : paths) {
      for (const auto& [method, name] : methods) {
        SCOPED_TRACE(std::string(route->TemplateText()) + " " + std::string(path));
        const std::vector<CompiledRoute> list{CompileRoute(*route)};
        MatchState expected = MakeState(path, method, name);
        MatchState state = MakeState(path, method, name);
        state.path_parameters["stale"] = "x";
        expected.path_parameters["stale"] = "x";
        const bool matched = MatchRoute(state, *route);
        ASSERT_EQ(matched, MatchRoutes(expected, list));
        if (matched) {
          EXPECT_EQ(state.path_parameters.count("stale"), 0u);
        }
        EXPECT_EQ(state.route, expected.route);
        EXPECT_EQ(state.function, expected.function);
        EXPECT_EQ(state.path_parameters, expected.path_parameters);
      }
    }
  }
}

TEST(UrlDecodeTest, DecodesPlusAndEscapesAndToleratesBadEscapes) {
  EXPECT_EQ(UrlDecode("%41"), "A");
  EXPECT_EQ(UrlDecode("a+b"), "a b");
  EXPECT_EQ(UrlDecode("%2b%2B"), "++");
  EXPECT_EQ(UrlDecode("100%"), "100");
  EXPECT_EQ(UrlDecode("%4"), "4");
  EXPECT_EQ(UrlDecode("x%4"), "x4");
  EXPECT_EQ(UrlDecode("%"), "");
  EXPECT_EQ(UrlDecode(""), "");
  // Non-hex digits count as 16: (16 << 4 | 16) keeps its low byte 0x10.
  EXPECT_EQ(UrlDecode("%zz"), std::string(1, '\x10'));
  EXPECT_EQ(UrlDecode("%4g"), std::string(1, '\x50'));  // 4 << 4 | 16
  EXPECT_EQ(UrlDecode("%00x"), std::string("\0x", 2));
  EXPECT_EQ(UrlDecode("%%41"),
            std::string("\x04") + "1");  // the second '%' is read as a digit (16)
  EXPECT_EQ(UrlDecode("%C3%A9"), "\xC3\xA9");
}

}  // namespace
}  // namespace Kestrel
