// Writes a checked TI-TXT image at the speed of the wire: the consecutive
// data of a section go out in full fast writes, as many bytes as one report
// carries, with no pause between them. The marks of the image ("SET", "#",
// "?", "q") act in file order, between the data that stand before and after
// them, exactly as the line-by-line flasher does. Fast writes are never
// answered, so whoever uses this verifies what was written afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "TiTxtImage.h"
#include "bsl_hid.h"

struct TFastWriteResult {
  bool Complete = false;  // the end line was reached and every report was written
  int Reports = 0;        // fast writes sent for the image's data
  size_t Bytes = 0;       // data bytes in them
};

// Streams AImage through ABsl. Before each fast write, and once at the end
// line, the client's onProgress is called with the image's line count and
// the 0-based index of the line whose data go out next (the end line's at
// the end), so a progress display and a cancellation see every report. The
// client's onSet is called at the settings line.
TFastWriteResult FastWriteImage(TBsl& ABsl, const TTiTxtImage& AImage);

// Data bytes one fast write carries on a device with AOutputReportLength-
// byte reports: the report less its ID and length bytes, the command byte
// and the three address bytes (58 with the loader's 64-byte reports).
size_t FastWriteCapacity(size_t AOutputReportLength);
