// Whether a request path matches a route template, without recursion and in
// time linear in the path for each parameter of the template.
//
// A template is literal text and parameters: "{name}" takes one run of
// characters without '/' (possibly empty), "{+name}" any run without a line
// break ('\n' or '\r'), "{#name}" a '#' followed by what "{+name}" takes. A
// '}' outside a parameter is dropped and an unclosed '{' drops the rest of
// the template. Literal text is
// compared byte for byte and the whole path must match. This is the rule of
// the plugin's router (which also extracts the values); the stand-in host
// uses this form to find the descriptor a request goes to.
//
//   PathMatchesTemplate("/items/{id}", "/items/7");    // true
//   PathMatchesTemplate("/items/{id}", "/items/7/8");  // false
#ifndef VYN_UTIL_PATH_TEMPLATE_H_
#define VYN_UTIL_PATH_TEMPLATE_H_

#include <string_view>

namespace Kestrel {

// True when `path` matches `path_template` as described above. Allocates one
// bit per path byte (twice); never throws for lack of stack. Thread-safe.
bool PathMatchesTemplate(std::string_view path_template, std::string_view path);

}  // namespace Kestrel

#endif  // VYN_UTIL_PATH_TEMPLATE_H_
