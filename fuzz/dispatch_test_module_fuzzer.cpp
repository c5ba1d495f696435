// Fuzz target: the exposed functions of the test module, called through their
// descriptors as the host calls them, with requests read from the input
// (fuzz_request.h): any descriptor with any method, path, query, fragment,
// headers, content type, body and host arguments, including malformed host
// values.
//
// Every response must be well formed (an error carries its text, the content
// type is never null) and its release function must free everything and zero
// the record; LeakSanitizer reports anything left behind.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_request.h"
#include "fuzz/fuzz_support.h"
#include "host_abi/host_records.h"
#include "tests/remoting/test_module.h"

namespace Kestrel::Fuzz {

namespace {

// Built once: registering every type and route is far slower than one call.
Testing::TestModule& SharedModule() {
  static const std::unique_ptr<Testing::TestModule> module = Testing::CreateTestModule();
  return *module;
}

bool IsZeroed(const Client::CoreResponse& response) {
  static const Client::CoreResponse kZero{};
  return std::memcmp(&response, &kZero, sizeof response) == 0;
}

}  // namespace

int FuzzDispatchTestModule(const uint8_t* data, std::size_t size) {
  Testing::TestModule& module = SharedModule();
  FuzzInput input(data, size);
  const Client::CoreFunctionDescriptor& descriptor =
      module.descriptor(input.ReadByte() % module.descriptor_count());
  const FuzzRequest request(input, descriptor.path, HostValueShape::kMalformed);

  Client::CoreResponse response;
  std::memset(&response, 0, sizeof response);
  Testing::CallDescriptor(descriptor, &response, request.record());

  Check(response.error_flag <= 1, "the error flag is 0 or 1");
  if (response.error_flag == 1) Check(response.error_text != nullptr, "an error carries its text");
  Check(response.content_type != nullptr, "the content type is never null");
  Check(response.header_count == 0 || response.headers != nullptr,
        "headers are present when counted");
  for (uint32_t i = 0; i < response.header_count; ++i) {
    Check(response.headers[i].name != nullptr && response.headers[i].value != nullptr,
          "every response header has a name and a value");
  }
  if (response.stream != nullptr) {
    Check(response.stream_read != nullptr && response.stream_release != nullptr,
          "a stream comes with its read and release functions");
    char buffer[256];
    uint8_t more = 1;
    for (int reads = 0; more != 0 && reads < 4096; ++reads) {
      uint32_t length = sizeof buffer;
      if (response.stream_read(response.stream, buffer, &length, &more) == 0) break;
      Check(length <= sizeof buffer, "a stream read stays within the buffer");
    }
    response.stream_release(response.stream);
    response.stream = nullptr;
  }
  Check(response.release != nullptr, "a filled response has a release function");
  response.release(&response);
  Check(IsZeroed(response), "releasing a response zeroes it");
  return 0;
}

}  // namespace Kestrel::Fuzz

VYN_FUZZ_TARGET(Kestrel::Fuzz::FuzzDispatchTestModule)
