// A USB 2.0 hub on the simulated bus, between full-speed devices and a
// high-speed host. Its transaction translator (TT) carries their
// full-speed transfers: a multi-TT hub has one per port, so every port has
// its own 1 ms frames; a single-TT hub has one for all its ports. The host
// reserves periodic time in the translator for every interrupt endpoint of
// a device it configures, and refuses a device that does not fit (Linux:
// "Not enough bandwidth for new device state."); such a device never
// shows up as a HID device.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "SimFrameClock.h"

namespace sim {

enum class TSimHubKind { MultiTT, SingleTT };

class TSimHub {
 public:
  // Full-speed transfers of 64 bytes that Linux fits into the periodic
  // time of one translator's frame (about 60 us each of about 780 us): two
  // per device with an IN and an OUT endpoint, so six such devices.
  static constexpr uint32_t kTransfersPerFrame = 12;

  TSimHub(TSimHubKind AKind, std::string APort);

  TSimHubKind Kind() const { return FKind; }
  // The port the hub is plugged into; its own ports are this with ".1",
  // ".2", ... added.
  const std::string& Port() const { return FPort; }

  // Periodic time for the interrupt endpoints of a device that arrives;
  // false when they do not fit the translator. Release gives it back when
  // the device leaves.
  bool Reserve(uint32_t AEndpoints);
  void Release(uint32_t AEndpoints);

  // The frames every port of a single-TT hub shares (kTransfersPerFrame
  // transfers each); null for a multi-TT hub.
  const std::shared_ptr<TSimFrameClock>& SharedFrames() const { return FSharedFrames; }

 private:
  const TSimHubKind FKind;
  const std::string FPort;
  std::shared_ptr<TSimFrameClock> FSharedFrames;
  std::mutex FLock;
  uint32_t FReserved = 0;
};

}  // namespace sim
