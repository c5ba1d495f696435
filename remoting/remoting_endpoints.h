// `RemotingEndpoints`: the module's side of the transport in one object. It
// registers routes with the module's tags, keeps the `RouteTable` and the
// function-context pairs, and builds and keeps the API description the host
// receives.
//
// Ownership: the endpoints own the routes, their handlers, the context pairs
// and the description; the `TypeRegistry` is the module's and must outlive
// them. Everything handed to the host stays valid until the endpoints are
// destroyed. Register everything, then build the description once.
//
//   RemotingEndpoints endpoints(registry, &gate);
//   endpoints.SetTags({"plugin-name"});
//   endpoints.Get("/items/{id}", [](int32_t id) -> MaybeType<Item> { ... })
//       .Argument("id", "The item's id.", ArgumentLocation::kPath);
//   record.api_description = &endpoints.BuildApiDescription();
#ifndef VYN_REMOTING_REMOTING_ENDPOINTS_H_
#define VYN_REMOTING_REMOTING_ENDPOINTS_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/type_registry.h"
#include "remoting/api_description.h"
#include "remoting/route.h"
#include "remoting/route_builder.h"

namespace Kestrel {

class RemotingEndpoints {
 public:
  // `registry` must outlive the endpoints; `gate` (may be null: calls are
  // not counted) is the first half of every function context.
  RemotingEndpoints(TypeRegistry& registry, CallGate* gate) : registry_(registry), gate_(gate) {}
  RemotingEndpoints(const RemotingEndpoints&) = delete;
  RemotingEndpoints& operator=(const RemotingEndpoints&) = delete;

  TypeRegistry& registry() { return registry_; }
  const RouteTable& routes() const { return routes_; }
  RouteTable& routes() { return routes_; }
  const FunctionContexts& contexts() const { return contexts_; }

  // The tags every later registration gets.
  void SetTags(std::vector<std::string> tags) { tags_ = std::move(tags); }
  const std::vector<std::string>& tags() const { return tags_; }

  // Registers `callable` for GET, POST or `method` at `path` (see
  // route_builder.h). Never fails; an existing name gives a failed builder.
  template <class Callable>
  RouteBuilder Get(std::string_view path, Callable&& callable) {
    return Register(HttpMethod::kGet, path, std::forward<Callable>(callable));
  }
  template <class Callable>
  RouteBuilder Post(std::string_view path, Callable&& callable) {
    return Register(HttpMethod::kPost, path, std::forward<Callable>(callable));
  }
  template <class Callable>
  RouteBuilder Register(HttpMethod method, std::string_view path, Callable&& callable) {
    return RegisterRoute(registry_, routes_, method, path, std::forward<Callable>(callable), tags_);
  }
  // Registers `callable` under `name` without method or path.
  template <class Callable>
  RouteBuilder RegisterFunction(std::string_view name, Callable&& callable) {
    return RegisterNamedFunction(registry_, routes_, name, std::forward<Callable>(callable), tags_);
  }

  // Builds the description on the first call and returns it; later calls
  // return the same description unchanged. May throw std::bad_alloc.
  const Client::ApiDescription& BuildApiDescription();
  // The built description; nullptr until built.
  const Client::ApiDescription* api_description() const {
    return built_ ? &block_.description() : nullptr;
  }

 private:
  TypeRegistry& registry_;
  CallGate* gate_;
  std::vector<std::string> tags_;
  RouteTable routes_;
  FunctionContexts contexts_;
  ApiDescriptionBlock block_;
  bool built_ = false;
};

}  // namespace Kestrel

#endif  // VYN_REMOTING_REMOTING_ENDPOINTS_H_
