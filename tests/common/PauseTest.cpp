// Short pauses: none ends early, however short (on Windows a sleep shorter
// than the system timer's tick does not sleep at all), and each one is
// counted by the way it was timed.
#include <gtest/gtest.h>

#include "Pause.h"

namespace {

using namespace std::chrono_literals;

uint64_t PausesMade() {
  uint64_t total = 0;
  for (int clock = 0; clock < pacing::kPauseClocks; ++clock)
    total += pacing::PauseCount(static_cast<pacing::TPauseClock>(clock));
  return total;
}

TEST(Pause, NeverEndsEarlyAndCountsEachPause) {
  for (const std::chrono::microseconds duration : {1us, 50us, 800us, 1000us, 1500us, 20000us}) {
    const uint64_t before = PausesMade();
    const auto start = std::chrono::steady_clock::now();
    pacing::Pause(duration);
    EXPECT_GE(std::chrono::steady_clock::now() - start, duration) << duration.count() << " us";
    EXPECT_EQ(PausesMade(), before + 1) << duration.count() << " us";
  }
  const uint64_t before = PausesMade();
  pacing::Pause(0us);
  pacing::Pause(-3us);
  EXPECT_EQ(PausesMade(), before) << "no pause at all";
}

}  // namespace
