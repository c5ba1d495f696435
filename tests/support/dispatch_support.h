// Test-only helpers for calling functions through the transport with real host
// records: a request builder that owns every text it points to, and a response
// holder that releases what the transport allocated.
#ifndef VYN_TESTS_SUPPORT_DISPATCH_SUPPORT_H_
#define VYN_TESTS_SUPPORT_DISPATCH_SUPPORT_H_

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "binding/core_value_conversion.h"
#include "formats/json_writer.h"
#include "host_abi/host_records.h"
#include "remoting/dispatch.h"

namespace Kestrel::RemotingTest {

// A request whose texts live in the builder. Build() gives the host record;
// the builder must outlive it.
class RequestBuilder {
 public:
  RequestBuilder(uint32_t method, std::string path) : method_(method), path_(std::move(path)) {}

  RequestBuilder& Header(std::string name, std::string value) {
    headers_.emplace_back(std::move(name), std::move(value));
    return *this;
  }
  // `value` belongs to the builder afterwards; the caller keeps no part of it.
  RequestBuilder& Argument(const char* name, Client::CoreValue value) {
    const char* stored = nullptr;
    if (name != nullptr) stored = texts_.emplace_back(name).c_str();
    arguments_.push_back({stored, value});
    return *this;
  }
  RequestBuilder& Body(std::string content_type, std::string body) {
    content_type_ = std::move(content_type);
    body_ = std::move(body);
    has_body_ = true;
    return *this;
  }
  // The body's length as given to the host record (defaults to the whole body).
  RequestBuilder& BodyLength(uint32_t length) {
    body_length_ = length;
    return *this;
  }
  RequestBuilder& MethodName(std::string name) {
    method_name_ = std::move(name);
    has_method_name_ = true;
    return *this;
  }
  RequestBuilder& CallerId(uint32_t id) {
    caller_id_ = id;
    return *this;
  }
  RequestBuilder& Context(void* context) {
    context_ = context;
    return *this;
  }

  const Client::CoreRequest& Build() {
    core_headers_.clear();
    for (const auto& [name, value] : headers_)
      core_headers_.push_back({name.c_str(), value.c_str()});
    std::memset(static_cast<void*>(&request_), 0, sizeof(request_));
    request_.method = method_;
    request_.path = path_.c_str();
    request_.arguments = arguments_.empty() ? nullptr : arguments_.data();
    request_.argument_count = static_cast<uint32_t>(arguments_.size());
    request_.function_context = context_;
    request_.headers = core_headers_.empty() ? nullptr : core_headers_.data();
    request_.header_count = static_cast<uint32_t>(core_headers_.size());
    request_.content_type = has_body_ ? content_type_.c_str() : nullptr;
    request_.body = has_body_ ? body_.data() : nullptr;
    request_.body_length =
        has_body_
            ? (body_length_ != kWholeBody ? body_length_ : static_cast<uint32_t>(body_.size()))
            : 0;
    request_.caller_id = caller_id_;
    request_.method_name = has_method_name_ ? method_name_.c_str() : nullptr;
    return request_;
  }

 private:
  static constexpr uint32_t kWholeBody = 0xFFFFFFFFu;
  uint32_t method_;
  std::string path_;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::vector<Client::CoreHeader> core_headers_;
  std::deque<std::string> texts_;
  std::vector<Client::CoreArgument> arguments_;
  std::string content_type_;
  std::string body_;
  bool has_body_ = false;
  uint32_t body_length_ = kWholeBody;
  std::string method_name_;
  bool has_method_name_ = false;
  uint32_t caller_id_ = 0;
  void* context_ = nullptr;
  Client::CoreRequest request_{};
};

// A zeroed response that releases itself (stream included) as a host would.
class ResponseHolder {
 public:
  ResponseHolder() { std::memset(static_cast<void*>(&raw_), 0, sizeof(raw_)); }
  ~ResponseHolder() { Release(); }
  ResponseHolder(const ResponseHolder&) = delete;
  ResponseHolder& operator=(const ResponseHolder&) = delete;

  Client::CoreResponse* get() { return &raw_; }
  const Client::CoreResponse& raw() const { return raw_; }

  void Release() {
    if (raw_.stream != nullptr && raw_.stream_release != nullptr) raw_.stream_release(raw_.stream);
    raw_.stream = nullptr;
    if (raw_.release != nullptr) raw_.release(&raw_);
  }

  bool failed() const { return raw_.error_flag != 0; }
  std::string error() const {
    return raw_.error_flag != 0 && raw_.error_text != nullptr ? raw_.error_text : "";
  }
  uint32_t status() const { return raw_.status_code; }
  // The response value as compact JSON ("" for nil).
  std::string json() const {
    BindingProperty value;
    std::string message;
    if (!FromCoreValue(raw_.value, value, "<value>", &message)) return "!" + message;
    return WriteJson(value);
  }

 private:
  Client::CoreResponse raw_;
};

}  // namespace Kestrel::RemotingTest

#endif  // VYN_TESTS_SUPPORT_DISPATCH_SUPPORT_H_
