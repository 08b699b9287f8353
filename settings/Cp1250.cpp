#include "Cp1250.h"

#include <array>

#include "Utf8.h"

namespace {
// Bytes below 0x80 are ASCII; this is the upper half, 0x80 to 0xFF.
// 0 marks a byte that windows-1250 leaves undefined.
constexpr std::array<char16_t, 128> kUpperHalf = {
    // 0x80
    0x20AC, 0,      0x201A, 0,      0x201E, 0x2026, 0x2020, 0x2021,
    0,      0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    // 0x90
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0,      0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    // 0xA0
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    // 0xB0
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    // 0xC0
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    // 0xD0
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    // 0xE0
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    // 0xF0
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

constexpr std::uint8_t kFirstUpperByte = 0x80;

}  // namespace

std::optional<char32_t> Cp1250ToUnicode(std::uint8_t AByte) {
  if (AByte < kFirstUpperByte) return AByte;
  const char16_t code = kUpperHalf[AByte - kFirstUpperByte];
  if (code == 0) return std::nullopt;
  return code;
}

std::optional<std::uint8_t> UnicodeToCp1250(char32_t ACodePoint) {
  if (ACodePoint < kFirstUpperByte) return static_cast<std::uint8_t>(ACodePoint);
  for (size_t i = 0; i < kUpperHalf.size(); ++i) {
    if (kUpperHalf[i] != 0 && kUpperHalf[i] == ACodePoint) {
      return static_cast<std::uint8_t>(kFirstUpperByte + i);
    }
  }
  return std::nullopt;
}

std::string Cp1250ToUtf8(std::string_view ABytes) {
  std::string text;
  text.reserve(ABytes.size());
  for (const char byte : ABytes) {
    AppendUtf8(text, Cp1250ToUnicode(static_cast<std::uint8_t>(byte)).value_or(kReplacementCharacter));
  }
  return text;
}

std::string Utf8ToCp1250(std::string_view AText) {
  std::string bytes;
  bytes.reserve(AText.size());
  for (size_t pos = 0; pos < AText.size();) {
    const char32_t code = NextCodePoint(AText, pos);
    if (const auto byte = UnicodeToCp1250(code)) {
      bytes += static_cast<char>(*byte);
    } else {
      bytes += "&#" + std::to_string(static_cast<std::uint32_t>(code)) + ";";
    }
  }
  return bytes;
}

std::optional<char32_t> FirstCharOutsideCp1250(std::string_view AText) {
  for (size_t pos = 0; pos < AText.size();) {
    const char32_t code = NextCodePoint(AText, pos);
    if (!UnicodeToCp1250(code)) return code;
  }
  return std::nullopt;
}
