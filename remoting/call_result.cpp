#include "remoting/call_result.h"

namespace Kestrel {

void MaterializeOutcome(CallResult& result) {
  if (result.native == nullptr) return;
  result.native->Convert(result.outcome);
  result.native.reset();
}

void SetFailure(CallResult& result, std::string_view message) {
  result.outcome.SetError(message);
  result.stream.reset();
  result.native.reset();
}

void TakeFailedParse(CallResult& result, const PropertyResult& parsed) {
  result.outcome = parsed;
  result.stream.reset();
  result.native.reset();
}

}  // namespace Kestrel
