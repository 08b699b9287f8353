// The board under its USB bootstrap loader, the resident one and the one
// started in RAM alike: TI's vendor ID and the MSP430 USB loader's product ID.
#pragma once

#include <cstdint>

inline constexpr uint16_t kBslVendorID = 0x2047;
inline constexpr uint16_t kBslProductID = 0x0200;

constexpr bool IsBslBoard(uint16_t AVendorID, uint16_t AProductID) {
  return AVendorID == kBslVendorID && AProductID == kBslProductID;
}
