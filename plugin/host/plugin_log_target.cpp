#include "plugin/host/plugin_log_target.h"

#include <mutex>

#include "log/logger.h"

namespace Kestrel::Client {

PluginLogTarget::PluginLogTarget(CoreFunctionTable* functions)
    : LogTarget(LoggerHome()), functions_(functions) {
  GetLogApi()->AddRef();
}

PluginLogTarget::~PluginLogTarget() {
  Detach();
  GetLogApi()->Release();
}

const char* PluginLogTarget::Name() const {
  return kPluginLogTargetName;
}

bool PluginLogTarget::Write(const LogRecord& record) {
  std::lock_guard<std::mutex> guard(lock());
  if (functions_ != nullptr && functions_->Log != nullptr) {
    functions_->Log(functions_, record.level, record.message != nullptr ? record.message : "");
  }
  return true;
}

void InstallHostLogTarget(std::unique_ptr<PluginLogTarget>& owner, CoreFunctionTable* functions) {
  const LogApi* api = GetLogApi();
  api->AddRef();  // the logger must exist for the calls below
  if (api->FindTarget(kPluginLogTargetName) == nullptr) {
    for (LogTargetTable* console :
         {api->StdErrTarget(), api->StdOutTarget(), api->DebuggerTarget()}) {
      if (console != nullptr) console->Detach(console);
    }
    api->SetLevel(kLogLevelOkay);
    api->SetSuppressedGroups(kLogGroupXtr);
    owner.reset();
    owner = std::make_unique<PluginLogTarget>(functions);
    owner->Configure(api->GetLevel(), 0, 0, "#D| #L| #G| #M");
  }
  api->Release();
}

}  // namespace Kestrel::Client
