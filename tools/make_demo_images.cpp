// Writes the two demo firmware images that the configurator expects beside
// its executable, for runs on the simulated board:
//   kestrova.1.ldr.txt  a small RAM loader: data at 0x2500, its start line, end
//   kestrova.2.fw.txt   an application: code from 0x4400, the settings mark,
//                       the interrupt vectors, end
// Usage: make_demo_images <folder> [application data lines, default 400]
// The content is pseudo-random but the same on every run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr uint32_t kLoaderAddress = 0x2500;     // RAM starts at 0x2400; room for the stack below
constexpr int kLoaderLines = 64;                // a 1 KB loader, as small RAM loaders are
constexpr uint32_t kCodeAddress = 0x4400;       // start of main flash
constexpr uint32_t kCodeEnd = 0xFE00;           // the settings block and vectors segment
constexpr uint32_t kVectorAddress = 0xFFE0;     // interrupt vectors, the loader's password
constexpr int kMaxLineBytes = 16;               // TI-TXT's usual line width
constexpr int kDefaultLines = 400;

uint32_t gSeed = 0x4B455354;  // fixed, so every run writes the same images

uint8_t NextByte() {
  gSeed = gSeed * 1664525u + 1013904223u;
  return static_cast<uint8_t>(gSeed >> 24);
}

std::string DataLine(int ABytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string line;
  for (int i = 0; i < ABytes; ++i) {
    const uint8_t b = NextByte();
    if (i > 0) line += ' ';
    line += kDigits[b >> 4];
    line += kDigits[b & 0x0F];
  }
  return line + "\n";
}

std::string Address(char AMark, uint32_t AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "%c%04X\n", AMark, AValue);
  return text;
}

bool Write(const std::string& APath, const std::string& AText) {
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out << AText;
  out.close();
  if (!out) std::fprintf(stderr, "cannot write %s\n", APath.c_str());
  return static_cast<bool>(out);
}

std::string LoaderImage() {
  std::string text = Address('@', kLoaderAddress);
  for (int i = 0; i < kLoaderLines; ++i) text += DataLine(kMaxLineBytes);
  return text + Address('#', kLoaderAddress) + "q\n";
}

std::string FirmwareImage(int ALines) {
  // Narrower lines for long images, so that the code stays below the
  // settings segment.
  const int width = std::clamp(static_cast<int>((kCodeEnd - kCodeAddress) / ALines), 1, kMaxLineBytes);
  std::string text = Address('@', kCodeAddress);
  for (int i = 0; i < ALines; ++i) text += DataLine(width);
  text += "SET\n";
  text += Address('@', kVectorAddress);
  text += DataLine(kMaxLineBytes) + DataLine(kMaxLineBytes);
  return text + "q\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <folder> [application data lines]\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const int lines = argc > 2 ? std::atoi(argv[2]) : kDefaultLines;
  if (lines < 1) {
    std::fprintf(stderr, "the number of lines must be positive\n");
    return 2;
  }
  const bool ok = Write(folder + "/kestrova.1.ldr.txt", LoaderImage()) &&
                  Write(folder + "/kestrova.2.fw.txt", FirmwareImage(lines));
  return ok ? 0 : 1;
}
