// `FunctionHandler`: the callable object behind an exposed function, and
// `TypedFunctionHandler`, which turns a C++ callable into one.
//
// The transport gathers one `BindingProperty` slot per declared argument,
// then calls `Prepare` (slots to native values, call data out), `Invoke`
// (runs the function, fills the `CallResult`) and `Release` (frees the call
// data). The call data belongs to the handler between `Prepare` and
// `Release`. A route shares ownership of its handler (see route.h).
//
// A typed handler wraps a callable returning `MaybeType<R>` or
// `RemotingTypedResult<R>` (typed_result.h); both answer alike. Its parameters
// are the declared arguments in order, as native values; it may also take
// `const RemotingRequest&` or `const HttpBaseTransport::Request&` (the
// request record) and `CallResult&` (to set status, content type, headers or
// a stream), anywhere in the list; those take no argument slot.
//
// Route registration (route_builder.h) makes every handler through
// `MakeTypedHandler`, after deducing the callable's `std::function` type:
//
//   std::function<MaybeType<Item>(int32_t, const std::string&)> find = ...;
//   std::shared_ptr<FunctionHandler> handler = MakeTypedHandler(find, &registry, record);
#ifndef VYN_REMOTING_FUNCTION_HANDLER_H_
#define VYN_REMOTING_FUNCTION_HANDLER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/assign_native.h"
#include "binding/binding_property.h"
#include "binding/convert_native.h"
#include "binding/native_walker.h"
#include "binding/static_type.h"
#include "binding/type_registry.h"
#include "remoting/call_result.h"
#include "remoting/remoting_request.h"
#include "remoting/typed_result.h"
#include "util/failure.h"

namespace Kestrel {

// One value per declared argument, in declaration order; made empty per call.
using ArgumentSlots = std::vector<BindingProperty>;

// Virtual operations in fixed slot order.
class FunctionHandler {
 public:
  // Converts `slots` into native argument values, recording the first failure
  // in `result`. Returns the call data for `Invoke` and `Release`, possibly
  // nullptr (also on failure when nothing needs releasing).
  virtual void* Prepare(CallResult& result, ArgumentSlots& slots, uint32_t caller_id) = 0;  // 1
  // Runs the function with the prepared `call_data` (nullptr when `Prepare`
  // returned it) and fills `result`.
  // `request` is the request record, or nullptr when the handler takes none.
  virtual void Invoke(CallResult& result, RemotingRequest* request, void* call_data,
                      uint32_t caller_id) = 0;  // 2
  // Frees `call_data` from `Prepare`; nullptr is ignored.
  virtual void Release(void* call_data) = 0;  // 3
  // Not called by the transport.
  virtual void Reserved() {}  // 4
  // The static identity of the request parameter type, or of void.
  virtual const StaticTypeInfo& RequestParameterType() const = 0;  // 5
  virtual ~FunctionHandler() = default;                            // 6
};

namespace HandlerDetail {

template <class T>
using Bare = std::remove_cvref_t<T>;

template <class T>
inline constexpr bool kIsRequestParameter =
    std::is_same_v<Bare<T>, RemotingRequest> || std::is_same_v<Bare<T>, HttpBaseTransport::Request>;

template <class T>
inline constexpr bool kIsResultParameter = std::is_same_v<Bare<T>, CallResult>;

// True for a parameter that takes an argument slot.
template <class T>
inline constexpr bool kIsNative = !kIsRequestParameter<T> && !kIsResultParameter<T>;

// Storage of one parameter in the call data: the native value, or nothing.
struct NoStorage {};
template <class T>
using Storage = std::conditional_t<kIsNative<T>, Bare<T>, NoStorage>;

// The slot index of parameter `index`: the native parameters before it.
template <class... Args>
constexpr std::size_t SlotIndex(std::size_t index) {
  constexpr bool kNative[] = {kIsNative<Args>..., false};
  std::size_t slot = 0;
  for (std::size_t i = 0; i < index; ++i) slot += kNative[i] ? 1 : 0;
  return slot;
}

// The identity of `Arg` when it is a request parameter, else nullptr.
template <class Arg>
const StaticTypeInfo* RequestParameterIdentity() {
  if constexpr (kIsRequestParameter<Arg>) {
    return &StaticType::HashCode<Bare<Arg>>();
  } else {
    return nullptr;
  }
}

// The identity of the first request parameter, or of void.
template <class... Args>
const StaticTypeInfo& RequestIdentity() {
  const StaticTypeInfo* found = nullptr;
  ((found = found != nullptr ? found : RequestParameterIdentity<Args>()), ...);
  return found != nullptr ? *found : StaticType::HashCode<void>();
}

// What a handler may return, and the `MaybeType` it answers with. The
// primary template is empty: any other return type is refused.
template <class Returned>
struct HandlerReturn {};

template <class R>
struct HandlerReturn<MaybeType<R>> {
  using Value = R;
  static const MaybeType<R>& View(const MaybeType<R>& returned) { return returned; }
};

template <class R>
struct HandlerReturn<RemotingTypedResult<R>> {
  using Value = R;
  static const MaybeType<R>& View(const RemotingTypedResult<R>& returned) {
    return returned.result();
  }
};

// True for a type a handler may return.
template <class Returned>
concept HandlerReturnType = requires {
  typename HandlerReturn<Returned>::Value;
};

// The value type R of a handler returning `Returned`.
template <HandlerReturnType Returned>
using ReturnValue = typename HandlerReturn<Returned>::Value;

}  // namespace HandlerDetail

// A handler's returned `Returned` (`MaybeType<R>` or `RemotingTypedResult<R>`)
// kept where the handler makes it, as the call's native outcome: the response
// is written from its value, with no copy or move on the way. Holds a failure
// only until the transport has taken its message. `registry` must outlive it.
template <HandlerDetail::HandlerReturnType Returned>
class HeldReturnedOutcome final : public NativeOutcome {
  using R = HandlerDetail::ReturnValue<Returned>;

