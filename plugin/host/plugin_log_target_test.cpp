#include "plugin/host/plugin_log_target.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "log/logger.h"
#include "tests/support/capturing_log_target.h"

namespace Kestrel::Client {
namespace {

// A host function table that keeps the lines it is given.
struct LineHost {
  CoreFunctionTable table{};
  std::vector<std::pair<int32_t, std::string>> lines;

  LineHost() {
    table.Log = [](CoreFunctionTable* self, int32_t level, const char* text) {
      reinterpret_cast<LineHost*>(self)->lines.emplace_back(level, text);
    };
  }
};
static_assert(offsetof(LineHost, table) == 0);

// Holds a logger reference and restores the logger's defaults afterwards.
class HostLogTarget : public testing::Test {
 protected:
  void SetUp() override { api_->AddRef(); }
  void TearDown() override {
    api_->StdErrTarget()->Attach(api_->StdErrTarget());
    api_->DebuggerTarget()->Attach(api_->DebuggerTarget());
    api_->SetLevel(kLogLevelWarn);
    api_->Release();
  }
  const LogApi* api_ = GetLogApi();
};

TEST_F(HostLogTarget, RoutesTheLoggerToTheHost) {
  LineHost host;
  std::unique_ptr<PluginLogTarget> target;
  InstallHostLogTarget(target, &host.table);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(api_->FindTarget("PluginLogTarget"), target->table());
  EXPECT_EQ(api_->StdErrTarget()->IsAttached(api_->StdErrTarget()), 0);
  EXPECT_EQ(api_->DebuggerTarget()->IsAttached(api_->DebuggerTarget()), 0);
  EXPECT_EQ(api_->GetLevel(), kLogLevelOkay);
  EXPECT_EQ(api_->GetSuppressedGroups(), kLogGroupXtr);
  EXPECT_STREQ(target->Format(), "#D| #L| #G| #M");

  LogMessage(kLogLevelOkay, kLogGroupDbg, "fine %s", "here");
  LogMessage(kLogLevelAlways, 0, "always");
  LogMessage(kLogLevelError, kLogGroupXtr, "dropped");
  EXPECT_EQ(host.lines, (std::vector<std::pair<int32_t, std::string>>{
                            {kLogLevelOkay, "fine here"}, {kLogLevelAlways, "always"}}));

  // Destroying the target detaches it: the host is not called any more.
  target.reset();
  EXPECT_EQ(api_->FindTarget("PluginLogTarget"), nullptr);
  LogMessage(kLogLevelError, 0, "after");
  EXPECT_EQ(host.lines.size(), 2u);
}

TEST_F(HostLogTarget, InstallingTwiceChangesNothing) {
  CapturingLogTarget other("PluginLogTarget");
  other.Configure(kLogLevelError, 0, 0, "#M");
  api_->SetLevel(kLogLevelWarn);
  LineHost host;
  std::unique_ptr<PluginLogTarget> target;
  InstallHostLogTarget(target, &host.table);
  EXPECT_EQ(target, nullptr);
  EXPECT_NE(api_->StdErrTarget()->IsAttached(api_->StdErrTarget()), 0);
  EXPECT_EQ(api_->GetLevel(), kLogLevelWarn);
}

}  // namespace
}  // namespace Kestrel::Client
