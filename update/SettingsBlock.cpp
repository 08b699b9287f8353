#include "SettingsBlock.h"

#include <algorithm>

#include "HexText.h"
#include "Utf8.h"
#include "bsl_hid.h"

namespace update {

TBytes SettingsRecord(const std::u16string& AText, int AMaxLength) {
  if (AMaxLength < 0) return {};
  TBytes record(static_cast<size_t>(AMaxLength) + 1, 0x00);
  // The entry fields hold at most a record's worth; should a longer text
  // arrive anyway, only what fits is sent and the length says so.
  const size_t length = std::min(AText.size(), static_cast<size_t>(AMaxLength));
  record[0] = static_cast<uint8_t>(length);
  for (size_t i = 0; i < length; ++i) record[i + 1] = static_cast<uint8_t>(AText[i] & 0xFF);
  return record;
}

bool SaveTextToDev(TBsl* ABsl, const std::u16string& AText, int AMaxLength, uint32_t AAddress) {
  try {
    if (ABsl == nullptr || ABsl->HidDev() == nullptr || AMaxLength < 0) return false;
    return ABsl->cmd_WriteHexFast(static_cast<int>(AAddress), SettingsRecord(AText, AMaxLength));
  } catch (...) {
    return false;
  }
}

std::vector<TImageRange> WriteSettingsBlock(
    TBsl* ABsl, const TSettingsTexts& ATexts,
    const std::function<void()>& APause, const TLogMsg& ALog) {
  std::vector<TImageRange> records;
  for (int i = 0; i < kSettingsRecords; ++i) {
    const uint32_t address = SettingsRecordAddress(i);
    const std::u16string& text = ATexts[static_cast<size_t>(i)];
    if (APause) APause();
    if (ALog) ALog(0, mtDebug, "WRITE DATA [0x" + Hex4(address) + "]: " + Utf16ToUtf8(text), clRed);
    SaveTextToDev(ABsl, text, kSettingsRecordText, address);
    records.push_back({address, SettingsRecord(text)});
  }
  return records;
}

}  // namespace update
