#include "remoting/remoting_endpoints.h"

namespace Kestrel {

const Client::ApiDescription& RemotingEndpoints::BuildApiDescription() {
  if (!built_) {
    Kestrel::BuildApiDescription(block_, registry_, routes_, contexts_, gate_);
    built_ = true;
  }
  return block_.description();
}

}  // namespace Kestrel
