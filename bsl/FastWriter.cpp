#include "FastWriter.h"

#include <algorithm>
#include <vector>

namespace {

// Report ID, length byte, command byte, three address bytes.
constexpr size_t kFastWriteOverhead = 6;
// The core packet's length byte holds 8 bits, and the loader's buffer 62
// bytes: never more than this whatever the report length says.
constexpr size_t kLoaderBufferData = 62 - 4;

// One thing to do, in file order: a data line of a section or a mark.
struct TStep {
  int Line = 0;
  const TTiTxtSection* Section = nullptr;  // data line when set
  const TTiTxtDataLine* Data = nullptr;
  const TTiTxtMark* Mark = nullptr;
};

std::vector<TStep> StepsInFileOrder(const TTiTxtImage& AImage) {
  std::vector<TStep> steps;
  for (const TTiTxtSection& section : AImage.Sections)
    for (const TTiTxtDataLine& line : section.Lines) steps.push_back({line.Line, &section, &line, nullptr});
  for (const TTiTxtMark& mark : AImage.Marks) steps.push_back({mark.Line, nullptr, nullptr, &mark});
  std::stable_sort(steps.begin(), steps.end(),
                   [](const TStep& A, const TStep& B) { return A.Line < B.Line; });
  return steps;
}

// Consecutive data lines of one section: one run of bytes, sent in full
// fast writes when a mark or another section comes, or at the end.
class TRunWriter {
 public:
  TRunWriter(TBsl& ABsl, const TTiTxtImage& AImage, size_t ACapacity, TFastWriteResult& AResult)
      : FBsl(ABsl), FImage(AImage), FCapacity(ACapacity), FResult(AResult) {}

  void Add(const TTiTxtSection& ASection, const TTiTxtDataLine& ALine) {
    if (FSection != &ASection || ALine.Offset != FEnd) Flush();
    if (FSection == nullptr) {
      FSection = &ASection;
      FStart = ALine.Offset;
    }
    FEnd = ALine.Offset + ALine.Count;
  }

  // Sends the run; false when a report could not be written.
  bool Flush() {
    bool ok = true;
    for (uint32_t offset = FStart; FSection != nullptr && offset < FEnd;) {
      const uint32_t count = static_cast<uint32_t>(std::min<size_t>(FCapacity, FEnd - offset));
      const uint32_t address = FSection->Address + offset;
      Progress(FSection->LineOf(address));
      const auto first = FSection->Bytes.begin() + offset;
      if (!FBsl.cmd_WriteHexFast(static_cast<int>(address), TBytes(first, first + count))) {
        ok = false;
        ++FFailed;
      }
      ++FResult.Reports;
      FResult.Bytes += count;
      offset += count;
      if (FBsl.DeviceGone()) break;  // nothing more goes to a board that left
    }
    FSection = nullptr;
    FStart = FEnd = 0;
    return ok;
  }

  void Progress(int ALine) {
    if (FBsl.onProgress()) FBsl.onProgress()(FImage.LineCount, ALine - 1, std::string());
  }

 private:
  TBsl& FBsl;
  const TTiTxtImage& FImage;
  const size_t FCapacity;
  TFastWriteResult& FResult;
  const TTiTxtSection* FSection = nullptr;
  uint32_t FStart = 0, FEnd = 0;
  int FFailed = 0;

 public:
  int Failed() const { return FFailed; }
};

// The flasher's closing line, with the count of reports that did not go out.
void LogEnd(TBsl& ABsl, int AFailedReports) {
  if (!ABsl.onLogMsg()) return;
  if (AFailedReports == 0) {
    ABsl.onLogMsg()(3, mtMessage, "Firmware update complete", clBlack);
  } else {
    ABsl.onLogMsg()(3, mtMessage,
                    "Firmware update incomplete: " + std::to_string(AFailedReports) +
                        " reports were not written",
                    clRed);
  }
}

void LogStopped(TBsl& ABsl, int ALine) {
  if (ABsl.onLogMsg())
    ABsl.onLogMsg()(3, mtMessage,
                    "Firmware update stopped: the board left the bus before line " + std::to_string(ALine), clRed);
}

// Acts on a mark other than the end line; false when its report was not written.
bool Mark(TBsl& ABsl, const TTiTxtMark& AMark) {
  switch (AMark.Kind) {
    case TTiTxtLineKind::Settings:
      if (ABsl.onSet()) ABsl.onSet()(&ABsl);
      return true;
    case TTiTxtLineKind::Start:
      ABsl.cmd_LoadPC(static_cast<int>(AMark.Address));
      return !ABsl.LastFailure().Failed();  // the loader leaves without an answer
    case TTiTxtLineKind::Version:
      if (ABsl.HidDev() != nullptr) ABsl.HidDev()->CloseFile();
      ABsl.cmd_TxBslVersion();
      return true;
    default:
      return true;
  }
}

}  // namespace

size_t FastWriteCapacity(size_t AOutputReportLength) {
  if (AOutputReportLength <= kFastWriteOverhead) return 0;
  return std::min(AOutputReportLength - kFastWriteOverhead, kLoaderBufferData);
}

TFastWriteResult FastWriteImage(TBsl& ABsl, const TTiTxtImage& AImage) {
  TFastWriteResult result;
  if (ABsl.HidDev() == nullptr) return result;
  const size_t capacity = FastWriteCapacity(ABsl.HidDev()->Caps().OutputReportByteLength);
  if (capacity == 0) return result;
  TRunWriter run(ABsl, AImage, capacity, result);
  bool allWritten = true;
  int failedMarks = 0;  // start lines whose report was not written
  for (const TStep& step : StepsInFileOrder(AImage)) {
    if (step.Section != nullptr) {
      run.Add(*step.Section, *step.Data);
      continue;
    }
    allWritten = run.Flush() && allWritten;
    if (!ABsl.DeviceGone() && !Mark(ABsl, *step.Mark)) {
      allWritten = false;
      ++failedMarks;
    }
    if (ABsl.DeviceGone()) {
      LogStopped(ABsl, step.Mark->Line);
      return result;
    }
    if (step.Mark->Kind == TTiTxtLineKind::End) {
      run.Progress(step.Mark->Line);
      result.Complete = allWritten;
      LogEnd(ABsl, run.Failed() + failedMarks);
      return result;
    }
  }
  return result;  // no end line: a checked image always has one
}
