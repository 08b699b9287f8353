// Time on the wire of a full-speed USB interrupt endpoint: the host polls it
// once per 1 ms frame, so at most one report a frame goes each way. A
// device on the simulated bus that asks for it spends this time on every
// report, so that run times show what real hardware would take.
#pragma once

#include <chrono>
#include <mutex>

namespace sim {

class TSimFrameClock {
 public:
  using TClock = std::chrono::steady_clock;
  // One full-speed frame (USB 2.0, 8.4.3.1: start-of-frame every 1 ms).
  static constexpr std::chrono::microseconds kFrame{1000};

  // Start of the frame in which the next report goes over the wire: the
  // first frame boundary from ANow on that this direction has not used.
  TClock::time_point Claim(TClock::time_point ANow);
  // Claims a frame and sleeps until it begins.
  void WaitForFrame();

 private:
  std::mutex FLock;
  TClock::time_point FNextFree{};
};

}  // namespace sim
