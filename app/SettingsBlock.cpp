// The settings block written into the board at the image's "SET" line:
// three 41-byte records (length byte + up to 40 characters, zero-filled)
// for the access point name, the login and the password.
#include <algorithm>
#include <thread>

#include "bsl_hid.h"
#include "HexText.h"
#include "ufKestrovaLoader_Main.h"

namespace {

constexpr uint32_t kSettingsAddress = 0xFE00;  // first record; the block ends at 0xFE7A
constexpr int kRecordText = 40;                // characters per record, after the length byte
constexpr auto kBeforeRecord = std::chrono::milliseconds(100);

}  // namespace

void TfKestrovaLoader_Main::SetBeforeStart(TBsl* ABsl) {
  uint32_t ADR = kSettingsAddress;
  for (const QString& text : fSettingsCopy) {
    fTiming.Sleep(kBeforeRecord);
    LogMsg(0, mtDebug, "WRITE DATA [0x" + Hex4(ADR) + "]: " + text.toStdString(), clRed);
    SaveTextToDev(ABsl, text, kRecordText, static_cast<int>(ADR));
    ADR += kRecordText + 1;
  }
}

bool TfKestrovaLoader_Main::SaveTextToDev(TBsl* ABsl, const QString& AText, int AMaxLength,
                                          int AAddress) {
  try {
    if (ABsl == nullptr || ABsl->HidDev() == nullptr || AMaxLength < 0) return false;
    TBytes record(static_cast<size_t>(AMaxLength) + 1, 0x00);
    // The entry fields hold at most a record's worth; should a longer text
    // arrive anyway, only what fits is sent and the length says so.
    const int length = std::min<int>(static_cast<int>(AText.size()), AMaxLength);
    record[0] = static_cast<uint8_t>(length);
    for (int i = 0; i < length; ++i)
      record[static_cast<size_t>(i) + 1] = static_cast<uint8_t>(AText[i].unicode() & 0xFF);
    return ABsl->cmd_WriteHexFast(AAddress, record);
  } catch (...) {
    return false;
  }
}
