// Routes of exposed functions: the registration record, templates compiled to
// matchers, and the matching of a request path and method.
//
// A function may carry an HTTP method and a path template such as
// '/items/{id}'; the template grammar and how a path splits among parameters
// are `PathTemplate`'s (util/path_template.h). Parameter values are
// percent-decoded (`UrlDecode`).
//
// Ownership: the module owns its `FunctionRoute`s for its whole life. A
// `CompiledRoute` and a `MatchState` only point at the route, the registry's
// function record and the request's texts, and live for one call.
//
//   FunctionRoute route(record, "GetItemsById", handler);
//   route.SetMethod(HttpMethod::kGet);
//   route.SetPath("/items/{id}");
//   std::vector<CompiledRoute> routes{CompileRoute(route)};
//   MatchState state;
//   state.path = "/items/5";
//   state.method = HttpMethod::kGet;
//   if (MatchRoutes(state, routes)) { /* state.path_parameters["id"] == "5" */ }
#ifndef VYN_REMOTING_ROUTE_H_
#define VYN_REMOTING_ROUTE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host_abi/api_kinds.h"
#include "host_abi/http_method.h"
#include "util/path_template.h"

namespace Kestrel {

// The registry's record of a function (name, argument descriptors, registry).
struct FunctionRecord;
// The callable object of a function; binds native arguments and runs it.
class FunctionHandler;

// Path parameters of a matched route: parameter name to decoded value.
using PathParameters = std::unordered_map<std::string, std::string>;

// The transport's part of a registered function: its handler, path template,
// method and the locations of its arguments.
class FunctionRoute {
 public:
  // `function` may be null when the registry has no record (yet); the route
  // keeps the function's name either way. The handler is shared because its
  // deleter is fixed where the handler is made, so this layer needs no
  // complete handler type; it may be null.
  FunctionRoute(const FunctionRecord* function, std::string function_name,
                std::shared_ptr<FunctionHandler> handler);

  // The registry's record of the function; may be nullptr (see the constructor).
  const FunctionRecord* function() const { return function_; }
  const std::string& function_name() const { return function_name_; }
  // May be nullptr.
  FunctionHandler* handler() const { return handler_.get(); }
  // The path template; empty when the function has none.
  const std::string& path() const { return path_; }
  HttpMethod method() const { return method_; }
  // The name of a custom method (`HttpMethod::kCustom`); otherwise empty.
  const std::string& method_name() const { return method_name_; }
  const std::vector<ArgumentLocation>& argument_locations() const { return locations_; }

  // The text a request path is matched against: the path template, or the
  // function's name when there is no template.
  const std::string& TemplateText() const { return path_.empty() ? function_name_ : path_; }
  // Whether `TemplateText()` has no parameter ('{'), so that it is matched
  // as it is.
  bool has_literal_template() const { return literal_template_; }
  // Whether the handler takes the request record (`RemotingRequest` or
  // `HttpBaseTransport::Request`, by its request parameter type); false
  // without a handler.
  bool takes_request_record() const { return takes_request_record_; }

  // Returns the location of the argument at `position`; positions that were
  // never given one are `kAny`.
  ArgumentLocation LocationAt(std::size_t position) const;

  // Sets the path template; a text longer than one character loses one
  // trailing '/' ('/a/' becomes '/a', '/' stays '/').
  void SetPath(std::string_view path);
  // Sets the method and clears the custom method name.
  void SetMethod(HttpMethod method);
  // Sets the method to `kCustom` with the given name.
  void SetCustomMethod(std::string_view name);
  // Gives the argument at `position` a location, growing the list with `kAny`.
  void SetArgumentLocation(std::size_t position, ArgumentLocation location);

 private:
  const FunctionRecord* function_;
  std::string function_name_;
  std::shared_ptr<FunctionHandler> handler_;
  std::string path_;
  HttpMethod method_ = HttpMethod::kNone;
  std::string method_name_;
  std::vector<ArgumentLocation> locations_;
  // Properties of the template text and the handler, fixed when they are set.
  bool literal_template_;
  bool takes_request_record_;
};

// The module's routes by function name. Routes keep their addresses for the
// life of the table (function contexts given to the host point at them);
// iteration is in byte order of the names, the order in which the host is
// told about the functions.
class RouteTable {
 public:
  using Map = std::map<std::string, FunctionRoute, std::less<>>;

  // Returns the route of `function_name`, creating it with `function` and
  // `handler` when there is none; `*created` (may be nullptr) tells which. An
  // existing route is returned unchanged.
  FunctionRoute& Register(const FunctionRecord* function, std::string_view function_name,
                          std::shared_ptr<FunctionHandler> handler, bool* created = nullptr);

