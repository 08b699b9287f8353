// Short pauses that are precise and leave the CPU to others: the window's
// pause after every image line (1 ms) and the update's waits (100 ms after
// a password, 500 ms between looks for the returning board).
//
// A plain sleep is not good enough on Windows: it lasts at least one tick
// of the system timer (15.6 ms unless someone raised it), and one shorter
// than a millisecond does not sleep at all. There each thread pauses on a
// high-resolution waitable timer of its own; a Windows without them
// (before Windows 10 1803) pauses on an ordinary one, and an update raises
// the system timer to 1 ms for as long as it runs (TFinePauses).
#pragma once

#include <chrono>
#include <cstdint>

namespace pacing {

// How a pause was timed.
enum class TPauseClock {
  Monotonic,       // Linux: a sleep until a point of the monotonic clock
  HighResolution,  // Windows: a high-resolution waitable timer
  RaisedPeriod,    // Windows without one, while a TFinePauses is held: the timer at 1 ms
  Coarse,          // Windows without one, none held: the system timer's own tick
};
inline constexpr int kPauseClocks = 4;

const char* ClockName(TPauseClock AClock);

// Sleeps for ADuration, any thread; never returns early. Nothing happens
// for a duration that is not positive.
void Pause(std::chrono::microseconds ADuration);

// Held by an update for as long as it runs. Where pauses depend on the
// system timer's resolution, it is raised to 1 ms while at least one is
// held (it costs power, so never for longer); elsewhere holding one changes
// nothing. Any thread; holders nest.
class TFinePauses {
 public:
  TFinePauses();
  ~TFinePauses();
  TFinePauses(const TFinePauses&) = delete;
  TFinePauses& operator=(const TFinePauses&) = delete;

 private:
  bool FRaised;
};

// Pauses made in this process so far that took AClock: which way a pause
// goes cannot be told from its length under Wine, whose timers are Linux's.
uint64_t PauseCount(TPauseClock AClock);

// Tests: pauses made afterwards behave as on a Windows without
// high-resolution timers (false), or as the system allows (true). Linux
// has only one way.
void AllowHighResolutionTimer(bool AAllowed);

}  // namespace pacing
