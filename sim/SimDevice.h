// A device on the simulated HID bus. Keyboards, mice, broken devices and the
// simulated controller board all derive from it; the bus (SimBus.h) does the
// plumbing: identity, handles, input-report queues, notifications.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class TSimBus;
class TSimHub;

class TSimDevice {
 public:
  virtual ~TSimDevice() = default;

  // Identity and strings as the platform reports them.
  uint16_t VendorID = 0;
  uint16_t ProductID = 0;
  uint16_t Version = 0x0100;
  std::string Manufacturer;
  std::string Product;
  uint16_t InputReportLength = 64;   // report-ID byte included
  uint16_t OutputReportLength = 64;  // report-ID byte included
  uint16_t UsagePage = 0xFF00;       // top-level collection (vendor-defined by default)
  uint16_t Usage = 0x0001;

  // Fault switches for the controller's error paths.
  bool CanOpenReadWrite = true;  // false: only a query-only open works (keyboard, mouse)
  bool CanOpen = true;           // false: "Device cannot be opened"
  // Set before it is plugged: the first enumeration that lists it finds an
  // interface that cannot be opened yet, as while the system is still
  // setting it up; the bus clears it when it plugs the device.
  std::atomic<bool> NotReadyAtFirstLook{false};
  bool CanIdentify = true;       // false: "Device cannot be identified"

  // Every report, either way, takes one 1 ms frame as on a full-speed
  // interrupt endpoint (SimFrameClock.h); set before the device is plugged.
  bool FrameTimed = false;
  // Interrupt endpoints the host reserves periodic time for: IN alone for
  // keyboards and mice (their LEDs go over the control endpoint), IN and
  // OUT for the loader's datapipe.
  uint32_t InterruptEndpoints = 1;

  // Where the device is plugged in. Port: "1-2", or "1-1.3" behind a hub;
  // empty: the bus gives the device a port of its own when it is first
  // plugged in, and the device keeps it when it leaves and comes back.
  // Hub: the hub that port belongs to (SimHub.h); null for a port of the
  // bus itself. Set before the device is first plugged.
  std::string Port;
  std::shared_ptr<TSimHub> Hub;

  // An output report written by the host (the whole report, ID byte
  // included). Called on the writing thread, with no bus lock held. Return
  // the number of bytes the device accepted (normally ALength).
  virtual uint32_t OnOutputReport(const uint8_t* AData, uint32_t ALength) {
    (void)AData;
    return ALength;
  }
  // Called once the write of an output report has completed for the host
  // (no bus lock held): a device that leaves right after a report does it
  // here, so the host's next write finds it gone.
  virtual void AfterOutputReport() {}
  // The bus ABus, where the device was once plugged in, is going away:
  // nothing the device still has due may reach it. Called with no bus lock
  // held.
  virtual void BusGone(TSimBus& ABus) { (void)ABus; }

  // Set by the bus while the device is plugged in.
  TSimBus* Bus = nullptr;
};

}  // namespace sim
