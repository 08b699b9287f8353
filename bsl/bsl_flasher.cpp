// The TI-TXT image flasher of TBsl: one fast write per data line, plus the
// system's start ("#"), version ("?") and settings ("SET") marks.
#include <cstdio>

#include "TiTxtFile.h"
#include "bsl_hid.h"

bool TBsl::FlashFile(const std::string& AFileName) {
  if (!TiTxtFileExists(AFileName)) return false;
  const std::vector<std::string> lines = SplitTiTxtLines(ReadTiTxtFile(AFileName));
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
    try {
      if (!FlashLine(line, address)) ++unwritten;
    } catch (const EConvertError& e) {
      throw EConvertError("line " + std::to_string(i + 1) + ": " + e.what());
    }
    // Nothing more is written to a board that has left the bus.
    if (DeviceGone()) {
      LogMsg(3, mtMessage, "Firmware update stopped: the board left the bus at line " + std::to_string(i + 1),
             clRed);
      return false;
    }
  }
  return false;
}

namespace {

std::string Hex8h(uint32_t AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "%08Xh", static_cast<unsigned>(AValue));
  return text;
}

// The address of an address or start line, inside the 20-bit address space.
uint32_t LineAddress(const std::string& ATrimmed) {
  const uint32_t address = HexToInt(ATrimmed.substr(1));
  if (address >= kTiTxtAddressLimit)
    throw EConvertError("address " + Hex8h(address) + " is beyond the last address " +
                        Hex8h(kTiTxtAddressLimit - 1));
  return address;
}

}  // namespace

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
             " lines were not written",
         clRed);
  return false;
}

// False only for a data or start line whose report was not written.
bool TBsl::FlashLine(const std::string& ATrimmed, uint32_t& ACurrentAddress) {
  switch (ClassifyLine(ATrimmed)) {
    case TTiTxtLineKind::Empty:
    case TTiTxtLineKind::End:
      break;
    case TTiTxtLineKind::Settings:
      if (fonSet) fonSet(this);
      break;
    case TTiTxtLineKind::Start:
      ACurrentAddress = LineAddress(ATrimmed);
      cmd_LoadPC(static_cast<int>(ACurrentAddress));
      return !LastFailure().Failed();  // the loader leaves without an answer
    case TTiTxtLineKind::Version:
      if (FHidDev) FHidDev->CloseFile();
      cmd_TxBslVersion();
      break;
    case TTiTxtLineKind::Address:
      ACurrentAddress = LineAddress(ATrimmed);
      break;
    case TTiTxtLineKind::Data: {
      const TBytes bytes = DataLineBytes(ATrimmed);
      if (ACurrentAddress + bytes.size() > kTiTxtAddressLimit)
        throw EConvertError("data at " + Hex8h(ACurrentAddress) + " run past the last address " +
                            Hex8h(kTiTxtAddressLimit - 1));
      const bool written = cmd_WriteHexFast(static_cast<int>(ACurrentAddress), bytes);
      ACurrentAddress += static_cast<uint32_t>(bytes.size());
      return written;
    }
  }
  return true;
}
