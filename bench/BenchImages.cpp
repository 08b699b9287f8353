#include "BenchImages.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr uint32_t kFlashStart = 0x4400;     // main flash
constexpr uint32_t kSettingsStart = 0xFE00;  // settings records and vectors segment
constexpr uint32_t kVectors = 0xFFE0;
constexpr uint32_t kUpperStart = 0x10000;  // main flash above 64 KiB
constexpr uint32_t kFlashEnd = 0x24400;
constexpr int kLineBytes = 16;  // TI-TXT's usual width

void Section(std::string& AText, uint32_t AStart, uint32_t AEnd, uint32_t& ASeed) {
  char line[16];
  std::snprintf(line, sizeof line, "@%X\n", AStart);
  AText += line;
  for (uint32_t a = AStart; a < AEnd; a += kLineBytes) {
    for (uint32_t i = 0; i < kLineBytes && a + i < AEnd; ++i) {
      ASeed = ASeed * 1664525u + 1013904223u;
      std::snprintf(line, sizeof line, i ? " %02X" : "%02X", ASeed >> 24);
      AText += line;
    }
    AText += '\n';
  }
}

}  // namespace

void WriteBenchImages(const std::filesystem::path& AFolder) {
  uint32_t seed = 0x12345678;
  std::string loader;
  Section(loader, 0x2500, 0x2900, seed);
  std::ofstream(AFolder / "kestrova.1.ldr.txt") << loader << "#2500\nq\n";
  // Main flash but the settings records (left erased, written at "SET").
  std::string firmware;
  Section(firmware, kFlashStart, kSettingsStart, seed);
  firmware += "SET\n";
  Section(firmware, kVectors, 0x10000, seed);
  Section(firmware, kUpperStart, kFlashEnd, seed);
  std::ofstream(AFolder / "kestrova.2.fw.txt") << firmware << "q\n";
}
