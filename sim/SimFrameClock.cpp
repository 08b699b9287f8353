#include "SimFrameClock.h"

#include <algorithm>
#include <thread>

namespace sim {

TSimFrameClock::TClock::time_point TSimFrameClock::Claim(TClock::time_point ANow) {
  // Frames start on whole milliseconds of the clock.
  const auto boundary = std::chrono::ceil<std::chrono::microseconds>(ANow.time_since_epoch());
  const auto frames = (boundary.count() + kFrame.count() - 1) / kFrame.count();
  const TClock::time_point next(std::chrono::duration_cast<TClock::duration>(frames * kFrame));
  std::lock_guard<std::mutex> lock(FLock);
  const TClock::time_point slot = std::max(next, FNextFree);
  FNextFree = slot + kFrame;
  return slot;
}

void TSimFrameClock::WaitForFrame() {
  const TClock::time_point slot = Claim(TClock::now());
  // Windows' sleeps may wake a little before the time asked for (seen
  // under Wine: 40 frames in 38.9 ms); a report never leaves before its frame.
  while (TClock::now() < slot) std::this_thread::sleep_until(slot);
}

}  // namespace sim
