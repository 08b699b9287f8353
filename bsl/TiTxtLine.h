// Line handling of TI-TXT images with the system's own marks: trimming,
// classification, hexadecimal conversion and the bytes of a data line.
// Plain C++, no device access: the flasher in bsl_flasher.cpp acts on it.
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

// Bytes of a data line: groups of two hex digits and one separator that is
// skipped unexamined; a final group shorter than two characters is ignored.
std::vector<uint8_t> DataLineBytes(const std::string& ATrimmed);
