// The description of the plugin's API that the host receives once, at load:
// one descriptor per exposed function (its registry record, route, and the
// call-back through which the host calls it), and the registered types and
// events, each array packed and linked (host_records.h).
//
// Ownership: an `ApiDescriptionBlock` owns every array of the description;
// their texts point into the `TypeRegistry` and the `RouteTable`, and each
// descriptor's function context points at a `FunctionContext` in the
// caller's `FunctionContexts`. All of them must outlive the block and stay
// unchanged while the host may read it or call a descriptor.
//
// Every descriptor call counts itself in the module's `CallGate` while it
// runs, so that the module outlives it (call_gate.h).
//
//   ApiDescriptionBlock block;
//   BuildApiDescription(block, registry, routes, contexts, &gate);
//   record.api_description = &block.description();
#ifndef VYN_REMOTING_API_DESCRIPTION_H_
#define VYN_REMOTING_API_DESCRIPTION_H_

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "binding/type_registry.h"
#include "host_abi/host_records.h"
#include "remoting/call_gate.h"
#include "remoting/dispatch.h"
#include "remoting/route.h"

namespace Kestrel {

// Context pairs (dispatch.h) by function name; entries keep their addresses.
using FunctionContexts = std::map<std::string, FunctionContext, std::less<>>;

// The arrays of one API description.
class ApiDescriptionBlock {
 public:
  ApiDescriptionBlock() = default;
  ApiDescriptionBlock(const ApiDescriptionBlock&) = delete;
  ApiDescriptionBlock& operator=(const ApiDescriptionBlock&) = delete;

  // All zero until built.
  const Client::ApiDescription& description() const { return description_; }

 private:
  friend void BuildApiDescription(ApiDescriptionBlock& block, const TypeRegistry& registry,
                                  const RouteTable& routes, FunctionContexts& contexts,
                                  CallGate* gate);

  Client::ApiDescription description_{};
  std::vector<Client::CoreFunctionRecord> functions_;
  std::vector<std::vector<Client::CoreArgumentRecord>> arguments_;
  std::vector<std::vector<const char*>> tag_lists_;
  std::vector<Client::CoreTypeRecord> types_;
  std::vector<std::vector<Client::CoreFieldRecord>> fields_;
  std::vector<std::vector<Client::CoreEnumValueRecord>> enumerators_;
  std::vector<Client::CoreEventRecord> events_;
  std::vector<Client::CoreFunctionDescriptor> descriptors_;
  std::vector<std::vector<Client::CoreArgumentLocationEntry>> locations_;
};

// Fills `block` (replacing what it held) from the functions, types and events
// of `registry` in registration order and one descriptor per route of
// `routes` in table order; sets each descriptor's context pair in `contexts`
// (created when absent) to (`gate`, route); `gate` may be null (calls are
// not counted). Every descriptor's call-back is `CallFunctionDescriptor`
// (dispatch.h). Descriptors are linked to each other; one whose function the
// registry lacks is zero apart from its link, its context and its route
// fields. May throw std::bad_alloc.
void BuildApiDescription(ApiDescriptionBlock& block, const TypeRegistry& registry,
                         const RouteTable& routes, FunctionContexts& contexts, CallGate* gate);

// The host form of a type: kind and element kind (0 outside 1..19) and the
// registered name of the value's or element's type record ("" when none).
Client::CoreTypeId MakeCoreTypeId(const FieldType& type);

}  // namespace Kestrel

#endif  // VYN_REMOTING_API_DESCRIPTION_H_
