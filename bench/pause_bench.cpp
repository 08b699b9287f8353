// 1 000 pauses of 1 ms, the window's pause after every image line, timed
// on the steady clock: the pause as an update makes it, the same outside
// an update, the same as on a Windows without high-resolution timers, and
// for comparison a plain std::this_thread::sleep_for. Each row says which
// way its pauses went (from the pause counts). Under Wine every way runs
// on Linux's timers, so the figures there say little about Windows.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "Pause.h"

namespace {

using namespace std::chrono_literals;
constexpr int kPauses = 1000;

// The ways taken by the pauses counted between two calls.
std::string Ways(const uint64_t (&ABefore)[pacing::kPauseClocks]) {
  std::string ways;
  for (int i = 0; i < pacing::kPauseClocks; ++i) {
    const auto clock = static_cast<pacing::TPauseClock>(i);
    if (pacing::PauseCount(clock) == ABefore[i]) continue;
    if (!ways.empty()) ways += ", ";
    ways += pacing::ClockName(clock);
  }
  return ways.empty() ? "not counted" : ways;
}

void Row(const char* ALabel, const std::function<void()>& APause) {
  uint64_t before[pacing::kPauseClocks];
  for (int i = 0; i < pacing::kPauseClocks; ++i) before[i] = pacing::PauseCount(static_cast<pacing::TPauseClock>(i));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kPauses; ++i) APause();
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-52s %9.1f ms  %6.3f ms each  (%s)\n", ALabel, ms, ms / kPauses, Ways(before).c_str());
}

}  // namespace

int main() {
  std::printf("%d pauses of 1 ms\n", kPauses);
  const auto onePause = [] { pacing::Pause(1ms); };
  {
    const pacing::TFinePauses update;
    Row("Pause, during an update", onePause);
  }
  Row("Pause, outside an update", onePause);
  pacing::AllowHighResolutionTimer(false);
  {
    const pacing::TFinePauses update;
    Row("Pause, no high-resolution timer, during an update", onePause);
  }
  Row("Pause, no high-resolution timer, outside an update", onePause);
  pacing::AllowHighResolutionTimer(true);
  Row("std::this_thread::sleep_for(1 ms)", [] { std::this_thread::sleep_for(1ms); });
  return 0;
}
