// Writes a checked TI-TXT image into the board through the loader client,
// in file order: the data in fast writes, and the image's marks where they
// stand ("SET" calls the client's settings callback, "#" starts the loaded
// code, "?" asks the loader for its version, "q" ends the image). One
// setting, the block size, chooses between the two ways: a fast write per
// data line, every line logged before it is acted on (what the window shows
// and paces), or the consecutive data of a section joined into fast writes
// of a report's worth each (what --fast sends at the speed of the wire).
// Fast writes are never answered: whoever writes an image verifies it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "TiTxtImage.h"
#include "bsl_hid.h"

// Block sizes: each data line as it stands, or as many bytes as one report
// of the loader carries (its 62-byte buffer less the command byte and the
// three address bytes).
constexpr uint32_t kWriteLineByLine = 0;
constexpr uint32_t kWriteFullReports = 58;

// How far an image is, before each fast write (and once more at its end).
struct TImageProgress {
  int Line = 0;        // 0-based line of the file whose data go out next
  int Lines = 0;       // lines in the file
  uint64_t Done = 0;   // data bytes that went before
  uint64_t Total = 0;  // data bytes of the image
};
using TImageProgressFn = std::function<void(const TImageProgress& AProgress)>;

// True when the image's end line was reached with every report written.
// Line by line, AProgress also hears every line that writes nothing. A
// board that leaves the bus ends the image there.
bool WriteImage(TBsl& ABsl, const TTiTxtImage& AImage, uint32_t ABlockBytes, const TImageProgressFn& AProgress);

// Data bytes one fast write carries on a device with AOutputReportLength-
// byte reports: the report less its ID and length bytes, the command byte
// and the three address bytes, and never more than the loader's buffer.
size_t FastWriteCapacity(size_t AOutputReportLength);
