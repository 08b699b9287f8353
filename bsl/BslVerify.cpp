#include "BslVerify.h"

#include <algorithm>
#include <cstdio>

#include "BslProtocol.h"

namespace {

constexpr size_t kCrcBytes = 2;  // the CRC answer: low byte first

std::string Hex(uint32_t AValue, int ADigits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*Xh", ADigits, static_cast<unsigned>(AValue));
  return text;
}

std::string Span(uint32_t AStart, uint32_t AEnd) {
  return "VERIFY " + Hex(AStart, 8) + "-" + Hex(AEnd - 1, 8) + ": ";
}

// What one comparison found.
enum class TStep { Same, Differs, Unknown, NoAnswer };

class TVerifier {
 public:
  TVerifier(TBsl& ABsl, const TVerifyProgress& AProgress) : FBsl(ABsl), FProgress(AProgress) {}

  TVerifyOutcome Run(const TVerifyPlan& APlan) {
    for (const TTiTxtRange& range : APlan.Ranges()) FTotal += range.Bytes.size();
    Progress(0);
    for (const TTiTxtRange& range : APlan.Ranges()) {
      if (!Range(range)) break;
      FDone += range.Bytes.size();
      Progress(FDone);
    }
    return FOut;
  }

 private:
  // False when the rest cannot be compared.
  bool Range(const TTiTxtRange& ARange) {
    uint32_t pos = ARange.Address;
    while (pos < ARange.End() && !FOut.ReadBack) {
      const uint32_t end = std::min(ARange.End(), (pos / kVerifyCrcBlock + 1) * kVerifyCrcBlock);
      const TStep step = CompareCrc(ARange, pos, end);
      if (step == TStep::Unknown) {
        Log("VERIFY: the loader does not know CRC Check; reading back instead", clGrayText);
        FOut.ReadBack = true;
        break;
      }
      if (!Count(step, pos, end)) return false;
      Progress(FDone + (end - ARange.Address));
      pos = end;
    }
    if (pos >= ARange.End()) return true;
    const TStep step = CompareReadBack(ARange, pos);
    if (step == TStep::Unknown) {
      if (!FOut.Failed()) FOut.Result = TVerifyResult::NotVerifiable;
      Log("Firmware written but could not be verified: the loader refuses CRC Check and TX Data "
          "Block",
          clRed);
      return false;
    }
    return Count(step, pos, ARange.End());
  }

  bool Count(TStep AStep, uint32_t AAddress, uint32_t AEnd) {
    ++FOut.Pieces;
    if (AStep == TStep::Same) return true;
    if (!FOut.Failed()) {
      FOut.FailedAddress = AAddress;
      FOut.FailedEnd = AEnd;
      FOut.BoardCrc = FBoardCrc;
      FOut.ExpectedCrc = FExpectedCrc;
      FOut.FirstDifference = FDifference;
    }
    if (AStep == TStep::NoAnswer) {
      FOut.Result = TVerifyResult::NoAnswer;
      return false;
    }
    FOut.Result = TVerifyResult::Mismatch;
    return true;
  }

  TStep CompareCrc(const TTiTxtRange& ARange, uint32_t AStart, uint32_t AEnd) {
    const uint16_t expected = CrcCcitt(ARange.Bytes.data() + (AStart - ARange.Address), AEnd - AStart);
    TBytes reply;
    const bool sent = FBsl.cmd_CrcCheck(static_cast<int>(AStart), static_cast<int>(AEnd - AStart), reply);
    const TBslAnswer answer = sent && !FBsl.LastFailure().Failed() ? ParseBslAnswer(reply) : TBslAnswer{};
    if (answer.Kind == TBslAnswer::Message && answer.Code == kBslMessageUnknownCommand) return TStep::Unknown;
    if (answer.Kind != TBslAnswer::Data || answer.Bytes.size() != kCrcBytes)
      return Unanswered(AStart, AEnd, answer, reply);
    const uint16_t board = static_cast<uint16_t>(answer.Bytes[0] | answer.Bytes[1] << 8);
    FBoardCrc = board;
    FExpectedCrc = expected;
    FDifference = 0;
    if (board != expected) {
      Log(Span(AStart, AEnd) + "CRC on the board " + Hex(board, 4) + ", expected " + Hex(expected, 4),
          clRed);
      return TStep::Differs;
    }
    Log(Span(AStart, AEnd) + "CRC " + Hex(expected, 4), clGrayText);
    return TStep::Same;
  }

