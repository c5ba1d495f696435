// Route registration: an exposed function is registered in the type registry
// with argument and result types deduced from its handler's C++ signature,
// gets a `FunctionRoute` in the module's `RouteTable`, and is then described
// through the returned `RouteBuilder` (arguments with their locations, the
// body argument, description, tags).
//
// A name that is already registered gives a builder in its failed state: it
// changes neither the registry nor the route, and its argument declarations
// only advance its position. The registry and the table own everything
// registered; the builder is a short-lived view over them.
//
//   RegisterRoute(registry, routes, HttpMethod::kPost, "/items/{id}",
//                 [](int32_t id, const Item& item) -> MaybeType<Item> { ... }, tags)
//       .Argument("id", "The item's id.", ArgumentLocation::kPath)
//       .Body("item", "The new item.");
#ifndef VYN_REMOTING_ROUTE_BUILDER_H_
#define VYN_REMOTING_ROUTE_BUILDER_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/type_registry.h"
#include "host_abi/http_method.h"
#include "remoting/function_handler.h"
#include "remoting/route.h"

namespace Kestrel {

class RouteBuilder {
 public:
  // `route` is null for a builder in its failed state.
  RouteBuilder(FunctionBuilder function, FunctionRoute* route)
      : function_(function), route_(route) {}

  bool failed() const { return route_ == nullptr || function_.failed(); }
  // The registry's record; never null.
  const FunctionRecord* record() const { return function_.record(); }
  // The route being built; nullptr in the failed state.
  FunctionRoute* route() const { return failed() ? nullptr : route_; }
  // The argument position the next declaration fills.
  std::size_t position() const { return function_.position(); }

  // Sets the path template (one trailing '/' of a longer text is dropped).
  RouteBuilder& SetPath(std::string_view path);
  // Sets the method and clears a custom method name.
  RouteBuilder& SetMethod(HttpMethod method);
  // Sets the custom method (`kCustom`) named `name`.
  RouteBuilder& SetCustomMethod(std::string_view name);

  // Declares the argument at the current position and advances. A location
  // other than `kAny` restricts where the argument may be bound from; an
  // override with kind 0 keeps the type deduced from the handler.
  RouteBuilder& Argument(std::string_view name, std::string_view description = {},
                         ArgumentLocation location = ArgumentLocation::kAny, bool optional = false,
                         FieldType type_override = {});
  // Declares the argument at the current position as the body argument.
  RouteBuilder& Body(std::string_view name, std::string_view description = {},
                     FieldType type_override = {});

  RouteBuilder& SetDescription(std::string_view description);
  RouteBuilder& SetHelp(std::string_view help);
  RouteBuilder& SetNameSpace(std::string_view name_space);
  // Declares the handler safe to run on several host threads at once
  // (`FunctionRecord::thread_safe`); the host may serialise calls otherwise.
  RouteBuilder& SetThreadSafe(bool thread_safe);
  RouteBuilder& SetAsync(bool async);
  RouteBuilder& SetResultOverride(FieldType type_override);
  // Appends a tag; an empty text is ignored.
  RouteBuilder& AddTag(std::string_view tag);
  RouteBuilder& AddTags(const std::vector<std::string>& tags);

 private:
  FunctionBuilder function_;
  FunctionRoute* route_;
};

namespace RouteDetail {

// Registers `name` with the types of the native parameters of Args and the
// result R. An existing name gives a failed builder.
template <class R, class... Args>
FunctionBuilder RegisterTypedFunction(TypeRegistry& registry, std::string_view name) {
  std::vector<FieldType> argument_types;
  (
      [&] {
        if constexpr (HandlerDetail::kIsNative<Args>) {
          argument_types.push_back(registry.DeduceFieldType<HandlerDetail::Bare<Args>>());
        }
      }(),
      ...);
  FieldType result_type;
  if constexpr (!std::is_void_v<R>) result_type = registry.DeduceFieldType<R>();
  return registry.RegisterFunction(name, result_type, argument_types);
}

template <HandlerDetail::HandlerReturnType Returned, class... Args>
RouteBuilder RegisterFunctionRoute(TypeRegistry& registry, RouteTable& routes,
                                   std::string_view name,
                                   std::function<Returned(Args...)> callable) {
  FunctionBuilder function =
      RegisterTypedFunction<HandlerDetail::ReturnValue<Returned>, Args...>(registry, name);
  if (function.failed()) return RouteBuilder(function, nullptr);
  auto handler = MakeTypedHandler(std::move(callable), &registry, function.record());
  bool created = false;
  FunctionRoute& route = routes.Register(function.record(), name, std::move(handler), &created);
  // A route left from an earlier registration of the same name stays as it was.
  return RouteBuilder(function, created ? &route : nullptr);
}

}  // namespace RouteDetail

// Registers the function named `name` served by `callable` (a callable object
// with a deducible signature returning a `MaybeType` or a
// `RemotingTypedResult`) and its route, without
// method or path, and adds `tags`. Never fails: an existing name gives a
// builder in its failed state.
template <class Callable>
RouteBuilder RegisterNamedFunction(TypeRegistry& registry, RouteTable& routes,
                                   std::string_view name, Callable&& callable,
                                   const std::vector<std::string>& tags = {}) {
  using Function = decltype(std::function{std::forward<Callable>(callable)});
  RouteBuilder builder = RouteDetail::RegisterFunctionRoute(
      registry, routes, name, Function(std::forward<Callable>(callable)));
  builder.AddTags(tags);
  return builder;
}

// Registers `callable` for `method` and `path` under the name
// `FunctionNameFromRoute(method, path)` (see `RegisterNamedFunction`).
template <class Callable>
RouteBuilder RegisterRoute(TypeRegistry& registry, RouteTable& routes, HttpMethod method,
                           std::string_view path, Callable&& callable,
                           const std::vector<std::string>& tags = {}) {
  RouteBuilder builder =
      RegisterNamedFunction(registry, routes, FunctionNameFromRoute(method, path),
                            std::forward<Callable>(callable), tags);
  builder.SetMethod(method).SetPath(path);
  return builder;
}

}  // namespace Kestrel

#endif  // VYN_REMOTING_ROUTE_BUILDER_H_
