#include "remoting/route.h"

#include <tuple>
#include <utility>

#include "remoting/function_handler.h"
#include "remoting/remoting_request.h"

namespace Kestrel {
namespace {

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Value of one hex digit; anything else counts as 16.
unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 16;
}

// Whether a template has no parameter: it is then compared as it is.
bool IsLiteralTemplate(std::string_view path_template) {
  return path_template.find('{') == std::string_view::npos;
}

}  // namespace

// ---------------------------------------------------------------------------
// FunctionRoute

FunctionRoute::FunctionRoute(const FunctionRecord* function, std::string function_name,
                             std::shared_ptr<FunctionHandler> handler)
    : function_(function),
      function_name_(std::move(function_name)),
      handler_(std::move(handler)),
      literal_template_(IsLiteralTemplate(function_name_)),
      takes_request_record_(handler_ != nullptr &&
                            IsRequestRecordIdentity(handler_->RequestParameterType())) {}

ArgumentLocation FunctionRoute::LocationAt(std::size_t position) const {
  return position < locations_.size() ? locations_[position] : ArgumentLocation::kAny;
}

void FunctionRoute::SetPath(std::string_view path) {
  if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  path_.assign(path);
  literal_template_ = IsLiteralTemplate(TemplateText());
}

void FunctionRoute::SetMethod(HttpMethod method) {
  method_ = method;
  method_name_.clear();
}

void FunctionRoute::SetCustomMethod(std::string_view name) {
  method_ = HttpMethod::kCustom;
  method_name_.assign(name);
}

void FunctionRoute::SetArgumentLocation(std::size_t position, ArgumentLocation location) {
  if (locations_.size() <= position) locations_.resize(position + 1, ArgumentLocation::kAny);
  locations_[position] = location;
}

// ---------------------------------------------------------------------------
// RouteTable

FunctionRoute& RouteTable::Register(const FunctionRecord* function, std::string_view function_name,
                                    std::shared_ptr<FunctionHandler> handler, bool* created) {
  auto found = routes_.find(function_name);
  const bool inserted = found == routes_.end();
  if (inserted) {
    found = routes_
                .emplace(
                    std::piecewise_construct, std::forward_as_tuple(function_name),
                    std::forward_as_tuple(function, std::string(function_name), std::move(handler)))
                .first;
  }
  if (created != nullptr) *created = inserted;
  return found->second;
}

FunctionRoute* RouteTable::Find(std::string_view function_name) {
  auto found = routes_.find(function_name);
  return found == routes_.end() ? nullptr : &found->second;
}

const FunctionRoute* RouteTable::Find(std::string_view function_name) const {
  auto found = routes_.find(function_name);
  return found == routes_.end() ? nullptr : &found->second;
}

// ---------------------------------------------------------------------------
// Names

std::string FunctionNameFromRoute(HttpMethod method, std::string_view path) {
  const std::string_view method_text = HttpMethodText(method);
  std::string route;
  route.reserve(method_text.size() + 1 + path.size());
  for (std::size_t i = 0; i < method_text.size(); ++i) {
    route += i == 0 ? method_text[i] : AsciiLower(method_text[i]);
  }
  route += '/';
  route.append(path);

  std::string name;
  name.reserve(route.size());
  bool capitalize = true;
  for (char c : route) {
    switch (c) {
      case '!':
      case '+':
      case '-':
      case '.':
      case '/':
      case '_':
        capitalize = true;
        break;
      case '{':
        name += "By";
        capitalize = true;
        break;
      case '}':
        break;
      default:
        name += capitalize ? AsciiUpper(c) : c;
        capitalize = false;
        break;
    }
  }
  return name;
}

// ---------------------------------------------------------------------------
// Compilation

CompiledRoute CompiledRoute::Make(const FunctionRecord* function, const FunctionRoute& route,
                                  std::string_view path_template, bool literal) {
  CompiledRoute compiled;
  compiled.function_ = function;
  compiled.route_ = &route;
  if (literal) {
    compiled.literal_path_ = path_template;
    return compiled;
  }
  compiled.template_ = PathTemplate::Parse(path_template);
  return compiled;
}

CompiledRoute CompileRoute(const FunctionRecord* function, const FunctionRoute& route,
                           std::string_view path_template) {
  return CompiledRoute::Make(function, route, path_template, IsLiteralTemplate(path_template));
}

CompiledRoute CompileRoute(const FunctionRoute& route) {
  return CompiledRoute::Make(route.function(), route, route.TemplateText(),
                             route.has_literal_template());
}

// ---------------------------------------------------------------------------
// Matching

bool CompiledRoute::MatchCaptures(std::string_view path,
                                  std::vector<std::string_view>* captures) const {
  if (!template_.is_literal()) return template_.Match(path, captures);
  if (path != literal_path_) return false;
  captures->clear();
  return true;
}

bool CompiledRoute::MatchPath(std::string_view path, PathParameters* parameters) const {
  std::vector<std::string_view> captures;
  if (!MatchCaptures(path, &captures)) return false;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    (*parameters)[template_.parameters()[i].name] = UrlDecode(captures[i]);
  }
  return true;
}

namespace {

// Whether `route` accepts the method of `state`.
bool MethodFits(const FunctionRoute& route, const MatchState& state) {
  return route.method() == HttpMethod::kNone ||
         (route.method() == state.method && route.method_name() == state.method_name);
}

// Takes the literal route `route` of `function` for `state`: a literal route
// has no parameters, so nothing is decoded.
void TakeLiteral(MatchState& state, const FunctionRecord* function, const FunctionRoute& route) {
  state.function = function;
  state.route = &route;
  if (!state.path_parameters.empty()) state.path_parameters.clear();
}

}  // namespace

bool MatchRoute(MatchState& state, const FunctionRoute& route) {
  if (!route.has_literal_template()) {
    const CompiledRoute compiled = CompileRoute(route);
    return MatchRoutes(state, std::span(&compiled, 1));
  }
  if (!MethodFits(route, state) || state.path != route.TemplateText()) return false;
  TakeLiteral(state, route.function(), route);
  return true;
}

bool MatchRoutes(MatchState& state, std::span<const CompiledRoute> routes) {
  bool taken = false;
  std::size_t taken_length = 0;
  for (const CompiledRoute& compiled : routes) {
    const FunctionRoute& route = *compiled.route();
    if (!MethodFits(route, state)) continue;
    if (compiled.is_literal()) {
      // A literal match ends the search unless a taken route's values are
      // already empty in total.
      if (state.path != compiled.literal_path() || (taken && taken_length == 0)) continue;
      TakeLiteral(state, compiled.function(), route);
      return true;
    }
    PathParameters parameters;
    if (!compiled.MatchPath(state.path, &parameters)) continue;
    std::size_t length = 0;
    for (const auto& entry : parameters) length += entry.second.size();
    if (taken && length >= taken_length) continue;

    taken = true;
    taken_length = length;
    state.function = compiled.function();
    state.route = &route;
    state.path_parameters = std::move(parameters);
    if (state.path_parameters.empty()) return true;
  }
  return taken;
}

// ---------------------------------------------------------------------------
// Decoding

std::string UrlDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c == '%') {
      if (text.size() - i > 2) {
        const unsigned byte = (HexValue(text[i + 1]) << 4) | HexValue(text[i + 2]);
        decoded += static_cast<char>(byte & 0xFF);
        i += 2;
      }
      // A '%' among the last two characters is dropped.
    } else {
      decoded += c;
    }
  }
  return decoded;
}

}  // namespace Kestrel
