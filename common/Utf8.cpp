#include "Utf8.h"

namespace {

struct TSequenceShape {
  size_t Length;      // bytes in the sequence, 0 for a byte that cannot lead one
  char32_t LeadBits;  // payload bits of the lead byte
  char32_t Minimum;   // smallest code point this length may carry (no overlong forms)
};

TSequenceShape ShapeOf(unsigned char ALead) {
  if ((ALead & 0xE0) == 0xC0) return {2, ALead & 0x1Fu, 0x80};
  if ((ALead & 0xF0) == 0xE0) return {3, ALead & 0x0Fu, 0x800};
  if ((ALead & 0xF8) == 0xF0) return {4, ALead & 0x07u, 0x10000};
  return {0, 0, 0};
}

bool IsSurrogate(char32_t ACode) { return ACode >= 0xD800 && ACode <= 0xDFFF; }

bool IsScalarValue(char32_t ACode) { return ACode <= 0x10FFFF && !IsSurrogate(ACode); }

}  // namespace

std::optional<char32_t> DecodeUtf8(std::string_view AText, size_t& APos) {
  const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(AText[i]); };
  if (byteAt(APos) < 0x80) return byteAt(APos++);
  const TSequenceShape shape = ShapeOf(byteAt(APos));
  char32_t code = shape.LeadBits;
  bool valid = shape.Length != 0 && APos + shape.Length <= AText.size();
  for (size_t i = 1; valid && i < shape.Length; ++i) {
    valid = (byteAt(APos + i) & 0xC0) == 0x80;
    code = (code << 6) | (byteAt(APos + i) & 0x3F);
  }
  if (!valid || code < shape.Minimum || !IsScalarValue(code)) {
    ++APos;
    return std::nullopt;
  }
  APos += shape.Length;
  return code;
}

char32_t NextCodePoint(std::string_view AText, size_t& APos) {
  return DecodeUtf8(AText, APos).value_or(kReplacementCharacter);
}

bool IsUtf8(std::string_view AText) {
  for (size_t pos = 0; pos < AText.size();) {
    if (!DecodeUtf8(AText, pos)) return false;
  }
  return true;
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

std::string Utf16ToUtf8(const std::u16string& AText) {
  std::string out;
  for (size_t i = 0; i < AText.size(); ++i) {
    const char16_t c = AText[i];
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < AText.size() &&
                      AText[i + 1] >= 0xDC00 && AText[i + 1] <= 0xDFFF;
    if (pair) {
      AppendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(AText[++i]) - 0xDC00));
    } else {
      AppendUtf8(out, IsSurrogate(c) ? kReplacementCharacter : c);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view AText) {
  std::u16string out;
  out.reserve(AText.size());
  for (size_t pos = 0; pos < AText.size();) {
    const char32_t code = NextCodePoint(AText, pos);
    if (code >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
  }
  return out;
}

std::string PathToUtf8(const std::filesystem::path& APath) {
  const std::u8string text = APath.generic_u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path Utf8ToPath(std::string_view AText) {
  return std::filesystem::path(std::u8string(AText.begin(), AText.end()));
}

size_t Utf8Length(std::string_view AText) {
  size_t count = 0;
  for (size_t pos = 0; pos < AText.size(); ++count) NextCodePoint(AText, pos);
  return count;
}

std::string_view Utf8Head(std::string_view AText, size_t ACount) {
  size_t pos = 0;
  for (size_t count = 0; count < ACount && pos < AText.size(); ++count) NextCodePoint(AText, pos);
  return AText.substr(0, pos);
}
