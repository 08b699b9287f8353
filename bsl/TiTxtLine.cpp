#include "TiTxtLine.h"

#include <cstdio>

namespace {

bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= ' '; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool EqualsNoCase(const std::string& AText, const char* AWord) {
  size_t i = 0;
  for (; AWord[i] != '\0'; ++i) {
    if (i >= AText.size()) return false;
    char c = AText[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != AWord[i]) return false;
  }
  return i == AText.size();
}

// Each data group is two digits and one blank.
constexpr size_t kGroupWidth = 3;

}  // namespace

std::string TrimLine(const std::string& ALine) {
  size_t first = 0;
  size_t last = ALine.size();
  while (first < last && IsTrimmed(ALine[first])) ++first;
  while (last > first && IsTrimmed(ALine[last - 1])) --last;
  return ALine.substr(first, last - first);
}

TTiTxtLineKind ClassifyLine(const std::string& ATrimmed) {
  if (ATrimmed.empty()) return TTiTxtLineKind::Empty;
  if (EqualsNoCase(ATrimmed, "SET")) return TTiTxtLineKind::Settings;
  switch (ATrimmed[0]) {
    case '#': return TTiTxtLineKind::Start;
    case '?': return TTiTxtLineKind::Version;
    case '@': return TTiTxtLineKind::Address;
    case 'q': return TTiTxtLineKind::End;
    default: return TTiTxtLineKind::Data;
  }
}

uint32_t HexToInt(const std::string& AText) {
  const auto fail = [&AText]() {
    return EConvertError("'$" + AText + "' is not a valid integer value");
  };
  if (AText.empty()) throw fail();
  uint64_t value = 0;
  for (char c : AText) {
    const int digit = HexDigit(c);
    if (digit < 0) throw fail();
    value = (value << 4) | static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) throw fail();
  }
  return static_cast<uint32_t>(value);
}

bool ParseDataLine(const std::string& ATrimmed, std::vector<uint8_t>& ABytes) {
  ABytes.clear();
  ABytes.reserve((ATrimmed.size() + 1) / kGroupWidth);
  for (size_t pos = 0;; pos += kGroupWidth) {
    if (pos + 2 > ATrimmed.size()) break;  // a lone digit, or nothing after a blank
    const int high = HexDigit(ATrimmed[pos]);
    const int low = HexDigit(ATrimmed[pos + 1]);
    if (high < 0 || low < 0) break;
    ABytes.push_back(static_cast<uint8_t>(high << 4 | low));
    if (pos + 2 == ATrimmed.size()) return true;
    const char separator = ATrimmed[pos + 2];
    if (separator != ' ' && separator != '\t') break;
  }
  ABytes.clear();
  return false;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One character of a line, named in a reason.
std::string CharacterAt(const std::string& ALine, size_t APos) {
  const auto c = static_cast<unsigned char>(ALine[APos]);
  char text[32];
  if (c > ' ' && c < 0x7F)
    std::snprintf(text, sizeof text, "\"%c\" at column %zu", c, APos + 1);
  else
    std::snprintf(text, sizeof text, "the byte %02Xh at column %zu", c, APos + 1);
  return text;
}

}  // namespace

std::string DataLineProblem(const std::string& ATrimmed) {
  // "Q" stands where the end line "q" was meant; upper case is data.
  if (!ATrimmed.empty() && ATrimmed[0] == 'Q') return "an end line is a lower-case \"q\"";
  for (size_t pos = 0; pos < ATrimmed.size(); pos += kGroupWidth) {
    if (HexDigit(ATrimmed[pos]) < 0) return CharacterAt(ATrimmed, pos) + " is no hexadecimal digit";
    if (pos + 1 == ATrimmed.size() || IsBlank(ATrimmed[pos + 1]))
      return "the byte at column " + std::to_string(pos + 1) + " has one digit";
    if (HexDigit(ATrimmed[pos + 1]) < 0) return CharacterAt(ATrimmed, pos + 1) + " is no hexadecimal digit";
    if (pos + 2 == ATrimmed.size()) break;
    const char separator = ATrimmed[pos + 2];
    if (HexDigit(separator) >= 0) return "no blank after the byte at column " + std::to_string(pos + 1);
    if (!IsBlank(separator)) return CharacterAt(ATrimmed, pos + 2) + " stands where a blank belongs";
    if (pos + 3 < ATrimmed.size() && IsBlank(ATrimmed[pos + 3]))
      return "two blanks at column " + std::to_string(pos + 3) + "; one blank stands between two bytes";
  }
  return "it cannot be read";
}
