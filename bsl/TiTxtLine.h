// Line handling of TI-TXT images with the system's own marks: trimming,
// classification, hexadecimal conversion and the bytes of a data line.
// Plain C++, no device access: the image check reads lines with it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A text that should be hexadecimal but is not. The message names the text
// as it was converted, "$" prefix included.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TTiTxtLineKind {
  Empty,     // nothing to do
  Settings,  // "SET" in any case: the settings callback writes its block
  Start,     // "#ADDR": load the program counter
  Version,   // "?...": reopen the device and query the loader
  Address,   // "@ADDR": new current address
  End,       // "q...": the image is complete
  Data,      // hexadecimal byte pairs, one separator after each
};

// Removes blanks and control characters (anything up to ' ') at both ends.
std::string TrimLine(const std::string& ALine);

// Kind of an already trimmed line; the first matching rule wins.
TTiTxtLineKind ClassifyLine(const std::string& ATrimmed);

// "$" + AText as a hexadecimal integer of at most 32 bits; anything else
// (empty, a blank, a sign, more than 32 bits) raises EConvertError.
uint32_t HexToInt(const std::string& AText);

// The MSP430's 20-bit address space ends below this address.
constexpr uint32_t kTiTxtAddressLimit = 0x100000;

// Bytes of a data line, read exactly: one or more pairs of hexadecimal
// digits with one blank (space or tab) between two pairs. False, with
// ABytes cleared, for anything else: another separator, a missing one, two
// blanks, an odd digit, any other character.
bool ParseDataLine(const std::string& ATrimmed, std::vector<uint8_t>& ABytes);

// What keeps a line that ParseDataLine refuses from being read, for the
// technician: where, and what stands there instead.
std::string DataLineProblem(const std::string& ATrimmed);
