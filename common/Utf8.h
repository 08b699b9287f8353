// UTF-8, the form of every text in memory outside the windows: one strict
// decoder (no overlong forms, surrogates or code points past U+10FFFF), the
// conversions to and from UTF-16 (the text of the entry fields and of the
// settings records) and to and from paths.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Reads one character at APos and moves APos past it; a malformed, overlong
// or surrogate sequence yields none and skips one byte.
std::optional<char32_t> DecodeUtf8(std::string_view AText, size_t& APos);
// The same, with U+FFFD for a byte that starts no character.
char32_t NextCodePoint(std::string_view AText, size_t& APos);
// True when every byte of AText belongs to a well-formed character.
bool IsUtf8(std::string_view AText);
// Appends the UTF-8 form of the code point ACode to AOut.
void AppendUtf8(std::string& AOut, char32_t ACode);

// How many characters AText holds (a byte that starts none counts as one),
// and its first ACount characters, never a character cut in two: a line
// for a terminal, where each character takes one column.
size_t Utf8Length(std::string_view AText);
std::string_view Utf8Head(std::string_view AText, size_t ACount);

// Surrogate pairs become one character, a lone surrogate U+FFFD.
std::string Utf16ToUtf8(const std::u16string& AText);
// Each byte that starts no character becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view AText);

// A path as UTF-8 text, with "/" between folders on every system; and a
// path from UTF-8 text.
std::string PathToUtf8(const std::filesystem::path& APath);
std::filesystem::path Utf8ToPath(std::string_view AText);