 public:
  // Holds what `make()` returns, made in place. `function` is the function's
  // record (may be null): the record of the struct its result holds is taken
  // from it when it names that struct, as the records of nested structs are
  // taken from their fields, instead of being looked up for every walk.
  template <class Make>
  HeldReturnedOutcome(Make&& make, TypeRegistry& registry, const FunctionRecord* function)
      : returned_(std::forward<Make>(make)()), registry_(registry), function_(function) {}

  // The handler's result: its value or its failure.
  const MaybeType<R>& returned() const {
    return HandlerDetail::HandlerReturn<Returned>::View(returned_);
  }
  NativeWalk Walk() const override { return NativeWalk{&WalkHeld, this, &registry_}; }
  void Convert(PropertyResult& output) const override {
    ConvertNative(output, returned().value(), registry_);
  }

 private:
  // The walk of a held outcome (`held`, never null), as `WalkNative` of its
  // value.
  static bool WalkHeld(NativeSink& sink, const void* held, TypeRegistry& registry) {
    const auto& outcome = *static_cast<const HeldReturnedOutcome*>(held);
    return WalkValue<R>(sink, outcome.returned().value(), outcome.ElementType(), registry);
  }

  // The record of the struct R holds (innermost for containers), or null.
  const TypeRecord* ElementType() const {
    const StaticTypeInfo* identity = ConversionDetail::InnermostIdentity<R>();
    if (identity == nullptr) return nullptr;
    if (function_ != nullptr) {
      const TypeRecord* named = function_->result_type.primary.element_type;
      if (named != nullptr && named->identity() != nullptr &&
          named->identity()->hash_code == identity->hash_code) {
        return named;
      }
    }
    return FindRegisteredType(registry_, identity);
  }

  Returned returned_;
  TypeRegistry& registry_;
  const FunctionRecord* function_;
};

// A handler over a callable `Returned(Args...)`, where `Returned` is
// `MaybeType<R>` or `RemotingTypedResult<R>`; see the header comment.
template <HandlerDetail::HandlerReturnType Returned, class... Args>
class TypedFunctionHandler final : public FunctionHandler {
 public:
  using Function = std::function<Returned(Args...)>;

  // `registry` must outlive the handler and is never null; `function` names
  // the arguments in messages and may be null (the names are then empty).
  TypedFunctionHandler(Function callable, TypeRegistry* registry, const FunctionRecord* function)
      : callable_(std::move(callable)), registry_(registry), function_(function) {}

  void* Prepare(CallResult& result, ArgumentSlots& slots, uint32_t /*caller_id*/) override {
    if constexpr (!kHoldsArguments) {
      // Nothing to hold: every call shares the one stateless instance.
      static CallData stateless;
      return &stateless;
    } else {
      auto data = std::make_unique<CallData>();
      PrepareAll(result, slots, *data, std::index_sequence_for<Args...>{});
      return data.release();
    }
  }

  void Invoke(CallResult& result, RemotingRequest* request, void* call_data,
              uint32_t /*caller_id*/) override {
    if (call_data == nullptr) return;
    CallData& data = *static_cast<CallData*>(call_data);
    const auto call = [&]() -> Returned {
      if constexpr (kTakesRequest) {
        if (request != nullptr) return InvokeAll(result, request, data, kParameters);
        HttpBaseTransport::Request fallback;
        return InvokeAll(result, &fallback, data, kParameters);
      } else {
        return InvokeAll(result, nullptr, data, kParameters);
      }
    };
    if constexpr (std::is_void_v<R>) {
      const Returned returned = call();
      if (returned.is_failure()) Fail(result, returned.failure());
    } else {
      // The returned value is made inside the call result and stays there:
      // the response is written from it without a tree (and without a copy).
      // A callable that takes the call result cannot drop it while it is
      // being made: the slot holds it only once it is complete.
      const HeldReturnedOutcome<Returned>& held =
          result.native.emplace<HeldReturnedOutcome<Returned>>(call, *registry_, function_);
      const MaybeType<R>& returned = held.returned();
      if (returned.is_failure()) {
        Fail(result, returned.failure());
      } else if (!result.outcome.IsValid() || !result.outcome.IsEmpty()) {
        // The callable set the outcome itself: the value is converted into it.
        ConvertNative(result.outcome, returned.value(), *registry_);
        result.native.reset();
      }
    }
  }

