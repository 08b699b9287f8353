#include "JsonText.h"

#include <cstdio>

#include "Utf8.h"

std::string JsonString(const std::string& AText) {
  // Through UTF-16 and back: what is not UTF-8 leaves as U+FFFD.
  const std::string text = Utf16ToUtf8(Utf8ToUtf16(AText));
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

TJsonFields& TJsonFields::Raw(const char* AName, const std::string& AJson) {
  if (!FText.empty()) FText += ',';
  FText += JsonString(AName) + ":" + AJson;
  return *this;
}

TJsonFields& TJsonFields::Append(const TJsonFields& AMore) {
  if (!FText.empty() && !AMore.FText.empty()) FText += ',';
  FText += AMore.FText;
  return *this;
}
