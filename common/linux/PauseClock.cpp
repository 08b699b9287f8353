// Pauses on Linux: the kernel's timers are precise to microseconds. A
// sleep until an absolute point of the monotonic clock (the one
// steady_clock reads) neither ends early nor drifts when a signal
// interrupts it. The kernel may add a thread's timer slack (50 us by
// default) to gather wake-ups; a pause asks for none, and gives the
// thread's own slack back after it.
#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

#include "PauseClock.h"

namespace pacing::backend {

namespace {
constexpr unsigned long kNoSlackNs = 1;  // 0 would mean "the default" to the kernel
}

TPauseClock SleepUntil(std::chrono::steady_clock::time_point ADeadline) {
  const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(ADeadline.time_since_epoch());
  timespec until{};
  until.tv_sec = static_cast<time_t>(since.count() / 1000000000);
  until.tv_nsec = static_cast<long>(since.count() % 1000000000);
  const int slack = prctl(PR_GET_TIMERSLACK);
  prctl(PR_SET_TIMERSLACK, kNoSlackNs);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
  if (slack > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack));
  return TPauseClock::Monotonic;
}

bool RaiseTimer() { return false; }
void LowerTimer() {}
void AllowHighResolution(bool) {}

}  // namespace pacing::backend
