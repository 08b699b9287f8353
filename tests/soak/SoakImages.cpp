#include "SoakImages.h"

#include <algorithm>
#include <cstdio>

namespace soak {

namespace {

using TRandom = std::mt19937;

uint32_t Uniform(TRandom& ARandom, uint32_t ALow, uint32_t AHigh) {
  return std::uniform_int_distribution<uint32_t>(ALow, AHigh)(ARandom);
}

bool Chance(TRandom& ARandom, double AProbability) {
  return std::bernoulli_distribution(AProbability)(ARandom);
}

std::string Hex(uint32_t AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(AValue));
  return text;
}

// ABytes random bytes from AAddress on, in lines of 1 to 16 bytes (mostly
// 16); now and then a version line between two of them.
void AddSection(TRandom& ARandom, std::vector<std::string>& ALines, uint32_t AAddress, uint32_t ABytes,
                bool AVersionLines) {
  ALines.push_back("@" + Hex(AAddress));
  for (uint32_t done = 0; done < ABytes;) {
    const uint32_t count = std::min(ABytes - done, Chance(ARandom, 0.8) ? 16u : Uniform(ARandom, 1, 16));
    std::string line;
    for (uint32_t i = 0; i < count; ++i) {
      char text[4];
      std::snprintf(text, sizeof text, "%02X", Uniform(ARandom, 0, 255));
      line += (i == 0 ? "" : " ") + std::string(text);
    }
    ALines.push_back(line);
    done += count;
    if (AVersionLines && Chance(ARandom, 0.02)) ALines.push_back("?");
  }
}

// Where the old firmware's information memory holds data (segment D's
// first bytes) and segment A (locked) are left out: the update does not
// erase them, so no image may write there.
constexpr uint32_t kInfoFrom = 0x1880;
constexpr uint32_t kInfoTo = 0x1980;
// The settings records, which an application image leaves to the "SET" line.
constexpr uint32_t kSettingsFrom = 0xFE00;
constexpr uint32_t kSettingsTo = 0xFE7B;
constexpr uint32_t kMainFrom = 0x4400;
constexpr uint32_t kMainTo = 0x24400;

std::vector<std::string> RandomLoader(TRandom& ARandom) {
  std::vector<std::string> lines;
  const uint32_t bytes = Uniform(ARandom, 8, 512);
  const uint32_t address = Uniform(ARandom, 0x2400, 0x4400 - bytes);
  AddSection(ARandom, lines, address, bytes, true);
  // Load PC runs the code 4 bytes past the start line's address.
  lines.push_back("#" + Hex(address + Uniform(ARandom, 0, std::min(bytes - 5, 16u))));
  lines.push_back("q");
  return lines;
}

std::vector<std::string> RandomFirmware(TRandom& ARandom) {
  std::vector<std::string> lines;
  const uint32_t sections = Uniform(ARandom, 1, 3);
  // Sections in address order with gaps between them, none in the settings records.
  uint32_t next = kMainFrom;
  const uint32_t settingsAt = Uniform(ARandom, 0, sections);
  for (uint32_t s = 0; s < sections; ++s) {
    if (s == settingsAt) lines.push_back("SET");
    const uint32_t bytes = Chance(ARandom, 0.1) ? Uniform(ARandom, 1, 16) : Uniform(ARandom, 16, 2048);
    uint32_t address = next + Uniform(ARandom, 0, 0x4000);
    if (address < kSettingsTo && address + bytes > kSettingsFrom) address = kSettingsTo;
    if (address + bytes > kMainTo) break;
    AddSection(ARandom, lines, address, bytes, true);
    next = address + bytes + Uniform(ARandom, 1, 64);
  }
  if (Chance(ARandom, 0.2)) {
    const uint32_t bytes = Uniform(ARandom, 1, 64);
    AddSection(ARandom, lines, Uniform(ARandom, kInfoFrom, kInfoTo - bytes), bytes, false);
  }
  if (std::find(lines.begin(), lines.end(), "SET") == lines.end()) lines.push_back("SET");
  lines.push_back("q");
  return lines;
}

std::u16string RandomText(TRandom& ARandom) {
  std::u16string text;
  const uint32_t length = Uniform(ARandom, 0, update::kSettingsRecordText);
  for (uint32_t i = 0; i < length; ++i)
    text += static_cast<char16_t>(Chance(ARandom, 0.9) ? Uniform(ARandom, 0x20, 0x7E) : Uniform(ARandom, 0xA0, 0xFF));
  return text;
}

}  // namespace

TImages RandomImages(TRandom& ARandom) {
  TImages images;
  images.Loader = RandomLoader(ARandom);
  images.Firmware = RandomFirmware(ARandom);
  for (std::u16string& text : images.Settings) text = RandomText(ARandom);
  return images;
}

}  // namespace soak
