#include "platform/child_process.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/termination_signal.h"

namespace Kestrel::Platform {
namespace {

TEST(ChildProcessTest, CapturesOutputOfBothStreamsAndTheExitCode) {
  std::string error;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start({VYN_TEST_PROGRAM, "streams"}, &error);
  ASSERT_NE(child, nullptr) << error;
  std::string line;
  ASSERT_TRUE(child->ReadLine(&line));
  EXPECT_EQ(line, "one");
  ASSERT_TRUE(child->ReadLine(&line));
  EXPECT_EQ(line, "two");
  EXPECT_FALSE(child->ReadLine(&line));  // the last line has no newline
  EXPECT_EQ(line, "three");
  EXPECT_EQ(child->Wait(), 3);
  EXPECT_EQ(child->Wait(), 3);
  EXPECT_FALSE(ProcessExists(child->pid()));
}

TEST(ChildProcessTest, TerminateEndsAWaitingChildAndMissingProgramsFail) {
  std::string error;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start({VYN_TEST_PROGRAM, "sleep"}, &error);
  ASSERT_NE(child, nullptr) << error;
  std::string line;
  ASSERT_TRUE(child->ReadLine(&line));
  EXPECT_TRUE(ProcessExists(child->pid()));
  child->Terminate();
  EXPECT_EQ(child->Wait(), 128 + TerminateSignalNumber());
  EXPECT_FALSE(ProcessExists(child->pid()));

  EXPECT_EQ(ChildProcess::Start({"/nonexistent/program"}, &error), nullptr);
  EXPECT_NE(error.find("cannot execute /nonexistent/program"), std::string::npos) << error;
  EXPECT_EQ(ChildProcess::Start({}, &error), nullptr);
  EXPECT_EQ(error, "no program to start");
}

TEST(ChildProcessTest, TerminateLetsAChildThatWaitsForTheSignalShutDownInOrder) {
  std::string error;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start({VYN_TEST_PROGRAM, "wait"}, &error);
  ASSERT_NE(child, nullptr) << error;
  std::string line;
  ASSERT_TRUE(child->ReadLine(&line));
  EXPECT_EQ(line, "ready");
  child->Terminate();
  EXPECT_EQ(child->ReadAll(), "signal " + std::to_string(TerminateSignalNumber()) + "\n");
  EXPECT_EQ(child->Wait(), 0);
}

TEST(TerminationSignalTest, ABlockedSignalIsTakenByTheWait) {
  ASSERT_TRUE(BlockTerminationSignals());
  RaiseTerminationSignal();  // stays pending: blocked in this (only) thread
  EXPECT_EQ(WaitForTerminationSignal(), TerminateSignalNumber());
  EXPECT_NE(InterruptSignalNumber(), TerminateSignalNumber());
}

}  // namespace
}  // namespace Kestrel::Platform
