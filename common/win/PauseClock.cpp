// Pauses on Windows. Sleep() and a waitable timer end on a tick of the
// system timer, 15.6 ms apart unless a program raised its resolution; a
// high-resolution waitable timer (Windows 10 1803 and later) does not
// depend on it. Each thread has a timer of its own, since a timer set by
// one thread would be reset by the next. Without high-resolution timers,
// an update raises the system timer to 1 ms while it runs.
#include <windows.h>
#include <timeapi.h>

#include <atomic>

#include "DllBinding.h"
#include "PauseClock.h"
#include "ThreadLocals.h"

namespace pacing::backend {

namespace {

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, missing from older SDK headers.
constexpr DWORD kHighResolutionTimer = 0x00000002;
constexpr UINT kRaisedPeriodMs = 1;

std::atomic<bool> gHighResolutionAllowed{true};
std::atomic<int> gRaisedHolds{0};

HANDLE NewTimer(bool AHighResolution) {
  return CreateWaitableTimerExW(nullptr, nullptr, AHighResolution ? kHighResolutionTimer : 0,
                                TIMER_ALL_ACCESS);
}

// The system offers high-resolution timers (older ones refuse the flag).
bool SystemHasHighResolutionTimers() {
  static const bool has = [] {
    const HANDLE probe = NewTimer(true);
    if (probe == nullptr) return false;
    CloseHandle(probe);
    return true;
  }();
  return has;
}

bool HighResolutionUsable() { return gHighResolutionAllowed.load() && SystemHasHighResolutionTimers(); }

// The system timer's period, from winmm.dll in System32 only, bound at the
// first raise and kept: a winmm.dll beside the program is never loaded.
struct TTimerPeriod {
  decltype(&::timeBeginPeriod) Begin = nullptr;
  decltype(&::timeEndPeriod) End = nullptr;
};

const TTimerPeriod& TimerPeriod() {
  static const TTimerPeriod bound = [] {
    static winbind::TDllBinding winmm(L"winmm.dll");
    TTimerPeriod calls;
    if (!winmm.Acquire({winbind::Bind("timeBeginPeriod", calls.Begin), winbind::Bind("timeEndPeriod", calls.End)}))
      return TTimerPeriod{};
    return calls;
  }();
  return bound;
}

class TThreadTimer {
 public:
  ~TThreadTimer() { Close(); }
  // The thread's timer, made again when the kind to use has changed; null
  // when the system has no timer to give.
  HANDLE Get(bool& AHighResolution) {
    const bool wanted = HighResolutionUsable();
    if (FHandle == nullptr || FHighResolution != wanted) {
      Close();
      FHandle = NewTimer(wanted);
      FHighResolution = wanted;
    }
    AHighResolution = FHighResolution;
    return FHandle;
  }

 private:
  void Close() {
    if (FHandle != nullptr) CloseHandle(FHandle);
    FHandle = nullptr;
  }
  HANDLE FHandle = nullptr;
  bool FHighResolution = false;
};

thread_local TThreadTimer tTimer;
const TThreadLocalsSafe kThreadLocalsSafe;

}  // namespace

TPauseClock SleepUntil(std::chrono::steady_clock::time_point ADeadline) {
  auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(ADeadline - std::chrono::steady_clock::now());
  if (left.count() < 0) left = {};
  bool highResolution = false;
  const HANDLE timer = tTimer.Get(highResolution);
  LARGE_INTEGER due;
  due.QuadPart = -(left.count() / 100 + 1);  // relative, in 100 ns units
  if (timer != nullptr && SetWaitableTimerEx(timer, &due, 0, nullptr, nullptr, nullptr, 0)) {
    WaitForSingleObject(timer, INFINITE);
  } else {
    Sleep(static_cast<DWORD>(left.count() / 1000000 + 1));
  }
  if (highResolution) return TPauseClock::HighResolution;
  return gRaisedHolds.load() > 0 ? TPauseClock::RaisedPeriod : TPauseClock::Coarse;
}

bool RaiseTimer() {
  if (HighResolutionUsable() || TimerPeriod().Begin == nullptr) return false;
  if (TimerPeriod().Begin(kRaisedPeriodMs) != TIMERR_NOERROR) return false;
  gRaisedHolds.fetch_add(1);
  return true;
}

void LowerTimer() {
  gRaisedHolds.fetch_sub(1);
  TimerPeriod().End(kRaisedPeriodMs);
}

void AllowHighResolution(bool AAllowed) { gHighResolutionAllowed.store(AAllowed); }

}  // namespace pacing::backend
