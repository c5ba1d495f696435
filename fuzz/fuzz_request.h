// `FuzzRequest`: one call of a plugin function read from fuzz input, as the
// host would make it: method (also unknown numbers and a custom method with
// its name), a path made from a route template or from raw text with query
// and fragment, headers, a content type (known, unknown, empty or none), host
// arguments named and positional, a caller id and a body with its length.
//
// The request owns everything its `CoreRequest` points to; the record stays
// valid while the object lives and the object is neither copied nor moved.
//
//   FuzzInput input(data, size);
//   FuzzRequest request(input, "/scalars/{+rest}", HostValueShape::kMalformed);
//   descriptor.callback(&response, &request.record());
#ifndef VYN_FUZZ_FUZZ_REQUEST_H_
#define VYN_FUZZ_FUZZ_REQUEST_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host_abi/host_records.h"

namespace Kestrel::Fuzz {

// Whether host values may carry the parts a careless host could send: unknown
// kind numbers and null arrays with a non-zero count.
enum class HostValueShape : uint8_t { kWellFormed, kMalformed };

class FuzzRequest {
 public:
  // Reads the request from `input` (reading past its end gives zeros). Path
  // parameters ("{name}") of `route_template` are filled from the input.
  FuzzRequest(FuzzInput& input, std::string_view route_template, HostValueShape shape);
  FuzzRequest(const FuzzRequest&) = delete;
  FuzzRequest& operator=(const FuzzRequest&) = delete;

  // The request record; its function context is null.
  const Client::CoreRequest& record() const { return record_; }

  uint32_t method() const { return record_.method; }
  const std::string& path() const { return path_; }
  // Empty when the method is not custom or it has no name.
  const std::string& method_name() const { return method_name_; }
  const std::vector<std::pair<std::string, std::string>>& headers() const { return headers_; }
  // Empty when the request has none.
  const std::optional<std::string>& content_type() const { return content_type_; }
  // The whole body; the record passes `body_length` of it.
  const std::optional<std::string>& body() const { return body_; }
  // Arguments as (name, value); an unset name marks a positional argument.
  // The values borrow their parts from this object.
  const std::vector<Client::CoreArgument>& arguments() const { return arguments_; }

 private:
  Client::CoreValue ReadValue(FuzzInput& input, int depth);
  const char* Keep(std::string text);

  HostValueShape shape_;
  std::string path_;
  std::string method_name_;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::vector<Client::CoreHeader> header_records_;
  std::optional<std::string> content_type_;
  std::optional<std::string> body_;
  std::vector<Client::CoreArgument> arguments_;
  std::deque<std::string> texts_;
  std::deque<std::unique_ptr<Client::CoreValue[]>> values_;
  std::deque<std::unique_ptr<Client::CoreStructEntry[]>> entries_;
  Client::CoreRequest record_{};
};

// The fuzz targets that call exposed functions with these requests.
int FuzzDispatchTestModule(const uint8_t* data, std::size_t size);
int FuzzDispatchSpectator(const uint8_t* data, std::size_t size);

}  // namespace Kestrel::Fuzz

#endif  // VYN_FUZZ_FUZZ_REQUEST_H_
