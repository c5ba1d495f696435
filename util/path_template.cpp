#include "util/path_template.h"

#include <cstddef>
#include <utility>

namespace Kestrel {
namespace {

// Characters a parameter may take: simple ones stop at '/'; reserved and
// fragment ones take anything an ECMAScript '.' takes, i.e. no line break.
bool ParameterTakes(bool crosses_slash, char c) {
  return crosses_slash ? (c != '\n' && c != '\r') : c != '/';
}

bool HasAt(std::string_view text, std::size_t position, std::string_view literal) {
  return position <= text.size() && text.size() - position >= literal.size() &&
         text.compare(position, literal.size(), literal) == 0;
}

// Appends `literal` to `pattern` with every ECMAScript special character escaped.
void AppendEscaped(std::string& pattern, std::string_view literal) {
  constexpr std::string_view kSpecial = "^$.*+?()[]|\\{}";
  for (char c : literal) {
    if (kSpecial.find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
}

}  // namespace

PathTemplate PathTemplate::Parse(std::string_view text) {
  PathTemplate parsed;
  if (text.find('{') == std::string_view::npos) {
    parsed.head_.assign(text);
    return parsed;
  }
  parsed.literal_ = false;

  // The literal text being collected goes after the last parameter, or into
  // the head while there is none.
  auto literal = [&parsed]() -> std::string& {
    return parsed.steps_.empty() ? parsed.head_ : parsed.steps_.back().literal_after;
  };
  bool inside = false;
  bool at_name_start = false;
  TemplateParameter parameter{TemplateParameterKind::kSimple, {}};
  for (char c : text) {
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
      if (parameter.kind == TemplateParameterKind::kFragment) literal() += '#';
      parsed.steps_.push_back({parameter.kind != TemplateParameterKind::kSimple, {}});
      parsed.parameters_.push_back(std::move(parameter));
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
  return parsed;
}

std::string PathTemplate::PatternText() const {
  if (literal_) return {};
  std::string pattern;
  AppendEscaped(pattern, head_);
  for (const Step& step : steps_) {
    pattern += step.crosses_slash ? "(.*)" : "([^/]*)";
    AppendEscaped(pattern, step.literal_after);
  }
  return pattern;
}

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
bool PathTemplate::Match(std::string_view path, std::vector<std::string_view>* captures) const {
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

bool PathMatchesTemplate(std::string_view path_template, std::string_view path) {
  if (path_template.find('{') == std::string_view::npos) return path_template == path;
  std::vector<std::string_view> captures;
  return PathTemplate::Parse(path_template).Match(path, &captures);
}

}  // namespace Kestrel
