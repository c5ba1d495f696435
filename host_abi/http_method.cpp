#include "host_abi/http_method.h"

#include <iterator>

namespace Kestrel {
namespace {

constexpr const char* kMethodTexts[] = {"",      "DELETE", "GET", "HEAD", "OPTIONS",
                                        "PATCH", "POST",   "PUT", ""};
static_assert(std::size(kMethodTexts) == static_cast<std::size_t>(HttpMethod::kCustom) + 1);
constexpr const char* kLowerMethodTexts[] = {"",      "delete", "get", "head", "options",
                                             "patch", "post",   "put", ""};
static_assert(std::size(kLowerMethodTexts) == std::size(kMethodTexts));

}  // namespace

HttpMethod HttpMethodFromValue(uint32_t value) {
  return value <= static_cast<uint32_t>(HttpMethod::kCustom) ? static_cast<HttpMethod>(value)
                                                             : HttpMethod::kNone;
}

const char* HttpMethodText(HttpMethod method) {
  const auto index = static_cast<uint32_t>(method);
  return index < std::size(kMethodTexts) ? kMethodTexts[index] : "";
}

const char* HttpMethodLowerText(HttpMethod method) {
  const auto index = static_cast<uint32_t>(method);
  return index < std::size(kLowerMethodTexts) ? kLowerMethodTexts[index] : "";
}

std::string_view HttpMethodRecordText(uint32_t value, std::string_view custom_name) {
  return value == kMethodCustom ? custom_name : HttpMethodText(HttpMethodFromValue(value));
}

uint32_t HttpMethodRecordValue(HttpMethod method) {
  return static_cast<uint32_t>(HttpMethodFromValue(static_cast<uint32_t>(method)));
}

HttpMethod HttpMethodFromText(std::string_view text) {
  for (uint32_t index = kMethodDelete; index <= kMethodPut; ++index) {
    if (text == kMethodTexts[index]) return static_cast<HttpMethod>(index);
  }
  return HttpMethod::kNone;
}

}  // namespace Kestrel
