// The windows-1250 (Central European) code page of the settings file, with
// our own table, and conversions between its bytes and UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Code point of a windows-1250 byte; none for the five bytes the code page
// leaves undefined (0x81, 0x83, 0x88, 0x90, 0x98).
std::optional<char32_t> Cp1250ToUnicode(std::uint8_t AByte);
// windows-1250 byte of a code point; none when the code page cannot hold it.
std::optional<std::uint8_t> UnicodeToCp1250(char32_t ACodePoint);

// Decodes windows-1250 bytes to UTF-8; an undefined byte becomes U+FFFD.
std::string Cp1250ToUtf8(std::string_view ABytes);
// Encodes UTF-8 to windows-1250. A character the code page cannot hold is
// written as the numeric character reference "&#N;" (decimal), which XML
// reads back as the same character; use it only on text where such
// references are legal (element content, attribute values). Malformed UTF-8
// bytes are taken as U+FFFD.
std::string Utf8ToCp1250(std::string_view AText);
// The first character of the UTF-8 text that windows-1250 cannot hold, or none.
std::optional<char32_t> FirstCharOutsideCp1250(std::string_view AText);
