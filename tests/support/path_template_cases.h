// Test support: route template cases that every matcher of route templates
// must agree on (the plugin's router and `PathMatchesTemplate`).
#ifndef VYN_TESTS_SUPPORT_PATH_TEMPLATE_CASES_H_
#define VYN_TESTS_SUPPORT_PATH_TEMPLATE_CASES_H_

#include <string_view>

namespace Kestrel::Testing {

struct PathTemplateCase {
  std::string_view path_template;
  std::string_view path;
  bool matches;
};

inline constexpr PathTemplateCase kPathTemplateCases[] = {
    // Literal templates compare byte for byte.
    {"/a/b", "/a/b", true},
    {"/a/b", "/a/b/", false},
    {"/a/b", "/A/b", false},
    {"/a.b/{x}", "/aXb/1", false},  // no character of a literal is special
    {"/a.b/{x}", "/a.b/1", true},
    // "{name}": one segment, possibly empty.
    {"/items/{id}", "/items/7", true},
    {"/items/{id}", "/items/", true},
    {"/items/{id}", "/items", false},
    {"/items/{id}", "/items/7/8", false},
    {"/{a}/{b}", "/1/2", true},
    {"/{a}/{b}", "/1/2/3", false},
    {"/{a}-{b}", "/x-y-z", true},
    {"/items/{id}/tail", "/items/a/b/tail", false},
    // "{+name}": any rest without a line break.
    {"/files/{+rest}", "/files/a/b.c", true},
    {"/files/{+rest}", "/files/", true},
    {"/files/{+rest}", "/files/a\nb", false},
    {"/files/{+rest}", "/files/a\rb", false},
    {"/files/{+rest}/{name}", "/files/a/b/c", true},
    {"/files/{+rest}/end", "/files/a/b/c", false},
    // "{#name}": a '#' and any rest.
    {"/p{#frag}", "/p#x", true},
    {"/p{#frag}", "/p#", true},
    {"/p{#frag}", "/px", false},
    {"/p{#frag}", "/p#a/b", true},
    // Stray braces.
    {"/a}b", "/a}b", true},  // no '{': a literal
    {"/a}b/{x}", "/ab/1", true},
    {"/a{b", "/a", true},
    {"/a{b", "/ab", false},
};

}  // namespace Kestrel::Testing

#endif  // VYN_TESTS_SUPPORT_PATH_TEMPLATE_CASES_H_
