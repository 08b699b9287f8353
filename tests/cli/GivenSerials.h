// The serials a test hands to a station: all there at once, as a scanner
// would have typed them, then the end of input.
#pragma once

#include <string>

#include "SerialSource.h"

class TGivenSerials : public ISerialSource {
 public:
  explicit TGivenSerials(const std::string& AText) {
    FLines.Add(AText);
    FLines.End();
  }
  TState Next(std::string& ASerial) override { return FLines.Next(ASerial); }

 private:
  TSerialLines FLines;
};
