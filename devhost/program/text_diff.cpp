#include "devhost/program/text_diff.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace Kestrel::DevHost {
namespace {

// Beyond this many pairs of lines the middle is not compared line by line.
constexpr size_t kMaxComparedPairs = size_t{4} << 20;

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

// One line of the diff: kept (in both), removed (from `before`) or added
// (from `after`), with its index in the text it comes from.
struct Step {
  char mark;  // ' ', '-', '+'
  size_t before;
  size_t after;
};

// The steps that turn a[a0, a1) into b[b0, b1): a longest common
// subsequence, or all removed then all added when the range is too large.
void MiddleSteps(const std::vector<std::string_view>& a, size_t a0, size_t a1,
                 const std::vector<std::string_view>& b, size_t b0, size_t b1,
                 std::vector<Step>* steps) {
  const size_t n = a1 - a0, m = b1 - b0;
  if (n != 0 && m != 0 && n * m <= kMaxComparedPairs) {
    // common[i][j]: the longest common subsequence of a[a0+i..] and b[b0+j..].
    std::vector<uint32_t> common((n + 1) * (m + 1), 0);
    auto at = [&](size_t i, size_t j) -> uint32_t& { return common[i * (m + 1) + j]; };
    for (size_t i = n; i-- > 0;) {
      for (size_t j = m; j-- > 0;) {
        at(i, j) =
            a[a0 + i] == b[b0 + j] ? at(i + 1, j + 1) + 1 : std::max(at(i + 1, j), at(i, j + 1));
      }
    }
    size_t i = 0, j = 0;
    while (i < n && j < m) {
      if (a[a0 + i] == b[b0 + j]) {
        steps->push_back({' ', a0 + i++, b0 + j++});
      } else if (at(i + 1, j) >= at(i, j + 1)) {
        steps->push_back({'-', a0 + i++, b0 + j});
      } else {
        steps->push_back({'+', a0 + i, b0 + j++});
      }
    }
    for (; i < n; ++i) steps->push_back({'-', a0 + i, b1});
    for (; j < m; ++j) steps->push_back({'+', a1, b0 + j});
    return;
  }
  for (size_t i = a0; i < a1; ++i) steps->push_back({'-', i, b0});
  for (size_t j = b0; j < b1; ++j) steps->push_back({'+', a1, j});
}

// "@@ -start,count +start,count @@" for the steps [first, last).
std::string HunkHead(const std::vector<Step>& steps, size_t first, size_t last) {
  size_t before_count = 0, after_count = 0;
  for (size_t k = first; k < last; ++k) {
    if (steps[k].mark != '+') ++before_count;
    if (steps[k].mark != '-') ++after_count;
  }
  // An empty side names the line before the change, as diff -u does.
  const size_t before_start = steps[first].before + (before_count == 0 ? 0 : 1);
  const size_t after_start = steps[first].after + (after_count == 0 ? 0 : 1);
  return "@@ -" + std::to_string(before_start) + "," + std::to_string(before_count) + " +" +
         std::to_string(after_start) + "," + std::to_string(after_count) + " @@\n";
}

}  // namespace

std::string UnifiedDiff(std::string_view before, std::string_view after,
                        std::string_view before_name, std::string_view after_name, size_t context) {
  const std::vector<std::string_view> a = Lines(before), b = Lines(after);
  if (a == b) return {};
  size_t prefix = 0;
  while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
  size_t suffix = 0;
  while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
         a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) {
    ++suffix;
  }
  std::vector<Step> steps;
  for (size_t i = 0; i < prefix; ++i) steps.push_back({' ', i, i});
  MiddleSteps(a, prefix, a.size() - suffix, b, prefix, b.size() - suffix, &steps);
  for (size_t k = suffix; k > 0; --k) steps.push_back({' ', a.size() - k, b.size() - k});

  std::string diff = "--- " + std::string(before_name) + "\n+++ " + std::string(after_name) + "\n";
  size_t k = 0;
  while (k < steps.size()) {
    while (k < steps.size() && steps[k].mark == ' ') ++k;
    if (k == steps.size()) break;
    const size_t first = k - std::min(k, context);
    // The hunk goes on while the next change is within two contexts.
    size_t last_change = k;
    for (size_t next = k + 1; next < steps.size() && next <= last_change + 2 * context + 1;
         ++next) {
      if (steps[next].mark != ' ') last_change = next;
    }
    const size_t last = std::min(steps.size(), last_change + context + 1);
    diff += HunkHead(steps, first, last);
    for (size_t s = first; s < last; ++s) {
      const Step& step = steps[s];
      diff += step.mark;
      diff += step.mark == '+' ? b[step.after] : a[step.before];
      diff += '\n';
    }
    k = last;
  }
  return diff;
}

}  // namespace Kestrel::DevHost
