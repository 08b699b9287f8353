#include "SimFrameClock.h"

#include <thread>

namespace sim {

TSimFrameClock::TClock::time_point TSimFrameClock::Claim(TClock::time_point ANow) {
  // Frames start on whole milliseconds of the clock.
  const auto boundary = std::chrono::ceil<std::chrono::microseconds>(ANow.time_since_epoch());
  const auto frames = (boundary.count() + kFrame.count() - 1) / kFrame.count();
  const TClock::time_point next(std::chrono::duration_cast<TClock::duration>(frames * kFrame));
  std::lock_guard<std::mutex> lock(FLock);
  if (next > FFrame) {
    FFrame = next;
    FUsed = 0;
  } else if (FUsed == FTransfersPerFrame) {
    FFrame += kFrame;
    FUsed = 0;
  }
  ++FUsed;
  return FFrame;
}

void TSimFrameClock::WaitForFrame(TSimFrameClock* AShared) {
  TClock::time_point slot = Claim(TClock::now());
  if (AShared) slot = AShared->Claim(slot);
  // Windows' sleeps may wake a little before the time asked for (seen
  // under Wine: 40 frames in 38.9 ms); a report never leaves before its frame.
  while (TClock::now() < slot) std::this_thread::sleep_until(slot);
}

}  // namespace sim
