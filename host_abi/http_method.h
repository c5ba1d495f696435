// The HTTP method of a request or a route, and its text form.
//
// The numbering is shared with the host (`CoreRequest::method`,
// `CoreFunctionDescriptor::method`). Method 8 is a custom method whose name
// travels as text beside it; 0 means none, and on a route it accepts every
// method.
//
//   HttpMethod method = HttpMethodFromValue(request.method);  // 9 or more -> kNone
//   HttpMethodText(HttpMethod::kPost);                         // "POST"
//   HttpMethodLowerText(HttpMethod::kPost);                    // "post"
//   HttpMethodRecordText(8, "FETCH");                          // "FETCH"
//   request.method = kMethodPost;                              // as the records carry it
#ifndef VYN_HOST_ABI_HTTP_METHOD_H_
#define VYN_HOST_ABI_HTTP_METHOD_H_

#include <cstdint>
#include <string_view>

namespace Kestrel {

enum class HttpMethod : uint32_t {
  kNone = 0,
  kDelete = 1,
  kGet = 2,
  kHead = 3,
  kOptions = 4,
  kPatch = 5,
  kPost = 6,
  kPut = 7,
  kCustom = 8,
};

// The same numbers as the host records carry them (`uint32_t` fields), for code
// that fills or reads the records directly: the stand-in host and tests.
inline constexpr uint32_t kMethodNone = static_cast<uint32_t>(HttpMethod::kNone);
inline constexpr uint32_t kMethodDelete = static_cast<uint32_t>(HttpMethod::kDelete);
inline constexpr uint32_t kMethodGet = static_cast<uint32_t>(HttpMethod::kGet);
inline constexpr uint32_t kMethodHead = static_cast<uint32_t>(HttpMethod::kHead);
inline constexpr uint32_t kMethodOptions = static_cast<uint32_t>(HttpMethod::kOptions);
inline constexpr uint32_t kMethodPatch = static_cast<uint32_t>(HttpMethod::kPatch);
inline constexpr uint32_t kMethodPost = static_cast<uint32_t>(HttpMethod::kPost);
inline constexpr uint32_t kMethodPut = static_cast<uint32_t>(HttpMethod::kPut);
inline constexpr uint32_t kMethodCustom = static_cast<uint32_t>(HttpMethod::kCustom);

// Returns the method numbered `value`, or `kNone` for any value above 8.
HttpMethod HttpMethodFromValue(uint32_t value);

// Returns the text form ("DELETE", "GET", ...). `kNone`, `kCustom` (whose name
// is carried separately) and out-of-range values give "". Never nullptr.
const char* HttpMethodText(HttpMethod method);

// Returns the lower-case text form ("delete", "get", ...), as API documents
// name operations; "" where `HttpMethodText` gives "". Never nullptr.
const char* HttpMethodLowerText(HttpMethod method);

// Returns the text of the method a record carries as `value` with its
// custom name beside it: `custom_name` for `kMethodCustom`, else
// `HttpMethodText` ("" for none or out of range). The result views
// `custom_name` or a constant; never fails.
std::string_view HttpMethodRecordText(uint32_t value, std::string_view custom_name);

// Returns the number a record carries for `method`: 1..8, any other value 0.
uint32_t HttpMethodRecordValue(HttpMethod method);

// Returns the method whose text form is `text` (upper case, "DELETE" to "PUT"),
// or `kNone` for any other text, including "" and lower-case names.
HttpMethod HttpMethodFromText(std::string_view text);

}  // namespace Kestrel

#endif  // VYN_HOST_ABI_HTTP_METHOD_H_
