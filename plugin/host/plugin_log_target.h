// `PluginLogTarget`: the log target that makes every log line of the plugin a
// line of the host's log, and `InstallHostLogTarget`, which routes the
// process's logger to it instead of the console targets.
//
// The module owns its `PluginLogTarget`; the host's function table is the
// host's and must stay valid while the target is attached. The target takes a
// reference on the logger for its life and detaches itself before it is
// destroyed, so the logger never calls into a host table that is gone.
//
//   std::unique_ptr<PluginLogTarget> target;
//   InstallHostLogTarget(target, core->functions);   // lines now reach core->Log
//   target.reset();                                   // detached, host no longer called
#ifndef VYN_PLUGIN_HOST_PLUGIN_LOG_TARGET_H_
#define VYN_PLUGIN_HOST_PLUGIN_LOG_TARGET_H_

#include <memory>

#include "host_abi/host_records.h"
#include "log/log_target.h"

namespace Kestrel::Client {

// The name the host log target is found by.
inline constexpr char kPluginLogTargetName[] = "PluginLogTarget";

class PluginLogTarget : public LogTarget {
 public:
  // `functions` may be null: the target then takes records and drops them.
  explicit PluginLogTarget(CoreFunctionTable* functions);
  ~PluginLogTarget() override;

  const char* Name() const override;
  // Hands the record's level and message (not a formatted line) to the host's
  // `Log`. Always returns true.
  bool Write(const LogRecord& record) override;

 private:
  CoreFunctionTable* functions_;
};

// Routes the logger to the host: unless a target named "PluginLogTarget" is
// attached already, detaches the three console targets, sets the logger's
// level to 0 and its suppressed groups to "XTR", replaces `*owner` by a new
// target bound to `functions` and attaches it at level 0 with every group and
// the format "#D| #L| #G| #M". `functions` may be null (the target then
// drops every line). Never fails; call it from one thread at a time.
void InstallHostLogTarget(std::unique_ptr<PluginLogTarget>& owner, CoreFunctionTable* functions);

}  // namespace Kestrel::Client

#endif  // VYN_PLUGIN_HOST_PLUGIN_LOG_TARGET_H_
