#include "PrintableText.h"

#include <cstdio>

#include "Utf8.h"

std::string PrintableText(std::string_view AText, size_t AMaxCharacters) {
  constexpr char32_t kDelete = 0x7F;
  constexpr char32_t kLastC1 = 0x9F;  // C1 controls are escape sequences too
  std::string out;
  size_t characters = 0;
  for (size_t pos = 0; pos < AText.size();) {
    if (AMaxCharacters != 0 && characters == AMaxCharacters) return out + "...";
    const size_t start = pos;
    const std::optional<char32_t> code = DecodeUtf8(AText, pos);
    ++characters;
    if (code && *code >= 0x20 && (*code < kDelete || *code > kLastC1)) {
      out.append(AText.substr(start, pos - start));
      continue;
    }
    for (size_t i = start; i < pos; ++i) {  // a malformed sequence skipped one byte
      char text[8];
      std::snprintf(text, sizeof text, "\\x%02X", static_cast<unsigned char>(AText[i]));
      out += text;
    }
  }
  return out;
}
