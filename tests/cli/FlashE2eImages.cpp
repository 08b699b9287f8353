// Helper of the end-to-end update under Wine (wine_flash_e2e.sh), built for
// the same target as kestrova-flash:
//   FlashE2eImages write FOLDER                      the two images
//   FlashE2eImages check DUMP FOLDER APN LOGIN PASS  the board's memory (as
//     KESTROVA_SIM_DUMP wrote it) against the application image, byte for
//     byte, and the three settings records against the texts (UTF-8
//     arguments, as kestrova-flash takes them)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CliTestImages.h"
#include "Console.h"
#include "SettingsBlock.h"
#include "TiTxtLine.h"
#include "Utf8.h"

namespace {

using TMemory = std::map<uint32_t, uint8_t>;

constexpr uint32_t kSettingsAddress = 0xFE00;
constexpr size_t kRecordSize = 41;

// Address and data lines of a TI-TXT file; marks ("SET", "q") are skipped.
TMemory ReadTiTxt(const std::u8string& AFile) {
  std::ifstream in(std::filesystem::path(AFile), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + std::string(AFile.begin(), AFile.end()));
  TMemory memory;
  uint32_t address = 0;
  std::string line;
  while (std::getline(in, line)) {
    const std::string trimmed = TrimLine(line);
    switch (ClassifyLine(trimmed)) {
      case TTiTxtLineKind::Address: address = HexToInt(trimmed.substr(1)); break;
      case TTiTxtLineKind::Data: {
        std::vector<uint8_t> bytes;
        if (!ParseDataLine(trimmed, bytes)) throw std::runtime_error("not a data line: " + trimmed);
        for (uint8_t byte : bytes) memory[address++] = byte;
        break;
      }
      case TTiTxtLineKind::End: return memory;
      default: break;
    }
  }
  return memory;
}

int Check(const std::string& ADump, const std::string& AFolder, const std::string* ATexts) {
  const TMemory board = ReadTiTxt(Utf8ToPath(ADump).u8string());
  const TMemory image = ReadTiTxt((Utf8ToPath(AFolder) / "kestrova.2.fw.txt").u8string());
  auto expect = [&](uint32_t AAddress, uint8_t AByte) {
    const auto it = board.find(AAddress);
    const int held = it == board.end() ? 0xFF : it->second;  // the dump leaves out erased bytes
    if (held == AByte) return true;
    std::fprintf(stderr, "board memory at 0x%05X holds %02X, expected %02X\n", AAddress, held, AByte);
    return false;
  };
  for (const auto& [address, byte] : image)
    if (!expect(address, byte)) return 1;
  for (uint32_t r = 0; r < 3; ++r) {
    const std::u16string text = Utf8ToUtf16(ATexts[r]);  // the board keeps the low byte
    for (size_t i = 0; i < kRecordSize; ++i) {
      const uint8_t byte = i == 0 ? static_cast<uint8_t>(text.size())
                                  : i <= text.size() ? static_cast<uint8_t>(text[i - 1]) : 0;
      if (!expect(kSettingsAddress + r * kRecordSize + static_cast<uint32_t>(i), byte)) return 1;
    }
  }
  std::printf("board memory matches: %zu bytes of the application image and the 3 settings records\n",
              image.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args = CommandLineArguments(argc, argv);
    const std::string mode = args.empty() ? "" : args[0];
    if (mode == "write" && args.size() == 2) {
      clitest::TImageFolder images(2000);
      for (const char* name : {"kestrova.1.ldr.txt", "kestrova.2.fw.txt"})
        std::filesystem::copy_file(images.Path / name, Utf8ToPath(args[1]) / name,
                                   std::filesystem::copy_options::overwrite_existing);
      return 0;
    }
    if (mode == "check" && args.size() == 6) return Check(args[1], args[2], &args[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: %s write FOLDER | check DUMP FOLDER APN LOGIN PASSWORD\n", argv[0]);
  return 2;
}
