// Ready-made simulated devices: what a technician's PC typically has on its
// HID bus, two broken devices for the controller's error paths, and the
// plain identity of the controller board under its bootstrap loader.
#pragma once

#include <memory>

#include "BoardIds.h"
#include "SimDevice.h"

namespace sim {

// USB boot keyboard: 8-byte input reports (9 with the report-ID byte),
// one LED output byte; the system keeps it for itself (query-only opens).
std::shared_ptr<TSimDevice> MakeSimKeyboard();
// Wheel mouse: 4-byte input reports (5 with the report-ID byte), query-only.
std::shared_ptr<TSimDevice> MakeSimMouse();
// A device whose path cannot be opened at all ("Device cannot be opened").
std::shared_ptr<TSimDevice> MakeSimUnopenableDevice();
// A device that opens but refuses its attributes ("Device cannot be identified").
std::shared_ptr<TSimDevice> MakeSimUnidentifiableDevice();
// The board under its bootstrap loader: identity and 64-byte reports only;
// it accepts every output report and answers nothing.
std::shared_ptr<TSimDevice> MakePlainSimBoard();

// The loader's datapipe: report ID 0x3F, length byte, 62 bytes of packet,
// over an interrupt IN and an interrupt OUT endpoint.
constexpr uint16_t kBslReportLength = 64;
constexpr uint32_t kBslInterruptEndpoints = 2;

}  // namespace sim
