#include "remoting/route.h"

#include <tuple>
#include <utility>

namespace Kestrel {
namespace {

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Characters a parameter may take: simple ones stop at '/'; reserved and
// fragment ones take anything an ECMAScript '.' takes, i.e. no line break.
bool ParameterTakes(bool crosses_slash, char c) {
  return crosses_slash ? (c != '\n' && c != '\r') : c != '/';
}

// Appends `literal` to `pattern` with every ECMAScript special character escaped.
void AppendEscaped(std::string& pattern, std::string_view literal) {
  constexpr std::string_view kSpecial = "^$.*+?()[]|\\{}";
  for (char c : literal) {
    if (kSpecial.find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
}

bool HasAt(std::string_view text, std::size_t position, std::string_view literal) {
  return position <= text.size() && text.size() - position >= literal.size() &&
         text.compare(position, literal.size(), literal) == 0;
}

// Value of one hex digit; anything else counts as 16.
unsigned HexValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
  return 16;
}

}  // namespace

// ---------------------------------------------------------------------------
// FunctionRoute

FunctionRoute::FunctionRoute(const FunctionRecord* function, std::string function_name,
                             std::shared_ptr<FunctionHandler> handler)
    : function_(function), function_name_(std::move(function_name)), handler_(std::move(handler)) {}

ArgumentLocation FunctionRoute::LocationAt(std::size_t position) const {
  return position < locations_.size() ? locations_[position] : ArgumentLocation::kAny;
}

void FunctionRoute::SetPath(std::string_view path) {
  if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  path_.assign(path);
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

CompiledRoute CompileRoute(const FunctionRecord* function, const FunctionRoute& route,
                           std::string_view path_template) {
  CompiledRoute compiled;
  compiled.function_ = function;
  compiled.route_ = &route;
  if (path_template.find('{') == std::string_view::npos) {
    compiled.literal_path_ = path_template;
    return compiled;
  }
  compiled.literal_ = false;

  // The literal text being collected goes after the last parameter, or into
  // the head while there is none.
  auto literal = [&compiled]() -> std::string& {
    return compiled.steps_.empty() ? compiled.head_ : compiled.steps_.back().literal_after;
  };
  bool inside = false;
  bool at_name_start = false;
  TemplateParameter parameter{TemplateParameterKind::kSimple, {}};
  for (char c : path_template) {
    if (c == '{') {
      inside = true;
      at_name_start = true;
      parameter = {TemplateParameterKind::kSimple, {}};
      continue;
    }
    if (!inside) {
      if (c != '}') literal() += c;
      continue;
    }
    if (c == '}') {
      const bool fragment = parameter.kind == TemplateParameterKind::kFragment;
      if (fragment) literal() += '#';
      compiled.steps_.push_back({parameter.kind != TemplateParameterKind::kSimple, {}});
      compiled.parameters_.push_back(std::move(parameter));
      parameter = {TemplateParameterKind::kSimple, {}};
      inside = false;
      continue;
    }
    if (at_name_start && c == '+') {
      parameter.kind = TemplateParameterKind::kReserved;
    } else if (at_name_start && c == '#') {
      parameter.kind = TemplateParameterKind::kFragment;
    } else {
      parameter.name += c;
    }
    at_name_start = false;
  }
  return compiled;
}

CompiledRoute CompileRoute(const FunctionRoute& route) {
  return CompileRoute(route.function(), route, route.TemplateText());
}

std::string CompiledRoute::PatternText() const {
  if (literal_) return {};
  std::string pattern;
  AppendEscaped(pattern, head_);
  for (const Step& step : steps_) {
    pattern += step.crosses_slash ? "(.*)" : "([^/]*)";
    AppendEscaped(pattern, step.literal_after);
  }
  return pattern;
}

// ---------------------------------------------------------------------------
// Matching
//
// A pattern is head, then n steps of (parameter, literal). The split chosen is
// the one a backtracking matcher with greedy parameters finds first: the first
// parameter as long as possible such that the rest can still match, then the
// second, and so on. Without backtracking this takes two passes:
//   backward: tail[i][q] says whether path[q..] matches the literal of step i
//     and everything after it; it is built from tail[i+1] in one scan;
//   forward: each parameter takes the largest end q, within the characters it
//     may take, for which tail[i][q] holds.
// Time is linear in the path per parameter, memory one bit per path byte per
// parameter; nothing recurses.
bool CompiledRoute::MatchCaptures(std::string_view path,
                                  std::vector<std::string_view>* captures) const {
  if (literal_) {
    if (path != literal_path_) return false;
    captures->clear();
    return true;
  }
  if (!HasAt(path, 0, head_)) return false;
  const std::size_t length = path.size();
  const std::size_t count = steps_.size();
  if (count == 0) {
    if (length != head_.size()) return false;
    captures->clear();
    return true;
  }

  std::vector<std::vector<bool>> tail(count);
  // The last literal must end the path.
  {
    std::vector<bool>& last = tail[count - 1];
    last.assign(length + 1, false);
    const std::string& literal = steps_[count - 1].literal_after;
    if (literal.size() <= length && HasAt(path, length - literal.size(), literal)) {
      last[length - literal.size()] = true;
    }
  }
  // reach[p]: path[p..] matches parameter i and everything after it.
  std::vector<bool> reach(length + 1, false);
  for (std::size_t i = count; i-- > 0;) {
    const Step& step = steps_[i];
    const std::vector<bool>& after = tail[i];
    reach[length] = after[length];
    for (std::size_t p = length; p-- > 0;) {
      reach[p] = after[p] || (ParameterTakes(step.crosses_slash, path[p]) && reach[p + 1]);
    }
    if (i == 0) break;
    std::vector<bool>& before = tail[i - 1];
    before.assign(length + 1, false);
    const std::string& literal = steps_[i - 1].literal_after;
    for (std::size_t q = 0; q + literal.size() <= length; ++q) {
      if (reach[q + literal.size()] && HasAt(path, q, literal)) before[q] = true;
    }
  }
  if (!reach[head_.size()]) return false;

  std::vector<std::string_view> found;
  found.reserve(count);
  std::size_t start = head_.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Step& step = steps_[i];
    std::size_t limit = start;
    while (limit < length && ParameterTakes(step.crosses_slash, path[limit])) ++limit;
    std::size_t end = limit;
    while (!tail[i][end]) --end;  // reach[start] guarantees an end in [start, limit]
    found.push_back(path.substr(start, end - start));
    start = end + step.literal_after.size();
  }
  *captures = std::move(found);
  return true;
}

bool CompiledRoute::MatchPath(std::string_view path, PathParameters* parameters) const {
  std::vector<std::string_view> captures;
  if (!MatchCaptures(path, &captures)) return false;
  for (std::size_t i = 0; i < captures.size(); ++i) {
    (*parameters)[parameters_[i].name] = UrlDecode(captures[i]);
  }
  return true;
}

bool MatchRoutes(MatchState& state, std::span<const CompiledRoute> routes) {
  bool taken = false;
  std::size_t taken_length = 0;
  for (const CompiledRoute& compiled : routes) {
    const FunctionRoute& route = *compiled.route();
    const bool method_fits =
        route.method() == HttpMethod::kNone ||
        (route.method() == state.method && route.method_name() == state.method_name);
    if (!method_fits) continue;
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
