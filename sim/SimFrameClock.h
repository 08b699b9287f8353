// Time on the wire of a full-speed USB interrupt endpoint: the host polls it
// once per 1 ms frame, so at most one report a frame goes each way. A
// device on the simulated bus that asks for it spends this time on every
// report, so that run times show what real hardware would take. A clock
// may also stand for a hub's transaction translator that several ports
// share: then a frame carries several transfers.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace sim {

class TSimFrameClock {
 public:
  using TClock = std::chrono::steady_clock;
  // One full-speed frame (USB 2.0, 8.4.3.1: start-of-frame every 1 ms).
  static constexpr std::chrono::microseconds kFrame{1000};

  // ATransfersPerFrame: how many transfers one frame carries (an endpoint:
  // one).
  explicit TSimFrameClock(uint32_t ATransfersPerFrame = 1) : FTransfersPerFrame(ATransfersPerFrame) {}

  // Start of the frame in which the next transfer goes over the wire: the
  // first frame from the boundary at or after ANow on that still has room.
  TClock::time_point Claim(TClock::time_point ANow);
  // Claims a frame (one that AShared, the translator the port shares with
  // others, also has room in) and sleeps until it begins.
  void WaitForFrame(TSimFrameClock* AShared = nullptr);

 private:
  const uint32_t FTransfersPerFrame;
  std::mutex FLock;
  TClock::time_point FFrame{};  // the latest frame claimed
  uint32_t FUsed = 0;           // transfers claimed in it
};

}  // namespace sim
