// The HTTP method of a request or a route, and its text form.
//
// The numbering is shared with the host (`CoreRequest::method`,
// `CoreFunctionDescriptor::method`). Method 8 is a custom method whose name
// travels as text beside it; 0 means none, and on a route it accepts every
// method.
//
//   HttpMethod method = HttpMethodFromValue(request.method);  // 9 or more -> kNone
//   HttpMethodText(HttpMethod::kPost);                         // "POST"
#ifndef VYN_REMOTING_HTTP_METHOD_H_
#define VYN_REMOTING_HTTP_METHOD_H_

#include <cstdint>

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

// Returns the method numbered `value`, or `kNone` for any value above 8.
HttpMethod HttpMethodFromValue(uint32_t value);

// Returns the text form ("DELETE", "GET", ...). `kNone`, `kCustom` (whose name
// is carried separately) and out-of-range values give "". Never nullptr.
const char* HttpMethodText(HttpMethod method);

}  // namespace Kestrel

#endif  // VYN_REMOTING_HTTP_METHOD_H_
