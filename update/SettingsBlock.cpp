#include "SettingsBlock.h"

#include <algorithm>
#include <cstdio>

#include "bsl_hid.h"

namespace update {

namespace {

std::string Hex4(uint32_t AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(AValue));
  return text;
}

void AppendUtf8(std::string& AOut, char32_t ACode) {
  if (ACode < 0x80) {
    AOut += static_cast<char>(ACode);
  } else if (ACode < 0x800) {
    AOut += static_cast<char>(0xC0 | (ACode >> 6));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  } else if (ACode < 0x10000) {
    AOut += static_cast<char>(0xE0 | (ACode >> 12));
    AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (ACode >> 18));
    AOut += static_cast<char>(0x80 | ((ACode >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((ACode >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACode & 0x3F));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

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

std::string Utf16ToUtf8(const std::u16string& AText) {
  std::string out;
  for (size_t i = 0; i < AText.size(); ++i) {
    const char16_t c = AText[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < AText.size() && AText[i + 1] >= 0xDC00 &&
        AText[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(AText[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, kReplacement);  // a lone surrogate
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& AText) {
  std::u16string out;
  for (size_t i = 0; i < AText.size();) {
    const auto b = static_cast<unsigned char>(AText[i]);
    const int extra = b < 0x80 ? 0 : (b >> 5) == 0x6 ? 1 : (b >> 4) == 0xE ? 2 : (b >> 3) == 0x1E ? 3 : -1;
    char32_t code = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    bool valid = extra >= 0 && i + static_cast<size_t>(extra) < AText.size();
    for (int k = 1; valid && k <= extra; ++k) {
      const auto n = static_cast<unsigned char>(AText[i + static_cast<size_t>(k)]);
      valid = (n & 0xC0) == 0x80;
      code = (code << 6) | (n & 0x3F);
    }
    if (!valid || code > 0x10FFFF) {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
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
