#include "Msp430Memory.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "TiTxtLine.h"

namespace sim {

namespace {

constexpr uint8_t kErased = 0xFF;
constexpr size_t kDumpBytesPerLine = 16;  // what TI's tools write per line

std::string HexByte(uint8_t AValue) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", AValue);
  return text;
}

std::string AddressLine(uint32_t AAddress) {
  char text[16];
  std::snprintf(text, sizeof text, "@%04X", static_cast<unsigned>(AAddress));
  return text;
}

}  // namespace

TMsp430Memory::TMsp430Memory() : FBytes(kMainEnd, kErased) {}

TMemoryArea TMsp430Memory::AreaOf(uint32_t AAddress) {
  if (AAddress >= kLoaderFlashStart && AAddress < kInfoStart) return TMemoryArea::LoaderFlash;
  if (AAddress >= kInfoStart && AAddress < kInfoEnd) return TMemoryArea::InfoMemory;
  if (AAddress >= kRamStart && AAddress < kRamEnd) return TMemoryArea::Ram;
  if (AAddress >= kMainStart && AAddress < kMainEnd) return TMemoryArea::MainFlash;
  return TMemoryArea::Vacant;
}

uint8_t TMsp430Memory::Read(uint32_t AAddress) const {
  return AAddress < FBytes.size() ? FBytes[AAddress] : kErased;
}

std::vector<uint8_t> TMsp430Memory::Read(uint32_t AAddress, size_t ACount) const {
  std::vector<uint8_t> out(ACount);
  for (size_t i = 0; i < ACount; ++i) out[i] = Read(AAddress + static_cast<uint32_t>(i));
  return out;
}

std::array<uint8_t, TMsp430Memory::kVectorLength> TMsp430Memory::VectorTable() const {
  std::array<uint8_t, kVectorLength> table{};
  for (uint32_t i = 0; i < kVectorLength; ++i) table[i] = Read(kVectorStart + i);
  return table;
}

bool TMsp430Memory::Writable(uint32_t AAddress) const {
  switch (AreaOf(AAddress)) {
    case TMemoryArea::Ram:
    case TMemoryArea::MainFlash:
      return true;
    case TMemoryArea::InfoMemory:
      return !(FInfoALocked && AAddress >= kInfoAStart);
    default:
      return false;
  }
}

TProgramResult TMsp430Memory::Program(uint32_t AAddress, const uint8_t* AData, size_t ACount) {
  TProgramResult result = TProgramResult::Ok;
  uint32_t lastWord = UINT32_MAX;
  for (size_t i = 0; i < ACount; ++i) {
    const uint32_t address = AAddress + static_cast<uint32_t>(i);
    if (!Writable(address)) {
      result = TProgramResult::Refused;
      continue;
    }
    uint8_t& cell = FBytes[address];
    const bool ram = AreaOf(address) == TMemoryArea::Ram;
    cell = ram ? AData[i] : static_cast<uint8_t>(cell & AData[i]);
    if (!ram && address / 2 != lastWord) ++FFlashWords;
    if (!ram) lastWord = address / 2;
    if (cell != AData[i] && result == TProgramResult::Ok) result = TProgramResult::Mismatch;
  }
  return result;
}

bool TMsp430Memory::EraseSegment(uint32_t AAddress) {
  const TMemoryArea area = AreaOf(AAddress);
  if ((area != TMemoryArea::MainFlash && area != TMemoryArea::InfoMemory) || !Writable(AAddress))
    return false;
  const uint32_t size = area == TMemoryArea::MainFlash ? kMainSegment : kInfoSegment;
  const uint32_t start = AAddress - AAddress % size;  // both areas start on a segment
  std::fill(FBytes.begin() + start, FBytes.begin() + start + size, kErased);
  return true;
}

void TMsp430Memory::PowerOff() {
  std::fill(FBytes.begin() + kRamStart, FBytes.begin() + kRamEnd, 0x00);
  FInfoALocked = true;
}

void TMsp430Memory::MassErase() {
  std::fill(FBytes.begin() + kMainStart, FBytes.begin() + kMainEnd, kErased);
}

void TMsp430Memory::Preload(uint32_t AAddress, const std::vector<uint8_t>& ABytes) {
  for (size_t i = 0; i < ABytes.size() && AAddress + i < FBytes.size(); ++i)
    FBytes[AAddress + i] = ABytes[i];
}

void TMsp430Memory::PreloadTiTxt(const std::vector<std::string>& ALines) {
  uint32_t address = 0;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < ALines.size(); ++i) {
    const std::string line = TrimLine(ALines[i]);
    const auto refuse = [i](const std::string& AWhat) {
      return std::invalid_argument("line " + std::to_string(i + 1) + ": " + AWhat);
    };
    const TTiTxtLineKind kind = ClassifyLine(line);
    if (kind == TTiTxtLineKind::End) return;
    if (kind == TTiTxtLineKind::Address) {
      try {
        address = HexToInt(line.substr(1));
      } catch (const EConvertError& e) {
        throw refuse(e.what());
      }
    } else if (kind == TTiTxtLineKind::Data) {
      if (!ParseDataLine(line, bytes)) throw refuse("'" + line + "' is not a valid data line");
      if (address + bytes.size() > FBytes.size()) throw refuse("data beyond the memory");
      Preload(address, bytes);
      address += static_cast<uint32_t>(bytes.size());
    }
  }
}

uint16_t CrcCcitt16(const uint8_t* AData, size_t ACount) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < ACount; ++i) {
    crc ^= static_cast<uint16_t>(AData[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

uint16_t TMsp430Memory::Crc(uint32_t AAddress, size_t ACount) const {
  const std::vector<uint8_t> bytes = Read(AAddress, ACount);
  return CrcCcitt16(bytes.data(), bytes.size());
}

std::string TMsp430Memory::DumpTiTxt() const {
  std::string out;
  size_t inLine = 0;
  bool inRun = false;
  for (uint32_t address = 0; address < FBytes.size(); ++address) {
    if (FBytes[address] == kErased) {
      if (inLine > 0) out += '\n';
      inLine = 0;
      inRun = false;
      continue;
    }
    if (!inRun) out += AddressLine(address) + '\n';
    inRun = true;
    out += (inLine > 0 ? " " : "") + HexByte(FBytes[address]);
    if (++inLine == kDumpBytesPerLine) {
      out += '\n';
      inLine = 0;
    }
  }
  if (inLine > 0) out += '\n';
  return out + "q\n";
}

}  // namespace sim
