// Upper-case hexadecimal with at least four digits, as identifiers and
// settings addresses appear in the log.
#pragma once

#include <cstdio>
#include <string>

inline std::string Hex4(unsigned AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", AValue);
  return text;
}
