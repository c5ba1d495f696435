#include "devhost/host/call_gate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace Kestrel::DevHost {
namespace {

constexpr std::chrono::seconds kDeadline{10};

TEST(CallGateTest, ACallFromInsideACallPassesAClosedGate) {
  CallGate gate;
  auto nested = std::async(std::launch::async, [&gate] {
    gate.Enter();
    gate.Close();
    gate.Enter();
    gate.Leave();
    gate.Leave();
  });
  const bool passed = nested.wait_for(kDeadline) == std::future_status::ready;
  gate.Open();  // lets a wrongly held call finish either way
  EXPECT_TRUE(passed);
}

TEST(CallGateTest, ClosingHoldsNewCallsUntilOpenAndDrainsWithATimeout) {
  CallGate gate;
  gate.Close();
  std::promise<void> entered;
  std::promise<void> leave;
  auto call = std::async(std::launch::async, [&gate, &entered, leave = leave.get_future()] {
    gate.Enter();
    entered.set_value();
    leave.wait();
    gate.Leave();
  });
  auto in = entered.get_future();
  EXPECT_EQ(in.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  gate.Open();
  EXPECT_EQ(in.wait_for(kDeadline), std::future_status::ready);
  // Draining times out while the call let through is inside.
  EXPECT_FALSE(gate.WaitEmpty(std::chrono::milliseconds(1)));
  leave.set_value();
  EXPECT_TRUE(gate.WaitEmpty(kDeadline));
}

}  // namespace
}  // namespace Kestrel::DevHost
