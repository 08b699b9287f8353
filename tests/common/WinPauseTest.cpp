// Which way pauses go on Windows, read from their counts: under Wine the
// timers are Linux's whichever way is taken, so their lengths cannot tell.
// A high-resolution timer where the system has one; without it (as before
// Windows 10 1803) the system timer's tick, raised to 1 ms only while an
// update holds TFinePauses.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Pause.h"

namespace {

using namespace std::chrono_literals;
using pacing::TPauseClock;

struct TPathCase {
  bool HighResolutionAllowed;
  int Holders;
  TPauseClock Expected;
};

TEST(WinPause, TakesTheHighResolutionTimerOrRaisesTheSystemTimerOnlyWhileHeld) {
  // In order: the last rows show that the holders gave the timer back.
  const TPathCase cases[] = {
      {true, 0, TPauseClock::HighResolution}, {true, 1, TPauseClock::HighResolution},
      {false, 1, TPauseClock::RaisedPeriod},  {false, 2, TPauseClock::RaisedPeriod},
      {false, 0, TPauseClock::Coarse},        {true, 0, TPauseClock::HighResolution},
  };
  for (const TPathCase& c : cases) {
    pacing::AllowHighResolutionTimer(c.HighResolutionAllowed);
    std::vector<std::unique_ptr<pacing::TFinePauses>> holders;
    for (int i = 0; i < c.Holders; ++i) holders.push_back(std::make_unique<pacing::TFinePauses>());
    const uint64_t before = pacing::PauseCount(c.Expected);
    pacing::Pause(1ms);
    EXPECT_EQ(pacing::PauseCount(c.Expected), before + 1)
        << "allowed " << c.HighResolutionAllowed << ", " << c.Holders << " holders: expected "
        << pacing::ClockName(c.Expected);
  }
  pacing::AllowHighResolutionTimer(true);
}

}  // namespace
