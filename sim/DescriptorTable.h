// The chip's device descriptor table, as an MSP430F5529 carries it from
// 0x1A00: an info block (its length and the length of what its CRC
// covers, the CRC, the device ID, hardware and firmware revision), then
// tag-length-value entries from 0x1A08, the die record first. The die
// record (lot/wafer, die X and Y) is unique per chip: each simulated board
// gets its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct TDieRecord {
  uint32_t LotWafer = 0;
  uint16_t DieX = 0;
  uint16_t DieY = 0;
  uint16_t TestResults = 0;
};

constexpr uint32_t kDescriptorTableStart = 0x1A00;
constexpr uint32_t kDescriptorTableLength = 0x100;  // 2^6 words of 32 bits
constexpr uint8_t kDieRecordTag = 0x08;

// The whole table, kDescriptorTableLength bytes, with ADie as its die record.
std::vector<uint8_t> DescriptorTable(const TDieRecord& ADie);
// A die record no board of this process had before.
TDieRecord NextDieRecord();
// "LLLLLLLL-XXXX-YYYY": lot/wafer, die X and die Y in hexadecimal, as the
// board's ID shows them. False when AText is not of that form.
bool ParseDieRecord(const std::string& AText, TDieRecord& AOut);

}  // namespace sim
