// The timer component against the platform double: when it arms the platform timer, and which
// ticks reach its handler.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forms/Timer.h"
#include "tests/double/PlatformDouble.h"

namespace {

using platform::testing::DeliverTick;
using platform::testing::TheDouble;
using ::testing::ElementsAre;

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override { TheDouble().Reset(); }
  void TearDown() override { TheDouble().Reset(); }

  // The timer calls the double made for arming and disarming, in order.
  static std::vector<std::string> TimerCalls() {
    std::vector<std::string> calls;
    for (const std::string& call : TheDouble().CallTexts()) {
      if (call.rfind("SetTimer", 0) == 0 || call.rfind("KillTimer", 0) == 0)
        calls.push_back(call);
    }
    return calls;
  }

  int ticks = 0;
  TTimer::Handler CountTicks() {
    return [this](TObject* /*Sender*/) { ++ticks; };
  }
};

TEST_F(TimerTest, AnIntervalOfZeroArmsNothingUntilAnIntervalIsGiven) {
  TTimer timer;
  timer.SetInterval(0);
  timer.SetOnTimer(CountTicks());
  EXPECT_THAT(TimerCalls(), ElementsAre());
  ASSERT_TRUE(DeliverTick("timer", 1));
  EXPECT_EQ(ticks, 0);

  timer.SetInterval(250);
  EXPECT_THAT(TimerCalls(), ElementsAre("SetTimer(timer,1,250)"));
  ASSERT_TRUE(DeliverTick("timer", 1));
  EXPECT_EQ(ticks, 1);

  // Back to zero disarms it again.
  timer.SetInterval(0);
  EXPECT_THAT(TimerCalls(), ElementsAre("SetTimer(timer,1,250)", "KillTimer(timer,1)"));
  ASSERT_TRUE(DeliverTick("timer", 1));
  EXPECT_EQ(ticks, 1);
}

TEST_F(TimerTest, ATickAlreadyQueuedWhenTheTimerIsSwitchedOffIsDropped) {
  TTimer timer;
  timer.SetOnTimer(CountTicks());
  EXPECT_THAT(TimerCalls(), ElementsAre("SetTimer(timer,1,1000)"));
  ASSERT_TRUE(DeliverTick("timer", 1));
  EXPECT_EQ(ticks, 1);
  // Only its own timer's ticks count.
  ASSERT_TRUE(DeliverTick("timer", 2));
  EXPECT_EQ(ticks, 1);

  // KillTimer leaves a WM_TIMER that is already queued where it is; it must not reach the handler.
  timer.SetEnabled(false);
  EXPECT_THAT(TimerCalls(), ElementsAre("SetTimer(timer,1,1000)", "KillTimer(timer,1)"));
  ASSERT_TRUE(DeliverTick("timer", 1));
  EXPECT_EQ(ticks, 1);

  timer.SetEnabled(true);
  ASSERT_TRUE(DeliverTick("timer", 1));
  EXPECT_EQ(ticks, 2);
}

}  // namespace
