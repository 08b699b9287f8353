// A TI-TXT image read and checked completely before anything goes to a
// board: its data in sections with the line each byte came from, its marks
// in file order and its end line. Two kinds with their own rules: the
// loader image that is started in RAM, and the application image that
// goes into flash. Plain C++, no device access.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "TiTxtLine.h"

enum class TTiTxtImageKind {
  Loader,       // written into RAM by the resident loader and started there
  Application,  // written into main flash and information memory
};

// Memory the two kinds may write (end exclusive).
struct TTiTxtArea {
  uint32_t Start;
  uint32_t End;
};
constexpr TTiTxtArea kTiTxtRam = {0x2400, 0x4400};
constexpr TTiTxtArea kTiTxtMainFlash = {0x4400, 0x24400};
constexpr TTiTxtArea kTiTxtInfoMemory = {0x1800, 0x1A00};
// The three 41-byte settings records the application writes at its "SET"
// line; an application image may only leave them erased (0xFF).
constexpr TTiTxtArea kTiTxtSettingsBlock = {0xFE00, 0xFE7B};

// One data line of a section: where its bytes start in the section.
struct TTiTxtDataLine {
  int Line = 0;         // 1-based line number in the file
  uint32_t Offset = 0;  // first byte, counted from the section's address
  uint32_t Count = 0;   // bytes on the line (at least one)
};

// Consecutive data lines after one address line (or start line).
struct TTiTxtSection {
  uint32_t Address = 0;
  std::vector<uint8_t> Bytes;
  std::vector<TTiTxtDataLine> Lines;

  uint32_t End() const { return Address + static_cast<uint32_t>(Bytes.size()); }
  // 1-based line number of the byte at AAddress (0 when not in the section).
  int LineOf(uint32_t AAddress) const;
};

// A line that is not data and not empty: "#", "?", "SET", "q". Address
// lines are not marks; they open sections.
struct TTiTxtMark {
  TTiTxtLineKind Kind = TTiTxtLineKind::Empty;  // Start, Version, Settings or End
  int Line = 0;                                 // 1-based
  uint32_t Address = 0;  // the start line's address; otherwise the current address there
};

// A contiguous run of memory and the bytes an image leaves there.
struct TTiTxtRange {
  uint32_t Address = 0;
  std::vector<uint8_t> Bytes;

  uint32_t End() const { return Address + static_cast<uint32_t>(Bytes.size()); }
};

// Puts ACount bytes at AAddress into ARanges (sorted, adjacent runs
// joined); where they overlap what is there, they win.
void OverlayRange(std::vector<TTiTxtRange>& ARanges, uint32_t AAddress, const uint8_t* ABytes,
                  size_t ACount);

// What the image writer does at one line, in file order: a data line's write
// or a mark. Bytes point into the image's sections.
struct TTiTxtStep {
  TTiTxtLineKind Kind = TTiTxtLineKind::Empty;  // Data, Start, Version, Settings or End
  int Line = 0;                                 // 1-based
  uint32_t Address = 0;                         // where the data go, or the mark's address
  const uint8_t* Bytes = nullptr;               // data only
  uint32_t Count = 0;
  int Section = -1;                             // data: the section's index
};

class TTiTxtImage {
 public:
  TTiTxtImageKind Kind = TTiTxtImageKind::Application;
  std::string FileName;                // as given to the check
  int LineCount = 0;                   // lines in the file
  std::vector<std::string> Trimmed;    // each line trimmed, up to the end line
  std::string Sha256;                  // of the file's bytes as read (empty: lines given in memory)
  std::vector<TTiTxtSection> Sections;  // in file order; an empty section is dropped
  std::vector<TTiTxtMark> Marks;       // in file order, the end line last
  int StartLine = 0;                   // first start line, 0 when there is none
  uint32_t StartAddress = 0;           // its address; the code runs from StartAddress + 4
  int EndLine = 0;                     // the "q" line

  // Data bytes written, counted once per write.
  size_t DataSize() const;
  // What the image leaves in memory: sorted, adjacent runs joined, and
  // where an address is written more than once the last write counts.
  std::vector<TTiTxtRange> Ranges() const;
  // Every data line and mark up to the end line, in file order.
  std::vector<TTiTxtStep> Steps() const;
};

// Why an image was refused: the file, the 1-based line (0 for the file as
// a whole) and a short reason. what() holds all three in one line.
class ETiTxtImageError : public std::runtime_error {
 public:
  ETiTxtImageError(std::string AFileName, int ALine, std::string AReason);

  const std::string& FileName() const { return FFileName; }
  int Line() const { return FLine; }
  const std::string& Reason() const { return FReason; }

 private:
  std::string FFileName;
  int FLine;
  std::string FReason;
};

// The largest image file that is read at all: far above any image the
// board can hold, so a wrong file is refused before it is read whole.
constexpr uint64_t kTiTxtMaxFileSize = 16u * 1024u * 1024u;

// Checks the lines of an image completely; AFileName only names the file
// in errors. Throws ETiTxtImageError at the first line that breaks a rule.
TTiTxtImage CheckTiTxtImage(const std::vector<std::string>& ALines, TTiTxtImageKind AKind,
                            const std::string& AFileName);

// Reads AFileName and checks it, with the SHA-256 of its bytes; a missing,
// unreadable, empty or too large file is refused the same way (line 0).
TTiTxtImage ReadTiTxtImage(const std::string& AFileName, TTiTxtImageKind AKind);

// The technician's text for a refused image: the file, the line, what is
// wrong, and that the board was not changed.
std::string ImageRefusalText(const ETiTxtImageError& AError);
