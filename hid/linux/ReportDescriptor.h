// Reads what the HID class driver would publish as capabilities from a raw
// report descriptor: the usage of the first top-level collection and the
// longest input, output and feature report, each with its report-ID byte
// (a 0 byte for devices without report IDs, as Windows counts it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hid {

struct TReportLayout {
  uint16_t UsagePage = 0;
  uint16_t Usage = 0;
  uint16_t InputReportByteLength = 0;
  uint16_t OutputReportByteLength = 0;
  uint16_t FeatureReportByteLength = 0;
  bool UsesReportIds = false;  // reads from hidraw then carry the ID byte
};

// False for a malformed descriptor (truncated short or long item at any
// depth, unbalanced collection, pop without push) and for one whose report
// would be longer than a 16-bit length can say.
bool ParseReportDescriptor(const uint8_t* AData, size_t ALength, TReportLayout& AOut);
inline bool ParseReportDescriptor(const std::vector<uint8_t>& AData, TReportLayout& AOut) {
  return ParseReportDescriptor(AData.data(), AData.size(), AOut);
}

}  // namespace hid
