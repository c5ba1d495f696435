#include "util/path_template.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

namespace Kestrel {
namespace {

// One parameter and the literal text that follows it.
struct Step {
  bool crosses_slash = false;
  std::string literal_after;
};

bool ParameterTakes(bool crosses_slash, char c) {
  return crosses_slash ? (c != '\n' && c != '\r') : c != '/';
}

bool HasAt(std::string_view text, std::size_t position, std::string_view literal) {
  return position <= text.size() && text.size() - position >= literal.size() &&
         text.compare(position, literal.size(), literal) == 0;
}

}  // namespace

bool PathMatchesTemplate(std::string_view path_template, std::string_view path) {
  if (path_template.find('{') == std::string_view::npos) return path_template == path;

  // The template as a head literal and (parameter, literal) steps.
  std::string head;
  std::vector<Step> steps;
  auto literal = [&]() -> std::string& {
    return steps.empty() ? head : steps.back().literal_after;
  };
  bool inside = false;
  bool at_name_start = false;
  bool crosses_slash = false;
  bool fragment = false;
  for (char c : path_template) {
    if (c == '{') {
      inside = true;
      at_name_start = true;
      crosses_slash = false;
      fragment = false;
      continue;
    }
    if (!inside) {
      if (c != '}') literal() += c;
      continue;
    }
    if (c == '}') {
      if (fragment) literal() += '#';
      steps.push_back(Step{crosses_slash, {}});
      inside = false;
      continue;
    }
    if (at_name_start && (c == '+' || c == '#')) {
      crosses_slash = true;
      fragment = c == '#';
    }
    at_name_start = false;
  }

  if (!HasAt(path, 0, head)) return false;
  const std::size_t length = path.size();
  if (steps.empty()) return length == head.size();

  // reached[p]: path[..p] matches the template up to the current point.
  // Each step first lets its parameter run on from every reached position,
  // then keeps the positions where its literal follows.
  std::vector<bool> reached(length + 1, false);
  std::vector<bool> next(length + 1, false);
  reached[head.size()] = true;
  for (const Step& step : steps) {
    bool running = false;
    for (std::size_t p = 0; p <= length; ++p) {
      running = reached[p] || (running && ParameterTakes(step.crosses_slash, path[p - 1]));
      next[p] = running;
    }
    const std::string& after = step.literal_after;
    std::fill(reached.begin(), reached.end(), false);
    bool any = false;
    for (std::size_t p = 0; p + after.size() <= length; ++p) {
      if (next[p] && HasAt(path, p, after)) {
        reached[p + after.size()] = true;
        any = true;
      }
    }
    if (!any) return false;
  }
  return reached[length];
}

}  // namespace Kestrel
