// The TI-TXT image flasher of TBsl: one fast write per data line, plus the
// system's start ("#"), version ("?") and settings ("SET") marks.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bsl_hid.h"

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
std::filesystem::path Utf8Path(const std::string& AFileName) {
  return std::filesystem::path(std::u8string(AFileName.begin(), AFileName.end()));
}

std::string ReadWholeFile(const std::string& AFileName) {
  std::ifstream in(Utf8Path(AFileName), std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    throw std::runtime_error("Cannot read file \"" + AFileName + "\": " +
                             std::strerror(errno));
  }
  std::string content = text.str();
  static const std::string kUtf8Bom = "\xEF\xBB\xBF";
  if (content.compare(0, kUtf8Bom.size(), kUtf8Bom) == 0) content.erase(0, kUtf8Bom.size());
  return content;
}

bool ImageFileExists(const std::string& AFileName) {
  std::error_code error;
  const auto status = std::filesystem::status(Utf8Path(AFileName), error);  // follows links
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace

bool TBsl::FlashFile(const std::string& AFileName) {
  if (!ImageFileExists(AFileName)) return false;
  const std::vector<std::string> lines = SplitLines(ReadWholeFile(AFileName));
  if (lines.empty()) return false;
  LogMsg(0, mtDebug, "Begin flashing file \"" + AFileName + "\".", clBlack);
  const bool result = FlashHex(&lines);
  LogMsg(0, mtDebug, "End flashing file \"" + AFileName + "\".", clBlack);
  return result;
}

bool TBsl::FlashHex(const std::vector<std::string>* Asl) {
  if (!Asl || !FHidDev) return false;
  uint32_t address = 0;
  int unwritten = 0;  // data lines whose report could not be written
  const int count = static_cast<int>(Asl->size());
  for (int i = 0; i < static_cast<int>(Asl->size()); ++i) {
    if (fOnProgress) fOnProgress(count, i, std::string());
    const std::string line = TrimLine((*Asl)[static_cast<size_t>(i)]);
    LogMsg(2, mtDebug, "line:" + std::to_string(i) + ": " + line, clGray);
    if (ClassifyLine(line) == TTiTxtLineKind::End) return EndOfImage(unwritten);
    if (!FlashLine(line, address)) ++unwritten;
  }
  return false;
}

// An image whose data did not all reach the board is not a complete
// update, even though its end line was reached (a board unplugged halfway
// fails every later write).
bool TBsl::EndOfImage(int AUnwrittenLines) {
  if (AUnwrittenLines == 0) {
    LogMsg(3, mtMessage, "Firmware update complete", clBlack);
    return true;
  }
  LogMsg(3, mtMessage,
         "Firmware update incomplete: " + std::to_string(AUnwrittenLines) +
             " data lines were not written",
         clRed);
  return false;
}

// False only for a data line whose fast write failed.
bool TBsl::FlashLine(const std::string& ATrimmed, uint32_t& ACurrentAddress) {
  switch (ClassifyLine(ATrimmed)) {
    case TTiTxtLineKind::Empty:
    case TTiTxtLineKind::End:
      break;
    case TTiTxtLineKind::Settings:
      if (fonSet) fonSet(this);
      break;
    case TTiTxtLineKind::Start:
      ACurrentAddress = HexToInt(ATrimmed.substr(1));
      cmd_LoadPC(static_cast<int>(ACurrentAddress));
      break;
    case TTiTxtLineKind::Version:
      if (FHidDev) FHidDev->CloseFile();
      cmd_TxBslVersion();
      break;
    case TTiTxtLineKind::Address:
      ACurrentAddress = HexToInt(ATrimmed.substr(1));
      break;
    case TTiTxtLineKind::Data: {
      const TBytes bytes = DataLineBytes(ATrimmed);
      const bool written = cmd_WriteHexFast(static_cast<int>(ACurrentAddress), bytes);
      ACurrentAddress += static_cast<uint32_t>(bytes.size());
      return written;
    }
  }
  return true;
}
