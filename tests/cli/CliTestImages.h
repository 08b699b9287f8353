// Image files for the flasher's tests: a small RAM loader and an
// application with its settings line, in a fresh folder per test.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace clitest {

inline std::string DataLine(int ACount, uint32_t& ASeed) {
  std::string line;
  char pair[4];
  for (int i = 0; i < ACount; ++i) {
    ASeed = ASeed * 1664525u + 1013904223u;
    std::snprintf(pair, sizeof pair, "%02X ", ASeed >> 24);
    line += pair;
  }
  line.pop_back();
  return line + "\n";
}

// A folder holding kestrova.1.ldr.txt and kestrova.2.fw.txt; removed at the end.
class TImageFolder {
 public:
  explicit TImageFolder(int AFirmwareLines = 200) {
    static int counter = 0;
    Path = std::filesystem::temp_directory_path() /
           ("kestrova-cli-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(Path);
    uint32_t seed = 0xC0FFEE;
    std::string loader = "@2500\n";
    for (int i = 0; i < 64; ++i) loader += DataLine(16, seed);
    Write("kestrova.1.ldr.txt", loader + "#2500\nq\n");
    std::string firmware = "@4400\n";
    for (int i = 0; i < AFirmwareLines; ++i) firmware += DataLine(16, seed);
    firmware += "SET\n@FFE0\n" + DataLine(16, seed) + DataLine(16, seed) + "q\n";
    Write("kestrova.2.fw.txt", firmware);
  }
  ~TImageFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  void Write(const std::string& AName, const std::string& AText) const {
    std::ofstream(Path / AName, std::ios::binary) << AText;
  }
  std::string File(const std::string& AName) const { return (Path / AName).string(); }

  std::filesystem::path Path;
};

}  // namespace clitest
