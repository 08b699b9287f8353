// Checks on the board what was written: every contiguous range is compared
// with CRC Check, computed here from the bytes that were sent, or, when
// the loader does not know CRC Check, by reading it back with TX Data
// Block. Plain C++; talks through a TBsl that is connected to the RAM loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "TiTxtImage.h"
#include "bsl_hid.h"

// CRC-CCITT as the loader's CRC Check computes it: polynomial 0x1021,
// seed 0xFFFF, most significant bit first, no final inversion. Pass the
// previous result as ACrc to continue over more bytes.
constexpr uint16_t kCrcCcittSeed = 0xFFFF;
uint16_t CrcCcitt(const uint8_t* AData, size_t ACount, uint16_t ACrc = kCrcCcittSeed);

// Longest piece one CRC Check covers: well inside the command's 16-bit
// length, and short enough for the loader to answer within the client's
// answer timeout. Pieces start on multiples of it, so none crosses a
// 64 KiB boundary.
constexpr uint32_t kVerifyCrcBlock = 0x4000;
// Longest piece one TX Data Block reads back: its answer must fit one
// report; the loader's 62-byte buffer holds the answer kind and 61 bytes.
constexpr uint32_t kVerifyReadBlock = 61;

// The memory a verification checks, as contiguous ranges in address order.
// A later Add wins where it overlaps earlier ones: the settings records are
// written over the erased bytes an application image may leave there.
class TVerifyPlan {
 public:
  void Add(uint32_t AAddress, const std::vector<uint8_t>& ABytes);
  // Everything the image leaves in memory (TTiTxtImage::Ranges).
  void AddImage(const TTiTxtImage& AImage);

  const std::vector<TTiTxtRange>& Ranges() const { return FRanges; }
  bool Empty() const { return FRanges.empty(); }

 private:
  std::vector<TTiTxtRange> FRanges;
};

enum class TVerifyResult {
  Ok,             // every range holds what was sent
  Mismatch,       // some range holds something else: the firmware is not correct
  NoAnswer,       // the board gave no usable answer (gone, locked): not correct either
  NotVerifiable,  // the loader knows neither CRC Check nor TX Data Block
};

struct TVerifyOutcome {
  TVerifyResult Result = TVerifyResult::Ok;
  int Pieces = 0;              // pieces compared before the outcome was known
  bool ReadBack = false;       // compared by reading back instead of CRC Check
  uint32_t FailedAddress = 0;  // first address of the piece that failed
  uint32_t FailedEnd = 0;      // and the address after it
  // Mismatch: the piece's CRC on the board and of what was sent, and, when
  // read back, the first address that differs.
  uint16_t BoardCrc = 0;
  uint16_t ExpectedCrc = 0;
  uint32_t FirstDifference = 0;
  TBslFailure Failure;  // NoAnswer: why the board could not be asked

  // The update must not be reported as a success.
  bool Failed() const {
    return Result == TVerifyResult::Mismatch || Result == TVerifyResult::NoAnswer;
  }
};

// Compares every range of APlan with the board behind ABsl, in address
// order; a mismatch does not stop the rest, a board that cannot be asked
// does. Logs through ABsl's log
// callback: a grey line per piece with its addresses and CRC, a red line
// with both CRCs (or the first differing byte) on a mismatch, and a red
// line when the board cannot be asked.
// AProgress, when set, hears the bytes compared so far of all there are.
using TVerifyProgress = std::function<void(uint64_t ADone, uint64_t ATotal)>;
TVerifyOutcome VerifyWritten(TBsl& ABsl, const TVerifyPlan& APlan, const TVerifyProgress& AProgress = {});
