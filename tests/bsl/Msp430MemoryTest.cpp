// The board's memory model: flash semantics, erase units, the loader's CRC
// and the TI-TXT dump.
#include <gtest/gtest.h>

#include "Msp430Memory.h"

using sim::TMsp430Memory;
using sim::TProgramResult;

namespace {

TEST(Msp430Memory, FlashWritesCanOnlyClearBits) {
  TMsp430Memory memory;
  const uint8_t first[] = {0xF0, 0x0F};
  const uint8_t second[] = {0x0F, 0x0F};
  EXPECT_EQ(memory.Program(0x4400, first, 2), TProgramResult::Ok);
  EXPECT_EQ(memory.Program(0x4400, second, 2), TProgramResult::Mismatch);
  EXPECT_EQ(memory.Read(0x4400, 2), (std::vector<uint8_t>{0x00, 0x0F}));
}

TEST(Msp430Memory, RamTakesEveryValue) {
  TMsp430Memory memory;
  const uint8_t first[] = {0x00};
  const uint8_t second[] = {0xA5};
  memory.Program(0x2400, first, 1);
  EXPECT_EQ(memory.Program(0x2400, second, 1), TProgramResult::Ok);
  EXPECT_EQ(memory.Read(0x2400), 0xA5);
}

TEST(Msp430Memory, ProtectedLockedAndVacantMemoryRefusesWrites) {
  TMsp430Memory memory;
  const uint8_t zero[] = {0x00};
  for (uint32_t address : {0x1000u, 0x17FFu, 0x1980u, 0x19FFu, 0x0200u, 0x1A00u, 0x24400u}) {
    EXPECT_EQ(memory.Program(address, zero, 1), TProgramResult::Refused) << std::hex << address;
    EXPECT_EQ(memory.Read(address), 0xFF);
  }
  memory.ToggleInfoALock();
  EXPECT_EQ(memory.Program(0x1980, zero, 1), TProgramResult::Ok);
  EXPECT_EQ(memory.Program(0x197F, zero, 1), TProgramResult::Ok) << "segment B is never locked";
}

TEST(Msp430Memory, SegmentEraseUnits) {
  TMsp430Memory memory;
  memory.Preload(0x45FE, {0x00, 0x00, 0x00, 0x00});  // across a 512-byte boundary at 0x4600
  memory.Preload(0x187F, {0x00, 0x00});              // across the D/C boundary at 0x1880
  EXPECT_TRUE(memory.EraseSegment(0x4500));
  EXPECT_EQ(memory.Read(0x45FE, 4), (std::vector<uint8_t>{0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_TRUE(memory.EraseSegment(0x1880));
  EXPECT_EQ(memory.Read(0x187F, 2), (std::vector<uint8_t>{0x00, 0xFF}));
  EXPECT_FALSE(memory.EraseSegment(0x2400)) << "RAM";
  EXPECT_FALSE(memory.EraseSegment(0x1990)) << "segment A is locked";
}

TEST(Msp430Memory, MassEraseKeepsInformationMemoryAndRam) {
  TMsp430Memory memory;
  memory.Preload(0x1800, {0x12});
  memory.Preload(0x2400, {0x34});
  memory.Preload(0x4400, {0x56});
  memory.Preload(0x243FF, {0x78});
  memory.MassErase();
  EXPECT_EQ(memory.Read(0x1800), 0x12);
  EXPECT_EQ(memory.Read(0x2400), 0x34);
  EXPECT_EQ(memory.Read(0x4400), 0xFF);
  EXPECT_EQ(memory.Read(0x243FF), 0xFF);
}

TEST(Msp430Memory, CrcIsCcittWithSeedFFFF) {
  TMsp430Memory memory;
  const std::string check = "123456789";
  memory.Preload(0x2400, std::vector<uint8_t>(check.begin(), check.end()));
  EXPECT_EQ(memory.Crc(0x2400, check.size()), 0x29B1);  // the standard check value
}

TEST(Msp430Memory, DumpShowsEveryWrittenByteWithAddressLines) {
  TMsp430Memory memory;
  std::vector<uint8_t> run(18);
  for (size_t i = 0; i < run.size(); ++i) run[i] = static_cast<uint8_t>(i);
  memory.Preload(0x4400, run);
  memory.Preload(0x10000, {0xAB, 0xFF, 0xCD});  // 0xFF is a gap
  EXPECT_EQ(memory.DumpTiTxt(),
            "@4400\n"
            "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n"
            "10 11\n"
            "@10000\n"
            "AB\n"
            "@10002\n"
            "CD\n"
            "q\n");
  EXPECT_EQ(TMsp430Memory().DumpTiTxt(), "q\n");
}

}  // namespace