  // Reads [AStart, end of ARange) back in pieces that fit one answer and
  // compares the whole with one CRC each side.
  TStep CompareReadBack(const TTiTxtRange& ARange, uint32_t AStart) {
    std::vector<uint8_t> board;
    for (uint32_t pos = AStart; pos < ARange.End(); pos += kVerifyReadBlock) {
      const uint32_t count = std::min(kVerifyReadBlock, ARange.End() - pos);
      TBytes reply;
      const bool sent = FBsl.cmd_ReadHex(static_cast<int>(pos), static_cast<int>(count), reply);
      const TBslAnswer answer = sent && !FBsl.LastFailure().Failed() ? ParseBslAnswer(reply) : TBslAnswer{};
      if (answer.Kind == TBslAnswer::Message && answer.Code == kBslMessageUnknownCommand) return TStep::Unknown;
      if (answer.Kind != TBslAnswer::Data || answer.Bytes.size() != count)
        return Unanswered(pos, pos + count, answer, reply);
      board.insert(board.end(), answer.Bytes.begin(), answer.Bytes.end());
    }
    const uint8_t* sent = ARange.Bytes.data() + (AStart - ARange.Address);
    const uint16_t expected = CrcCcitt(sent, board.size());
    const uint16_t actual = CrcCcitt(board.data(), board.size());
    const auto differ = std::mismatch(board.begin(), board.end(), sent);
    FBoardCrc = actual;
    FExpectedCrc = expected;
    if (differ.first != board.end()) {
      const uint32_t at = AStart + static_cast<uint32_t>(differ.first - board.begin());
      FDifference = at;
      Log(Span(AStart, ARange.End()) + "CRC on the board " + Hex(actual, 4) + ", expected " +
              Hex(expected, 4) + " (read back; first difference at " + Hex(at, 8) + ")",
          clRed);
      return TStep::Differs;
    }
    Log(Span(AStart, ARange.End()) + "CRC " + Hex(expected, 4) + " (read back)", clGrayText);
    return TStep::Same;
  }

  // The board was not asked, did not answer, or answered something else:
  // why, as the client found it or as the answer shows.
  TStep Unanswered(uint32_t AStart, uint32_t AEnd, const TBslAnswer& AAnswer, const TBytes& AReply) {
    FOut.Failure = FBsl.LastFailure();
    if (!FOut.Failure.Failed() && AAnswer.Kind == TBslAnswer::Message) {
      FOut.Failure.Kind = TBslFailureKind::Refused;
      FOut.Failure.Message = AAnswer.Code;
    } else if (!FOut.Failure.Failed()) {
      FOut.Failure.Kind = TBslFailureKind::BadAnswer;
      FOut.Failure.Answer = AnswerExcerpt(AReply);
    }
    if (AAnswer.Kind == TBslAnswer::Message)
      Log(Span(AStart, AEnd) + "the loader answered message " + Hex(AAnswer.Code, 2), clRed);
    else if (FOut.Failure.Kind == TBslFailureKind::BadAnswer)
      Log(Span(AStart, AEnd) + "the board's answer is no loader answer: " + BytesToHex(FOut.Failure.Answer), clRed);
    else
      Log(Span(AStart, AEnd) + "no answer from the board", clRed);
    return TStep::NoAnswer;
  }

  void Progress(uint64_t ADone) {
    if (FProgress) FProgress(ADone, FTotal);
  }

  void Log(const std::string& AText, TColor AColor) {
    if (FBsl.onLogMsg()) FBsl.onLogMsg()(0, mtDebug, AText, AColor);
  }

  TBsl& FBsl;
  const TVerifyProgress& FProgress;
  TVerifyOutcome FOut;
  uint64_t FTotal = 0, FDone = 0;
  // What the last comparison found.
  uint16_t FBoardCrc = 0, FExpectedCrc = 0;
  uint32_t FDifference = 0;
};

}  // namespace

uint16_t CrcCcitt(const uint8_t* AData, size_t ACount, uint16_t ACrc) {
  constexpr uint16_t kPolynomial = 0x1021;
  for (size_t i = 0; i < ACount; ++i) {
    ACrc ^= static_cast<uint16_t>(AData[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      ACrc = static_cast<uint16_t>((ACrc & 0x8000) ? (ACrc << 1) ^ kPolynomial : ACrc << 1);
  }
  return ACrc;
}

void TVerifyPlan::Add(uint32_t AAddress, const std::vector<uint8_t>& ABytes) {
  OverlayRange(FRanges, AAddress, ABytes.data(), ABytes.size());
}

void TVerifyPlan::AddImage(const TTiTxtImage& AImage) {
  for (const TTiTxtRange& range : AImage.Ranges()) Add(range.Address, range.Bytes);
}

TVerifyOutcome VerifyWritten(TBsl& ABsl, const TVerifyPlan& APlan, const TVerifyProgress& AProgress) {
  return TVerifier(ABsl, AProgress).Run(APlan);
}
