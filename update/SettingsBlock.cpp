#include "SettingsBlock.h"

#include <algorithm>

#include "HexText.h"
#include "Utf8.h"
#include "bsl_hid.h"

namespace update {

const char* SettingsFieldName(int AIndex) {
  static const char* const kNames[] = {"Access point name", "Login", "Password"};
  return AIndex >= 0 && AIndex < kSettingsRecords ? kNames[AIndex] : "";
}

TSettingsTextCheck CheckSettingsText(const std::u16string& AText) {
  TSettingsTextCheck check;
  check.Length = AText.size();
  for (size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] <= 0xFF) continue;
    // A character beyond U+FFFF stands as two code units, each of which
    // leaves its low byte.
    const bool pair = AText[i] >= 0xD800 && AText[i] < 0xDC00 && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 &&
                      AText[i + 1] < 0xE000;
    const std::u16string units = AText.substr(i, pair ? 2 : 1);
    const std::string utf8 = Utf16ToUtf8(units);
    size_t at = 0;
    TUnstorableCharacter bad{NextCodePoint(utf8, at), {}};
    for (char16_t unit : units) bad.Stored.push_back(static_cast<uint8_t>(unit & 0xFF));
    check.Unstorable.push_back(std::move(bad));
    i += units.size() - 1;
  }
  return check;
}

TSettingsTexts CheckedSettings(const std::array<std::string, kSettingsRecords>& AUtf8Texts,
                               const std::array<std::string, kSettingsRecords>& AWhere) {
  TSettingsTexts result;
  for (size_t i = 0; i < AUtf8Texts.size(); ++i) {
    result[i] = Utf8ToUtf16(AUtf8Texts[i]);
    const TSettingsTextCheck check = CheckSettingsText(result[i]);
    if (check.TooLong())
      throw ESettingsText(AWhere[i] + ": at most " + std::to_string(kSettingsRecordText) +
                          " characters fit the board, the text has " + std::to_string(check.Length));
    if (!check.Unstorable.empty())
      throw ESettingsText(AWhere[i] + ": the board stores only Latin-1 characters (up to U+00FF); the text has U+" +
                          Hex4(static_cast<unsigned>(check.Unstorable.front().Character)));
  }
  return result;
}

std::string UnstorableLine(int AField, const TUnstorableCharacter& AChar) {
  std::string text = std::string(SettingsFieldName(AField)) + ": ";
  AppendUtf8(text, AChar.Character);
  text += " (U+" + Hex4(static_cast<unsigned>(AChar.Character)) + ") would be stored as";
  for (uint8_t byte : AChar.Stored) text += " " + Hex2(byte) + "h";
  return text;
}

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

std::vector<TTiTxtRange> WriteSettingsBlock(
    TBsl* ABsl, const TSettingsTexts& ATexts,
    const std::function<void()>& APause, const TLogMsg& ALog) {
  std::vector<TTiTxtRange> records;
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
