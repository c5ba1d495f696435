// A module of exposed functions used only by tests and fuzzers, never by the
// plugin. It registers, through the ordinary registration calls, routes that
// reach every binding path of the transport: literal and pattern routes with
// simple, reserved and fragment parameters; GET, POST, PUT, DELETE, any method
// and a custom method; arguments of every native kind from every location,
// optional and required, in the body and as host arguments; a handler that
// reads the request record and shapes its response; a failing handler. Every
// handler echoes what it received as its result.
//
// Ownership: a `TestModule` owns its `TypeRegistry`, its `RemotingEndpoints`
// and the API description built from them; descriptors stay valid until the
// module is destroyed. A literal route compares the whole request path, query
// included, so every route that reads the query ends in a parameter that takes
// the rest of the path.
//
//   std::unique_ptr<Testing::TestModule> module = Testing::CreateTestModule();
//   const Client::CoreFunctionDescriptor& f = module->descriptor(0);
//   Testing::CallDescriptor(f, &response, request);  // sets the function context
#ifndef VYN_TESTS_REMOTING_TEST_MODULE_H_
#define VYN_TESTS_REMOTING_TEST_MODULE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/binding_property.h"
#include "binding/static_type.h"
#include "binding/type_registry.h"
#include "host_abi/host_records.h"
#include "remoting/remoting_endpoints.h"

namespace Kestrel::Testing {

// An enum of native size 4 with an enumerator numbered 0.
enum class Shade : int32_t { kNone = 0, kLight = 1, kDark = 2 };
// An enum of native size 1 without an enumerator numbered 0.
enum class Tone : uint8_t { kLow = 1, kHigh = 100 };

// A small struct with a required field ("id").
struct Inner {
  int32_t id = 0;
  std::string label;
};

// One field of every scalar native kind.
struct Scalars {
  bool flag = false;
  int8_t int8 = 0;
  uint8_t uint8 = 0;
  int16_t int16 = 0;
  uint16_t uint16 = 0;
  int32_t int32 = 0;
  uint32_t uint32 = 0;
  int64_t int64 = 0;
  uint64_t uint64 = 0;
  float single = 0;
  double real = 0;
  std::string text;
  BindingProperty object;
  std::vector<uint8_t> blob;
  Shade shade = Shade::kNone;
  Tone tone = Tone::kLow;
};

// A vector of every element kind a native vector can hold. (A vector of
// uint8 has no C++ form of its own: std::vector<uint8_t> is a blob.)
struct Vectors {
  std::vector<bool> bools;
  std::vector<int8_t> int8s;
  std::vector<int16_t> int16s;
  std::vector<uint16_t> uint16s;
  std::vector<int32_t> int32s;
  std::vector<uint32_t> uint32s;
  std::vector<int64_t> int64s;
  std::vector<uint64_t> uint64s;
  std::vector<float> singles;
  std::vector<double> reals;
  std::vector<std::string> texts;
  std::vector<BindingProperty> objects;
  std::vector<std::vector<uint8_t>> blobs;
  std::vector<Shade> shades;
  std::vector<Inner> inners;
  std::vector<std::vector<int32_t>> nested;
};

// Every kind at once: scalars, vectors, maps and a nested struct.
struct Everything {
  Scalars scalars;
  Vectors vectors;
  std::unordered_map<std::string, int32_t> counts;
  std::unordered_map<std::string, Inner> inners;
  Inner inner;
};

// The function names of the module, as a request's test or a fuzzer's corpus
// refers to them.
inline constexpr char kScalarsFunction[] = "GetScalarsByRest";
inline constexpr char kVectorsFunction[] = "PostVectorsByRest";
inline constexpr char kLocatedFunction[] = "GetLocatedByIdByRest";
inline constexpr char kPutRecordFunction[] = "PutRecordsById";
inline constexpr char kDeleteRecordFunction[] = "DeleteRecordsById";
inline constexpr char kBodiesFunction[] = "PostBodies";
inline constexpr char kPurgeFunction[] = "CacheByKey";
inline constexpr char kAnyMethodFunction[] = "AnyByRest";
// A fragment parameter keeps its '#' in the name.
inline constexpr char kDocsFunction[] = "GetDocsByPageBy#section";
inline constexpr char kRequestFunction[] = "GetRequestByRest";
inline constexpr char kFailFunction[] = "GetFailByCode";
inline constexpr char kHostArgumentsFunction[] = "EchoArguments";

class TestModule {
 public:
  // Registers every type and route and builds the API description. May throw
  // std::bad_alloc.
  TestModule();
  TestModule(const TestModule&) = delete;
  TestModule& operator=(const TestModule&) = delete;

  TypeRegistry& registry() { return registry_; }
  RemotingEndpoints& endpoints() { return endpoints_; }
  const Client::ApiDescription& description() const { return *description_; }

  // The number of function descriptors.
  std::size_t descriptor_count() const { return description_->function_count; }
  // The descriptor at `index`, in the description's order; `index` must be
  // below `descriptor_count()`.
  const Client::CoreFunctionDescriptor& descriptor(std::size_t index) const;
  // Returns the descriptor of the function named `name`, or nullptr.
  const Client::CoreFunctionDescriptor* FindDescriptor(std::string_view name) const;

 private:
  void RegisterTypes();
  void RegisterRoutes();

  TypeRegistry registry_;
  RemotingEndpoints endpoints_;
  const Client::ApiDescription* description_ = nullptr;
};

// Creates the module. May throw std::bad_alloc.
std::unique_ptr<TestModule> CreateTestModule();

// Calls `descriptor` as the host does: a copy of `request` with the
// descriptor's function context goes to its call-back, which fills
// `response` (zeroed or filled by the transport before). Never throws.
void CallDescriptor(const Client::CoreFunctionDescriptor& descriptor,
                    Client::CoreResponse* response, const Client::CoreRequest& request);

}  // namespace Kestrel::Testing

VYN_STATIC_TYPE(Kestrel::Testing::Shade, "enum Kestrel::Testing::Shade");
VYN_STATIC_TYPE(Kestrel::Testing::Tone, "enum Kestrel::Testing::Tone");
VYN_STATIC_TYPE(Kestrel::Testing::Inner, "struct Kestrel::Testing::Inner");
VYN_STATIC_TYPE(Kestrel::Testing::Scalars, "struct Kestrel::Testing::Scalars");
VYN_STATIC_TYPE(Kestrel::Testing::Vectors, "struct Kestrel::Testing::Vectors");
VYN_STATIC_TYPE(Kestrel::Testing::Everything, "struct Kestrel::Testing::Everything");

#endif  // VYN_TESTS_REMOTING_TEST_MODULE_H_
