#include "ImageWriter.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Report ID, length byte, command byte, three address bytes.
constexpr size_t kFastWriteOverhead = 6;

class TImageWriter {
 public:
  TImageWriter(TBsl& ABsl, const TTiTxtImage& AImage, uint32_t ABlockBytes, const TImageProgressFn& AProgress)
      : FBsl(ABsl), FImage(AImage), FProgress(AProgress), FBlock(ABlockBytes) {}

  bool Write() {
    const bool byLine = FBlock == kWriteLineByLine;
    Log(0, "Begin flashing file \"" + FImage.FileName + (byLine ? "\"." : "\" in full reports."), clBlack);
    bool complete = false;
    if (byLine) {
      complete = LineByLine();
      Log(0, "End flashing file \"" + FImage.FileName + "\".", clBlack);
      return complete;
    }
    FBlock = static_cast<uint32_t>(std::min<size_t>(FBlock, Capacity()));
    if (FBlock > 0) complete = InBlocks();
    Log(0, "End flashing file \"" + FImage.FileName + "\": " + std::to_string(FBytes) + " bytes in " +
               std::to_string(FReports) + " fast writes.", clBlack);
    return complete;
  }

 private:
  size_t Capacity() const {
    return FBsl.HidDev() ? FastWriteCapacity(FBsl.HidDev()->Caps().OutputReportByteLength) : 0;
  }

  // Each line is logged and reported before it is acted on; lines after
  // the end line are not read.
  bool LineByLine() {
    const std::vector<TTiTxtStep> steps = FImage.Steps();
    size_t next = 0;
    for (int i = 0; i < static_cast<int>(FImage.Trimmed.size()); ++i) {
      Progress(i);
      Log(2, "line:" + std::to_string(i) + ": " + FImage.Trimmed[static_cast<size_t>(i)], clGray);
      for (; next < steps.size() && steps[next].Line == i + 1; ++next) {
        if (steps[next].Kind == TTiTxtLineKind::End) return End("lines");
        if (!Act(steps[next])) ++FFailed;
        if (FBsl.DeviceGone()) return Stopped("at line " + std::to_string(i + 1));
      }
    }
    return false;  // a checked image always has its end line
  }

  // Consecutive data are joined into full reports up to the next mark.
  bool InBlocks() {
    const std::vector<TTiTxtStep> steps = FImage.Steps();
    for (const TTiTxtStep& step : steps) {
      if (step.Kind == TTiTxtLineKind::Data) {
        if (!FRun.empty() && !Continues(step)) SendRun();
        FRun.push_back(&step);
        continue;
      }
      SendRun();
      if (!FBsl.DeviceGone() && !Act(step)) ++FFailed;
      if (FBsl.DeviceGone()) return Stopped("before line " + std::to_string(step.Line));
      if (step.Kind == TTiTxtLineKind::End) {
        Progress(step.Line - 1);
        return End("reports");
      }
    }
    return false;
  }

  // The step's bytes follow the run's in its section.
  bool Continues(const TTiTxtStep& AStep) const {
    const TTiTxtStep& last = *FRun.back();
    return AStep.Section == last.Section && AStep.Address == last.Address + last.Count;
  }

  void SendRun() {
    if (FRun.empty()) return;
    const TTiTxtStep& first = *FRun.front();
    const uint32_t length = FRun.back()->Address + FRun.back()->Count - first.Address;
    size_t at = 0;  // the run's line that holds the block's first byte
    for (uint32_t offset = 0; offset < length && !FBsl.DeviceGone();) {
      const uint32_t count = std::min(FBlock, length - offset);
      while (FRun[at]->Address + FRun[at]->Count <= first.Address + offset) ++at;
      Progress(FRun[at]->Line - 1);
      const uint8_t* bytes = first.Bytes + offset;
      if (!FBsl.cmd_WriteHexFast(static_cast<int>(first.Address + offset), TBytes(bytes, bytes + count))) ++FFailed;
      ++FReports;
      FBytes += count;
      FDone += count;
      offset += count;
    }
    FRun.clear();
  }

  // Acts on a data line (line by line) or a mark; false when its report
  // was not written.
  bool Act(const TTiTxtStep& AStep) {
    switch (AStep.Kind) {
      case TTiTxtLineKind::Data: {
        FDone += AStep.Count;
        return FBsl.cmd_WriteHexFast(static_cast<int>(AStep.Address), TBytes(AStep.Bytes, AStep.Bytes + AStep.Count));
      }
      case TTiTxtLineKind::Settings:
        if (FBsl.onSet()) FBsl.onSet()(&FBsl);
        return true;
      case TTiTxtLineKind::Start:
        FBsl.cmd_LoadPC(static_cast<int>(AStep.Address));
        return !FBsl.LastFailure().Failed();  // the loader leaves without an answer
      case TTiTxtLineKind::Version:
        if (FBsl.HidDev() != nullptr) FBsl.HidDev()->CloseFile();
        FBsl.cmd_TxBslVersion();
        return true;
      default:
        return true;
    }
  }

  // An image whose data did not all reach the board is not complete, even
  // though its end line was reached.
  bool End(const std::string& AUnits) {
    if (FFailed == 0) {
      Log(3, "Firmware update complete", clBlack, mtMessage);
      return true;
    }
    Log(3, "Firmware update incomplete: " + std::to_string(FFailed) + " " + AUnits + " were not written", clRed,
        mtMessage);
    return false;
  }

  // Nothing more is written to a board that has left the bus.
  bool Stopped(const std::string& AWhere) {
    Log(3, "Firmware update stopped: the board left the bus " + AWhere, clRed, mtMessage);
    return false;
  }

  void Progress(int ALine) {
    if (FProgress) FProgress({ALine, FImage.LineCount, FDone, FImage.DataSize()});
  }

  void Log(int32_t AID, const std::string& AText, TColor AColor, TMessageType AType = mtDebug) {
    if (FBsl.onLogMsg()) FBsl.onLogMsg()(AID, AType, AText, AColor);
  }

  TBsl& FBsl;
  const TTiTxtImage& FImage;
  const TImageProgressFn& FProgress;
  uint32_t FBlock;
  std::vector<const TTiTxtStep*> FRun;  // data waiting to go out in full reports
  uint64_t FDone = 0;                    // data bytes handed to the client
  uint64_t FBytes = 0;                   // of which in full reports
  int FReports = 0;
  int FFailed = 0;  // lines or reports that did not go out
};

}  // namespace

size_t FastWriteCapacity(size_t AOutputReportLength) {
  if (AOutputReportLength <= kFastWriteOverhead) return 0;
  return std::min<size_t>(AOutputReportLength - kFastWriteOverhead, kWriteFullReports);
}

bool WriteImage(TBsl& ABsl, const TTiTxtImage& AImage, uint32_t ABlockBytes, const TImageProgressFn& AProgress) {
  if (ABsl.HidDev() == nullptr) return false;
  return TImageWriter(ABsl, AImage, ABlockBytes, AProgress).Write();
}