  void Release(void* call_data) override {
    if constexpr (kHoldsArguments) delete static_cast<CallData*>(call_data);
  }

  const StaticTypeInfo& RequestParameterType() const override {
    return HandlerDetail::RequestIdentity<Args...>();
  }

 private:
  using R = HandlerDetail::ReturnValue<Returned>;
  using CallData = std::tuple<HandlerDetail::Storage<Args>...>;
  // Whether a call needs storage of its own for native arguments.
  static constexpr bool kHoldsArguments = (HandlerDetail::kIsNative<Args> || ...);
  // Whether the callable takes the request record.
  static constexpr bool kTakesRequest = (HandlerDetail::kIsRequestParameter<Args> || ...);
  static constexpr std::index_sequence_for<Args...> kParameters{};

  // Makes `result` failed with `failure`'s message and, when its code is not
  // 0, its status. `failure` may belong to the outcome `result` holds.
  static void Fail(CallResult& result, const Failure& failure) {
    const int32_t code = failure.code();
    // Copies the message before the held outcome, which may own it, is dropped.
    SetFailure(result, failure.message());
    if (code != 0) result.status_code = static_cast<uint32_t>(code);
  }

  template <std::size_t... I>
  void PrepareAll(CallResult& result, ArgumentSlots& slots, CallData& data,
                  std::index_sequence<I...>) {
    (PrepareOne<I>(result, slots, data), ...);
  }

  template <std::size_t I>
  void PrepareOne(CallResult& result, ArgumentSlots& slots, CallData& data) {
    using Parameter = std::tuple_element_t<I, std::tuple<Args...>>;
    if constexpr (HandlerDetail::kIsNative<Parameter>) {
      if (!result.IsGood()) return;
      constexpr std::size_t kSlot = HandlerDetail::SlotIndex<Args...>(I);
      const BindingProperty& input =
          kSlot < slots.size() ? slots[kSlot] : BindingProperty::EmptyValue();
      const ArgumentRecord* argument = nullptr;
      if (function_ != nullptr && kSlot < function_->arguments.size()) {
        argument = &function_->arguments[kSlot];
      }
      // An optional argument nobody gave keeps its native default.
      if (input.IsEmpty() && argument != nullptr && argument->optional) return;
      const std::string_view name = argument != nullptr ? std::string_view(argument->name) : "";
      AssignNative(result.outcome, std::get<I>(data), input, name, *registry_);
      if (!result.IsGood()) result.stream.reset();
    }
  }

  // Calls the callable with every parameter (`Pass`); `record` may be null
  // unless the callable takes the request record.
  template <std::size_t... I>
  Returned InvokeAll(CallResult& result, [[maybe_unused]] RemotingRequest* record, CallData& data,
                     std::index_sequence<I...>) {
    return std::invoke(callable_, Pass<I>(result, record, data)...);
  }

  // The value handed to parameter I. `record` is non-null when the callable
  // takes the request record.
  template <std::size_t I>
  decltype(auto) Pass(CallResult& result, RemotingRequest* record, CallData& data) {
    using Parameter = std::tuple_element_t<I, std::tuple<Args...>>;
    if constexpr (HandlerDetail::kIsResultParameter<Parameter>) {
      return static_cast<CallResult&>(result);
    } else if constexpr (HandlerDetail::kIsRequestParameter<Parameter>) {
      // The transport always builds the derived record, so either type fits.
      return static_cast<HandlerDetail::Bare<Parameter>&>(
          static_cast<HttpBaseTransport::Request&>(*record));
    } else if constexpr (std::is_lvalue_reference_v<Parameter>) {
      return static_cast<HandlerDetail::Bare<Parameter>&>(std::get<I>(data));
    } else {
      return static_cast<HandlerDetail::Bare<Parameter>&&>(std::get<I>(data));
    }
  }

  Function callable_;
  TypeRegistry* registry_;
  const FunctionRecord* function_;
};

// Makes a handler of the callable held in `callable`. `registry` must
// outlive the handler and is never null; `function` may be null.
template <HandlerDetail::HandlerReturnType Returned, class... Args>
std::shared_ptr<FunctionHandler> MakeTypedHandler(std::function<Returned(Args...)> callable,
                                                  TypeRegistry* registry,
                                                  const FunctionRecord* function) {
  return std::make_shared<TypedFunctionHandler<Returned, Args...>>(std::move(callable), registry,
                                                                   function);
}

}  // namespace Kestrel

#endif  // VYN_REMOTING_FUNCTION_HANDLER_H_
