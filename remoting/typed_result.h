// `RemotingTypedResult<T>`: what an exposed function's handler may return
// instead of a bare `MaybeType<T>`, naming the value as the result of a
// remoting call. It owns the `MaybeType<T>` it wraps; the transport unwraps it
// (function_handler.h) and answers exactly as for that `MaybeType<T>`: a value
// is converted into the response, a failure gives its message and, when its
// code is not 0, the status.
//
// Its static type identity is spelled with its one argument, so that the
// result of the GET of a resource has an identity and a readable name of its
// own:
//
//   RemotingTypedResult<Item> Find() { return Item{}; }   // or a Failure
//   StaticType::Name<RemotingTypedResult<Item>>()
//       // "const char *__cdecl StaticType::Name<class
//       //  Kestrel::RemotingTypedResult<struct Kestrel::Item>>(void)"
#ifndef VYN_REMOTING_TYPED_RESULT_H_
#define VYN_REMOTING_TYPED_RESULT_H_

#include <string>
#include <type_traits>
#include <utility>

#include "binding/static_type.h"
#include "util/failure.h"

namespace Kestrel {

// A value of T or a `Failure`; T is a value type (a function without a value
// returns `MaybeType<void>`).
template <class T>
class [[nodiscard]] RemotingTypedResult {
  static_assert(!std::is_void_v<T>, "A result without a value is MaybeType<void>");

 public:
  RemotingTypedResult(T value) : result_(std::move(value)) {}
  RemotingTypedResult(Failure failure) : result_(std::move(failure)) {}
  RemotingTypedResult(MaybeType<T> result) : result_(std::move(result)) {}
  // Holds a T made from `arguments` where it is kept, with no move of T: a
  // handler that returns a copy of a record makes that copy in its result.
  template <class... Arguments>
  explicit RemotingTypedResult(std::in_place_t, Arguments&&... arguments)
      : result_(std::in_place, std::forward<Arguments>(arguments)...) {}

  // The wrapped result; valid while this object lives.
  const MaybeType<T>& result() const { return result_; }
  // Moves the wrapped result out; this object is left valid but unspecified.
  MaybeType<T> TakeResult() && { return std::move(result_); }

 private:
  MaybeType<T> result_;
};

template <class T>
struct StaticTypeSpelling<RemotingTypedResult<T>> {
  static constexpr bool kDeclared = true;
  static std::string Text() {
    return TemplateSpelling("class Kestrel::RemotingTypedResult", {StaticTypeSpelling<T>::Text()});
  }
};

}  // namespace Kestrel

#endif  // VYN_REMOTING_TYPED_RESULT_H_
