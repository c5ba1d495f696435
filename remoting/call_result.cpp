#include "remoting/call_result.h"

namespace Kestrel {

void SetFailure(CallResult& result, std::string_view message) {
  result.outcome.SetError(message);
  result.stream.reset();
}

void TakeFailedParse(CallResult& result, const PropertyResult& parsed) {
  result.outcome = parsed;
  result.stream.reset();
}

}  // namespace Kestrel
