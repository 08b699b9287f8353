// Bytes as hexadecimal text, two digits a byte and nothing between: the
// umockdev record's binary attributes (lower case) and the board commands'
// memory answers (upper case). Used by both sides of the board link.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace winetest {

inline std::string HexText(const std::vector<uint8_t>& AData, bool AUpperCase) {
  std::string LOut;
  char LByte[3];
  for (uint8_t LValue : AData) {
    std::snprintf(LByte, sizeof LByte, AUpperCase ? "%02X" : "%02x", LValue);
    LOut += LByte;
  }
  return LOut;
}

}  // namespace winetest
