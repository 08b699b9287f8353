#include "Pause.h"

#include <array>
#include <atomic>

#include "PauseClock.h"

namespace pacing {

namespace {
std::array<std::atomic<uint64_t>, kPauseClocks> gCounts{};
}

const char* ClockName(TPauseClock AClock) {
  switch (AClock) {
    case TPauseClock::Monotonic: return "monotonic clock";
    case TPauseClock::HighResolution: return "high-resolution timer";
    case TPauseClock::RaisedPeriod: return "timer raised to 1 ms";
    case TPauseClock::Coarse: return "system tick";
  }
  return "?";
}

void Pause(std::chrono::microseconds ADuration) {
  if (ADuration.count() <= 0) return;
  const auto deadline = std::chrono::steady_clock::now() + ADuration;
  TPauseClock clock = TPauseClock::Monotonic;
  // A timer may fire a little before the clock that measures the pause
  // has reached its end: the rest is waited out the same way.
  do {
    clock = backend::SleepUntil(deadline);
  } while (std::chrono::steady_clock::now() < deadline);
  gCounts[static_cast<size_t>(clock)].fetch_add(1, std::memory_order_relaxed);
}

TFinePauses::TFinePauses() : FRaised(backend::RaiseTimer()) {}

TFinePauses::~TFinePauses() {
  if (FRaised) backend::LowerTimer();
}

uint64_t PauseCount(TPauseClock AClock) {
  return gCounts[static_cast<size_t>(AClock)].load(std::memory_order_relaxed);
}

void AllowHighResolutionTimer(bool AAllowed) { backend::AllowHighResolution(AAllowed); }

}  // namespace pacing
