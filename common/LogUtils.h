// Log message model shared by every component that reports something,
// plus the hex formatter used by the loader transport's trace lines.
// Plain C++: no toolkit types, so it builds for every target.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Category of a log message; travels with the message, never shown.
enum TMessageType : uint8_t {
  mtSystem = 0,       // device detection
  mtApplication = 1,  // service log window start line
  mtHint = 2,
  mtInfo = 3,
  mtMessage = 4,      // image completely written
  mtDebug = 5,        // loader client, update workflow, settings writer
};

// 0x00BBGGRR for RGB; with the high byte 0xFF the low byte indexes one of
// the platform's user-interface colours, resolved when the text is written.
using TColor = uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clGreen = 0x008000;
constexpr TColor clGray = 0x808080;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWindow = 0xFF000005;    // COLOR_WINDOW
constexpr TColor clBtnFace = 0xFF00000F;   // COLOR_BTNFACE
constexpr TColor clGrayText = 0xFF000011;  // COLOR_GRAYTEXT

constexpr bool IsSystemColor(TColor c) { return (c >> 24) == 0xFF; }
constexpr uint8_t SystemColorIndex(TColor c) { return static_cast<uint8_t>(c & 0xFF); }

// The log callback: source number, category, text (UTF-8), colour.
// An empty callback means the message is dropped.
using TLogMsg = std::function<void(int32_t AID, TMessageType AType,
                                   const std::string& AMessage, TColor AColor)>;

using TBytes = std::vector<uint8_t>;

// "3F 02 " style dump: two upper-case hex digits and a blank per byte.
std::string BytesToHex(const TBytes& data);
std::string BytesToHex(const uint8_t* data, size_t size);
