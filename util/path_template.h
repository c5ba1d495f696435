// Route templates: their grammar, parsed once, and the matching of a request
// path against them, without recursion and in time linear in the path for
// each parameter of the template.
//
// A template is literal text and parameters: "{name}" takes one run of
// characters without '/' (possibly empty), "{+name}" any run without a line
// break ('\n' or '\r'), "{#name}" a '#' followed by what "{+name}" takes. A
// template without '{' is a literal path compared byte for byte. Otherwise a
// '}' outside a parameter is dropped, a '{' inside a parameter starts it
// afresh, and a parameter left open at the end is dropped. Literal text is
// compared byte for byte and the whole path must match; when a path splits in
// several ways, earlier parameters take as much as they can (greedy, left to
// right).
//
// The plugin's router compiles its routes from `PathTemplate` (and decodes
// the captured values); the stand-in host uses `PathMatchesTemplate` to find
// the descriptor a request goes to. A `PathTemplate` owns copies of its texts.
//
//   PathMatchesTemplate("/items/{id}", "/items/7");    // true
//   PathMatchesTemplate("/items/{id}", "/items/7/8");  // false
//   PathTemplate::Parse("/items/{id}").Match("/items/7", &captures);  // {"7"}
#ifndef VYN_UTIL_PATH_TEMPLATE_H_
#define VYN_UTIL_PATH_TEMPLATE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Kestrel {

enum class TemplateParameterKind : uint32_t {
  kSimple = 1,    // '{name}'
  kReserved = 2,  // '{+name}'
  kFragment = 3,  // '{#name}'
};

struct TemplateParameter {
  TemplateParameterKind kind;
  std::string name;
};

// A template split into a head literal and (parameter, literal) steps.
class PathTemplate {
 public:
  // Parses `text` by the grammar above. Never fails. Thread-safe.
  static PathTemplate Parse(std::string_view text);

  // True when the template has no '{' and is compared as it is.
  bool is_literal() const { return literal_; }
  // The parameters in template order; empty for a literal template.
  const std::vector<TemplateParameter>& parameters() const { return parameters_; }

  // Returns whether the whole of `path` matches. On a match `*captures`
  // (never nullptr) receives the raw value of every parameter, in template
  // order, as views into `path`; on a mismatch it is left unchanged. Allocates
  // one bit per path byte per parameter; never throws for lack of stack.
  bool Match(std::string_view path, std::vector<std::string_view>* captures) const;

  // The equivalent ECMAScript regular expression (empty for a literal
  // template), for diagnostics.
  std::string PatternText() const;

 private:
  // One parameter and the literal text that follows it.
  struct Step {
    bool crosses_slash;  // reserved and fragment parameters
    std::string literal_after;
  };

  bool literal_ = true;
  std::string head_;  // the whole text of a literal template
  std::vector<Step> steps_;
  std::vector<TemplateParameter> parameters_;
};

// True when `path` matches `path_template` as described above. Thread-safe.
bool PathMatchesTemplate(std::string_view path_template, std::string_view path);

}  // namespace Kestrel

#endif  // VYN_UTIL_PATH_TEMPLATE_H_
