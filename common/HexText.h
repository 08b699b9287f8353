// Upper-case hexadecimal with at least four (or two) digits, as
// identifiers, settings addresses and command bytes appear in the log.
#pragma once

#include <cstdio>
#include <string>

inline std::string Hex4(unsigned AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", AValue);
  return text;
}

inline std::string Hex2(unsigned AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X", AValue);
  return text;
}
