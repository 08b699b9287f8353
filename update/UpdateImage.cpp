#include "UpdateImage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "TiTxtLine.h"

namespace update {

namespace {

// Lines end in CR LF, LF or CR; a final line end opens no extra line.
std::vector<std::string> SplitLines(const std::string& AText) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') ++i;
      lines.push_back(line);
      line.clear();
      open = false;
    } else {
      line += c;
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

// File names are UTF-8 on every platform.
bool ReadWholeFile(const std::string& AFileName, std::string& AText, std::string& AError) {
  const std::filesystem::path path(std::u8string(AFileName.begin(), AFileName.end()));
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    AError = "the file does not exist";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    AError = std::string("the file cannot be read (") + std::strerror(errno) + ")";
    return false;
  }
  AText = text.str();
  static const std::string kUtf8Bom = "\xEF\xBB\xBF";
  if (AText.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) AText.erase(0, kUtf8Bom.size());
  return true;
}

// Consecutive addresses merged into ranges.
std::vector<TImageRange> Ranges(const std::map<uint32_t, uint8_t>& AMemory) {
  std::vector<TImageRange> ranges;
  for (const auto& [address, byte] : AMemory) {
    if (ranges.empty() || ranges.back().Address + ranges.back().Bytes.size() != address)
      ranges.push_back({address, {}});
    ranges.back().Bytes.push_back(byte);
  }
  return ranges;
}

}  // namespace

bool ReadImage(const std::string& AFileName, TImageRole ARole, TUpdateImage& AImage,
               TImageRefusal& ARefusal) {
  std::string text, error;
  if (!ReadWholeFile(AFileName, text, error)) {
    ARefusal = {AFileName, 0, error};
    return false;
  }
  return CheckImage(AFileName, ARole, SplitLines(text), AImage, ARefusal);
}

bool CheckImage(const std::string& AFileName, TImageRole ARole, std::vector<std::string> ALines,
                TUpdateImage& AImage, TImageRefusal& ARefusal) {
  std::map<uint32_t, uint8_t> memory;
  uint32_t address = 0;
  size_t i = 0;
  try {
    for (; i < ALines.size(); ++i) {
      const std::string line = TrimLine(ALines[i]);
      switch (ClassifyLine(line)) {
        case TTiTxtLineKind::End:
          AImage = {AFileName, ARole, std::move(ALines), Ranges(memory)};
          return true;
        case TTiTxtLineKind::Address:
        case TTiTxtLineKind::Start:
          address = HexToInt(line.substr(1));
          break;
        case TTiTxtLineKind::Data:
          for (uint8_t b : DataLineBytes(line)) memory[address++] = b;
          break;
        default:
          break;
      }
    }
  } catch (const EConvertError& e) {
    ARefusal = {AFileName, static_cast<int>(i) + 1, e.what()};
    return false;
  }
  ARefusal = {AFileName, static_cast<int>(ALines.size()), "the end line \"q\" is missing"};
  return false;
}

std::string RefusalText(const TImageRefusal& ARefusal) {
  std::string where = "Image file \"" + ARefusal.FileName + "\"";
  if (ARefusal.Line > 0) where += ", line " + std::to_string(ARefusal.Line);
  return where + ": " + ARefusal.Reason + ". The board was not changed.";
}

}  // namespace update