  // Returns the route named `function_name`, or nullptr when there is none.
  FunctionRoute* Find(std::string_view function_name);
  const FunctionRoute* Find(std::string_view function_name) const;

  const Map& routes() const { return routes_; }
  std::size_t size() const { return routes_.size(); }
  void Clear() { routes_.clear(); }

 private:
  Map routes_;
};

// A template made ready for matching. Pattern templates are parsed and matched
// by `PathTemplate` (linear time, no recursion), so request paths of any length
// are safe.
class CompiledRoute {
 public:
  // The function the route was compiled for; may be nullptr.
  const FunctionRecord* function() const { return function_; }
  // Never nullptr; the route outlives this object.
  const FunctionRoute* route() const { return route_; }
  // True when the template has no '{' and is compared as it is.
  bool is_literal() const { return template_.is_literal(); }
  // The template of a literal route (a view of the route's own text); empty
  // for a pattern route.
  std::string_view literal_path() const { return literal_path_; }
  // The parameters in template order.
  const std::vector<TemplateParameter>& parameters() const { return template_.parameters(); }

  // Returns whether the whole of `path` matches. On a match of a pattern route
  // `*parameters` receives the decoded value of every parameter (a name used
  // twice keeps the later value); a literal route gives none. On a mismatch
  // `*parameters` is left unchanged. `parameters` must not be null.
  [[nodiscard]] bool MatchPath(std::string_view path, PathParameters* parameters) const;

  // Returns the raw (undecoded) value of every parameter, in template order,
  // as views into `path`; false when the whole of `path` does not match.
  // `captures` must not be null.
  [[nodiscard]] bool MatchCaptures(std::string_view path,
                                   std::vector<std::string_view>* captures) const;

  // The equivalent ECMAScript regular expression of a pattern route (empty for
  // a literal route), for diagnostics.
  std::string PatternText() const { return template_.PatternText(); }

 private:
  friend CompiledRoute CompileRoute(const FunctionRecord* function, const FunctionRoute& route,
                                    std::string_view path_template);
  friend CompiledRoute CompileRoute(const FunctionRoute& route);

  // The route of `path_template`, `literal` telling whether it has no '{';
  // `function` may be null.
  static CompiledRoute Make(const FunctionRecord* function, const FunctionRoute& route,
                            std::string_view path_template, bool literal);

  const FunctionRecord* function_ = nullptr;
  const FunctionRoute* route_ = nullptr;
  std::string_view literal_path_;
  PathTemplate template_;  // parsed for a pattern route only
};

// The route of a call in progress: the request's path and method, and once a
// route is chosen, its function, route and decoded path parameters.
//
// The path and the method name are views: they point into the request, which
// outlives the call.
struct MatchState {
  std::string_view path;  // query string included
  HttpMethod method = HttpMethod::kNone;
  std::string_view method_name;  // for `HttpMethod::kCustom`; otherwise empty
  const FunctionRecord* function = nullptr;
  const FunctionRoute* route = nullptr;
  PathParameters path_parameters;
};

// Returns the name of a function registered by method and path: GET
// '/items/{id}' gives 'GetItemsById'. Never fails.
std::string FunctionNameFromRoute(HttpMethod method, std::string_view path);

// Compiles `path_template` for `route` and `function` (may be null). Never
// fails (see `PathTemplate::Parse`). A literal template is not copied: the
// compiled route views it, so `path_template` must outlive the result.
CompiledRoute CompileRoute(const FunctionRecord* function, const FunctionRoute& route,
                           std::string_view path_template);
// Compiles the route's own template text (`TemplateText()`) for its function.
CompiledRoute CompileRoute(const FunctionRoute& route);

// Chooses among `routes` the one for `state`'s path and method and returns
// whether one was found. A route qualifies when its method is `kNone`, or is
// the request's method with an identical custom method name, and its path
// matches. The first qualifying route is taken; a later one replaces it only
// when its decoded parameter values are shorter in total; a taken route
// without parameters ends the search. On success `state` holds the chosen
// function, route and parameters; otherwise it is unchanged.
[[nodiscard]] bool MatchRoutes(MatchState& state, std::span<const CompiledRoute> routes);

// `MatchRoutes` over the one route `route`, compiled for its own function and
// template (`CompileRoute(route)`); a literal template is compared as it is,
// with nothing compiled.
[[nodiscard]] bool MatchRoute(MatchState& state, const FunctionRoute& route);

// Returns `text` with '+' as a space and "%XY" decoded (a non-hex digit counts
// as 16, the byte is the low eight bits); a '%' among the last two characters
// is dropped. Never fails.
std::string UrlDecode(std::string_view text);

}  // namespace Kestrel

#endif  // VYN_REMOTING_ROUTE_H_
