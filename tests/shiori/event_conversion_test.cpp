#include "shiori/event_conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelka {
namespace {

using Outcome = TimerConversion;

// One OnSecondChange: what the server finds, what it should become, the counters after it.
struct SecondStep {
  bool thinkFinished;
  std::uint32_t interval;
  bool listenPending;
  Outcome expected;
  std::uint32_t secondsAfter;
  std::uint32_t listenAfter;
};

void runSteps(EventCounters& counters, const std::vector<SecondStep>& steps) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const SecondStep& step = steps[i];
    const TimerInputs inputs{step.thinkFinished, step.interval, step.listenPending};
    EXPECT_EQ(convertSecondChange(counters, inputs), step.expected) << "step " << i;
    EXPECT_EQ(counters.secondCounter, step.secondsAfter) << "step " << i;
    EXPECT_EQ(counters.listenCounter, step.listenAfter) << "step " << i;
  }
}

TEST(EventConversionTest, FreeTalkFallsOnTheSecondThatReachesTheInterval) {
  EventCounters counters;
  counters.secondCounter = 118;
  runSteps(counters, {
                         {false, 120, false, Outcome::None, 119, 0},
                         {false, 120, false, Outcome::FreeTalk, 0, 0},
                         {false, 120, false, Outcome::None, 1, 0},
                         {false, 0, false, Outcome::None, 2, 0},   // 0: free talk off
                         // An interval already passed is due at once.
                         {false, 2, false, Outcome::FreeTalk, 0, 0},
                     });
}

TEST(EventConversionTest, ThinkResultComesFirstAndTheSecondsKeepCounting) {
  EventCounters counters;
  counters.secondCounter = 2;
  counters.listenWait = 1;
  runSteps(counters, {
                         // Free talk and listen time-out are both due, yet the result wins.
                         {true, 3, true, Outcome::ThinkResult, 3, 0},
                         {true, 3, true, Outcome::ThinkResult, 4, 0},
                         {false, 3, true, Outcome::FreeTalk, 0, 0},
                         {false, 3, true, Outcome::ListenTimeout, 1, 0},
                     });
}

TEST(EventConversionTest, ListenCountsDownOnlyWhilePending) {
  EventCounters counters;
  counters.listenWait = 3;
  runSteps(counters, {
                         {false, 0, false, Outcome::None, 1, 0},
                         {false, 0, true, Outcome::None, 2, 1},
                         {false, 0, true, Outcome::None, 3, 2},
                         {false, 0, true, Outcome::ListenTimeout, 4, 0},
                         {false, 0, false, Outcome::None, 5, 0},
                     });
  // A negative wait reads as a huge unsigned one: no time-out.
  counters.listenWait = -1;
  counters.listenCounter = 1'000'000;
  runSteps(counters, {{false, 0, true, Outcome::None, 6, 1'000'001}});
}

TEST(EventConversionTest, TouchCountReachesItsThresholdOverOnePart) {
  struct Move {
    std::u16string part;
    bool touch;
    std::uint32_t count;
  };
  const Move moves[] = {
      {u"head", false, 0}, {u"head", false, 1}, {u"head", false, 2}, {u"head", true, 3},
      {u"head", true, 4},  {u"hand", false, 0}, {u"hand", false, 1}, {u"", false, 0},
      {u"hand", false, 0},
  };
  EventCounters counters;
  for (const Move& move : moves) {
    EXPECT_EQ(convertMouseMove(counters, move.part), move.touch);
    EXPECT_EQ(counters.touchCounter, move.count);
    EXPECT_EQ(counters.touchPart, move.part);
  }
}

}  // namespace
}  // namespace zelka
