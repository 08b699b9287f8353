#include "XmlText.h"

#include "Utf8.h"

#include <array>
#include <charconv>
#include <optional>

namespace {

struct TNamedEntity {
  std::string_view Name;
  char Character;
};
constexpr std::array<TNamedEntity, 5> kPredefined = {
    {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}}};

// The longest reference we resolve: "&#x10FFFF;" and "&#1114111;" fit.
constexpr size_t kLongestReference = 12;
constexpr char32_t kLastCodePoint = 0x10FFFF;

// The character of a numeric reference body ("#65", "#x41"), none when it
// is not a well-formed reference to a character XML allows.
std::optional<char32_t> NumericReference(std::string_view ABody) {
  if (ABody.size() < 2 || ABody[0] != '#') return std::nullopt;
  const bool hex = ABody[1] == 'x';
  const std::string_view digits = ABody.substr(hex ? 2 : 1);
  if (digits.empty()) return std::nullopt;
  unsigned long code = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (code == 0 || code > kLastCodePoint || (code >= 0xD800 && code <= 0xDFFF)) {
    return std::nullopt;
  }
  return static_cast<char32_t>(code);
}

std::string Escape(std::string_view AText, bool AInAttribute) {
  std::string out;
  out.reserve(AText.size());
  for (const char c : AText) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (AInAttribute && c == '"') {
      out += "&quot;";
    } else if (AInAttribute && byte < 0x20) {
      out += "&#" + std::to_string(byte) + ";";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string XmlEscapeAttribute(std::string_view AText) { return Escape(AText, true); }

std::string XmlEscapeText(std::string_view AText) { return Escape(AText, false); }

std::string XmlResolveReferences(std::string_view ARaw) {
  std::string out;
  out.reserve(ARaw.size());
  for (size_t pos = 0; pos < ARaw.size();) {
    const size_t semicolon = ARaw[pos] == '&' ? ARaw.find(';', pos) : std::string_view::npos;
    if (semicolon == std::string_view::npos || semicolon - pos > kLongestReference) {
      out += ARaw[pos++];
      continue;
    }
    const std::string_view body = ARaw.substr(pos + 1, semicolon - pos - 1);
    bool resolved = false;
    if (const auto code = NumericReference(body)) {
      AppendUtf8(out, *code);
      resolved = true;
    }
    for (const TNamedEntity& entity : kPredefined) {
      if (!resolved && body == entity.Name) {
        out += entity.Character;
        resolved = true;
      }
    }
    if (resolved) {
      pos = semicolon + 1;
    } else {
      out += ARaw[pos++];
    }
  }
  return out;
}
