#include "DescriptorTable.h"

#include <atomic>

#include "Msp430Memory.h"

namespace sim {
namespace {

// Info block of the F5529 (its datasheet's device descriptor table): both
// lengths 2^6 32-bit words, device ID 5529h, hardware revision 10h,
// firmware revision 18h.
constexpr uint8_t kInfoLength = 0x06;
constexpr uint8_t kCrcLength = 0x06;
constexpr uint8_t kDeviceId[] = {0x55, 0x29};
constexpr uint8_t kHardwareRevision = 0x10;
constexpr uint8_t kFirmwareRevision = 0x18;
constexpr size_t kCrcStart = 4;  // the CRC covers what follows it
constexpr uint8_t kDieRecordLength = 10;
// The calibration entries that follow the die record on the real chip,
// with values of a typical part; nothing reads them, they only keep the
// die record from being the table's last entry.
constexpr uint8_t kAdcCalibrationTag = 0x11;
constexpr uint8_t kAdcCalibration[] = {0x10, 0x80, 0x2E, 0x00, 0xE6, 0x09, 0x7B, 0x0B,
                                       0x5F, 0x0A, 0x1D, 0x0C, 0xD2, 0x09, 0x4B, 0x0B};
constexpr uint8_t kRefCalibrationTag = 0x12;
constexpr uint8_t kRefCalibration[] = {0x8E, 0x80, 0xA4, 0x80, 0xAD, 0x80};
// The lot and wafer of the simulated boards; the die position tells them apart.
constexpr uint32_t kSimulatedLotWafer = 0x4B530518;
constexpr uint16_t kDiesPerRow = 40;

void Put16(std::vector<uint8_t>& AOut, uint16_t AValue) {
  AOut.push_back(static_cast<uint8_t>(AValue));
  AOut.push_back(static_cast<uint8_t>(AValue >> 8));
}

template <size_t N>
void PutEntry(std::vector<uint8_t>& AOut, uint8_t ATag, const uint8_t (&AData)[N]) {
  AOut.push_back(ATag);
  AOut.push_back(static_cast<uint8_t>(N));
  AOut.insert(AOut.end(), AData, AData + N);
}

bool ParseHex(const std::string& AText, size_t AFrom, size_t ADigits, uint32_t& AOut) {
  AOut = 0;
  for (size_t i = AFrom; i < AFrom + ADigits; ++i) {
    const char c = AText[i];
    const int digit = c >= '0' && c <= '9' ? c - '0'
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : -1;
    if (digit < 0) return false;
    AOut = AOut << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

}  // namespace

std::vector<uint8_t> DescriptorTable(const TDieRecord& ADie) {
  std::vector<uint8_t> table = {kInfoLength, kCrcLength, 0x00, 0x00, kDeviceId[0], kDeviceId[1],
                                kHardwareRevision, kFirmwareRevision};
  table.push_back(kDieRecordTag);
  table.push_back(kDieRecordLength);
  Put16(table, static_cast<uint16_t>(ADie.LotWafer));
  Put16(table, static_cast<uint16_t>(ADie.LotWafer >> 16));
  Put16(table, ADie.DieX);
  Put16(table, ADie.DieY);
  Put16(table, ADie.TestResults);
  PutEntry(table, kAdcCalibrationTag, kAdcCalibration);
  PutEntry(table, kRefCalibrationTag, kRefCalibration);
  table.resize(kDescriptorTableLength, 0xFF);
  const uint16_t crc = CrcCcitt16(table.data() + kCrcStart, table.size() - kCrcStart);
  table[2] = static_cast<uint8_t>(crc);
  table[3] = static_cast<uint8_t>(crc >> 8);
  return table;
}

TDieRecord NextDieRecord() {
  static std::atomic<uint32_t> count{0};
  const uint32_t n = count.fetch_add(1);
  TDieRecord die;
  die.LotWafer = kSimulatedLotWafer;
  die.DieX = static_cast<uint16_t>(1 + n % kDiesPerRow);
  die.DieY = static_cast<uint16_t>(1 + n / kDiesPerRow);
  return die;
}

bool ParseDieRecord(const std::string& AText, TDieRecord& AOut) {
  constexpr size_t kLength = 18;  // 8 + 1 + 4 + 1 + 4
  if (AText.size() != kLength || AText[8] != '-' || AText[13] != '-') return false;
  uint32_t lot = 0, x = 0, y = 0;
  if (!ParseHex(AText, 0, 8, lot) || !ParseHex(AText, 9, 4, x) || !ParseHex(AText, 14, 4, y)) return false;
  AOut.LotWafer = lot;
  AOut.DieX = static_cast<uint16_t>(x);
  AOut.DieY = static_cast<uint16_t>(y);
  return true;
}

}  // namespace sim
