#include "log/assertion_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "log/logger.h"
#include "platform/debug_output.h"
#include "platform/process_info.h"
#include "tests/support/capturing_log_target.h"

namespace Kestrel {
namespace {

TEST(AssertionReportTest, TextHasEachGivenPartInOrder) {
  EXPECT_EQ(BuildAssertionReport("x > 0", nullptr, nullptr, 0, nullptr),
            "Assertion failed!\n\nExpression: x > 0");
  EXPECT_EQ(BuildAssertionReport(nullptr, nullptr, "a", 12, nullptr),
            "Assertion failed!\n\nFile: a\nLine: 12\n\n");
  EXPECT_EQ(BuildAssertionReport("ok()", "no pages left", "pool.cpp", 301, "Grow"),
            "Assertion failed!\n\n"
            "File: pool.cpp\n"
            "Line: 301\n\n"
            "Function: Grow\n\n"
            "Expression: ok()\n\n"
            "Description: no pages left");
  EXPECT_EQ(BuildAssertionReport("", "only why", "", 0, ""),
            "Assertion failed!\n\n\n\nDescription: only why");
  EXPECT_EQ(BuildAssertionReport(nullptr, nullptr, nullptr, -4, nullptr),
            "Assertion failed!\n\nLine: -4\n\n");
  EXPECT_EQ(BuildAssertionReport(nullptr, nullptr, nullptr, 0, nullptr), "Assertion failed!\n\n");
}

void CaptureDebugOutput(const char* text, void* context) {
  static_cast<std::string*>(context)->append(text);
}

TEST(AssertionReportTest, ReportIsLoggedAsAnErrorInTheDebugGroup) {
  const LogApi* api = GetLogApi();
  api->AddRef();
  LogTargetTable* std_err = api->StdErrTarget();
  std_err->Detach(std_err);
  std::string debugger;
  const Platform::DebugOutputObserver previous =
      Platform::SetDebugOutputObserver(&CaptureDebugOutput, &debugger);
  CapturingLogTarget capture;
  capture.Configure(kLogLevelOkay, 0, 0, "#L| #G| #M");

  // A "%" in the texts is not taken for a format directive.
  ReportAssertion("n % 2 == 0", "odd %s", "f.cpp", 7, "Half");
  const std::string text =
      "Assertion failed!\n\nFile: f.cpp\nLine: 7\n\nFunction: Half\n\n"
      "Expression: n % 2 == 0\n\nDescription: odd %s";
  ASSERT_EQ(capture.entries().size(), 1u);
  EXPECT_EQ(capture.entries()[0].level, kLogLevelError);
  EXPECT_EQ(capture.entries()[0].groups, kLogGroupDbg);
  EXPECT_EQ(capture.entries()[0].message, text);
  EXPECT_EQ(capture.lines()[0], " ERROR| DBG| " + text + "\n");

  // The built-in debugger target shows it too.
  char thread[16];
  std::snprintf(thread, sizeof(thread), "%08X", Platform::CurrentThreadId());
  EXPECT_EQ(debugger, std::string("assertion_report_test") + Platform::kExecutableSuffix + "(" +
                          thread + "):  ERROR| " + text + "\n");

  Platform::SetDebugOutputObserver(previous, nullptr);
  capture.Detach();
  api->Release();
}

}  // namespace
}  // namespace Kestrel
