// Memory of the simulated controller board, an MSP430F5529: RAM, main and
// information flash with real flash semantics (erased 0xFF, programming can
// only clear bits), segment and mass erase, the loader's CRC and a TI-TXT
// dump of everything that is not erased.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// CRC-CCITT (polynomial 0x1021, seed 0xFFFF), as the loader's CRC Check
// and the chip's descriptor table compute it.
uint16_t CrcCcitt16(const uint8_t* AData, size_t ACount);

enum class TMemoryArea { Vacant, LoaderFlash, InfoMemory, Ram, MainFlash };

enum class TProgramResult {
  Ok,        // every byte now holds what was written
  Mismatch,  // flash that was not erased kept some 0 bits (write check fails)
  Refused,   // protected, locked or vacant memory: nothing changed there
};

class TMsp430Memory {
 public:
  // Address map of the MSP430F5529.
  static constexpr uint32_t kLoaderFlashStart = 0x1000;  // resident loader, protected
  static constexpr uint32_t kInfoStart = 0x1800;         // segments D, C, B, A
  static constexpr uint32_t kInfoAStart = 0x1980;        // segment A, locked at reset
  static constexpr uint32_t kInfoEnd = 0x1A00;
  static constexpr uint32_t kRamStart = 0x2400;
  static constexpr uint32_t kRamEnd = 0x4400;
  static constexpr uint32_t kMainStart = 0x4400;
  static constexpr uint32_t kMainEnd = 0x24400;
  static constexpr uint32_t kMainSegment = 512;  // erase unit of main flash
  static constexpr uint32_t kInfoSegment = 128;  // erase unit of information memory
  static constexpr uint32_t kVectorStart = 0xFFE0;  // interrupt vectors = password
  static constexpr uint32_t kVectorLength = 32;

  TMsp430Memory();

  static TMemoryArea AreaOf(uint32_t AAddress);

  uint8_t Read(uint32_t AAddress) const;
  std::vector<uint8_t> Read(uint32_t AAddress, size_t ACount) const;
  std::array<uint8_t, kVectorLength> VectorTable() const;

  // What the loader's write commands do.
  TProgramResult Program(uint32_t AAddress, const uint8_t* AData, size_t ACount);
  // Erases the segment holding AAddress; false for RAM, vacant or locked memory.
  bool EraseSegment(uint32_t AAddress);
  // All of main flash; information memory keeps its content.
  void MassErase();
  bool InfoALocked() const { return FInfoALocked; }
  // The board lost power: RAM forgets what it held, segment A is locked
  // again as at every reset; flash keeps its content.
  void PowerOff();
  void ToggleInfoALock() { FInfoALocked = !FInfoALocked; }

  // Content put there before the board was handed over (old firmware):
  // written as is, whatever the area.
  void Preload(uint32_t AAddress, const std::vector<uint8_t>& ABytes);

  // Preloads every data line of a TI-TXT image (address, data and end
  // lines; the system's marks are skipped). A line that is not read exactly
  // raises std::invalid_argument naming its 1-based number.
  void PreloadTiTxt(const std::vector<std::string>& ALines);

  // CRC-CCITT (polynomial 0x1021, seed 0xFFFF) as the loader computes it.
  uint16_t Crc(uint32_t AAddress, size_t ACount) const;

  // Words the flash controller has programmed so far (a byte written on
  // its own counts as a word: it takes as long).
  uint64_t FlashWordsProgrammed() const { return FFlashWords; }

  // Every byte that is not 0xFF, in address order: an "@" line at each gap,
  // at most 16 bytes per data line, "q" last.
  std::string DumpTiTxt() const;

 private:
  bool Writable(uint32_t AAddress) const;

  std::vector<uint8_t> FBytes;
  bool FInfoALocked = true;
  uint64_t FFlashWords = 0;
};

}  // namespace sim
