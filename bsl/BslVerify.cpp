#include "BslVerify.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint8_t kReportId = 0x3F;
constexpr uint8_t kAnswerData = 0x3A;
constexpr uint8_t kAnswerMessage = 0x3B;
constexpr uint8_t kMessageUnknownCommand = 0x07;
constexpr size_t kAnswerHeader = 3;  // report ID, length, answer kind
constexpr size_t kCrcBytes = 2;      // the CRC answer: low byte first

// One answer of the loader as the client read it.
struct TAnswer {
  enum TKind { None, Message, Data } Kind = None;
  uint8_t Code = 0;                   // message code
  std::vector<uint8_t> Bytes;         // data
};

TAnswer ParseAnswer(const TBytes& AReport) {
  TAnswer answer;
  if (AReport.size() < kAnswerHeader + 1 || AReport[0] != kReportId) return answer;
  const size_t length = AReport[1];
  if (AReport[2] == kAnswerMessage && length == 2) {
    answer.Kind = TAnswer::Message;
    answer.Code = AReport[3];
  } else if (AReport[2] == kAnswerData && length >= 1 && length + 2 <= AReport.size()) {
    answer.Kind = TAnswer::Data;
    answer.Bytes.assign(AReport.begin() + kAnswerHeader, AReport.begin() + 2 + static_cast<long>(length));
  }
  return answer;
}

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
  explicit TVerifier(TBsl& ABsl) : FBsl(ABsl) {}

  TVerifyOutcome Run(const TVerifyPlan& APlan) {
    for (const TTiTxtRange& range : APlan.Ranges()) {
      if (!Range(range)) break;
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
      if (!Count(step, pos)) return false;
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
    return Count(step, pos);
  }

  bool Count(TStep AStep, uint32_t AAddress) {
    ++FOut.Pieces;
    if (AStep == TStep::Same) return true;
    if (!FOut.Failed()) FOut.FailedAddress = AAddress;
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
    const TAnswer answer = sent ? ParseAnswer(reply) : TAnswer{};
    if (answer.Kind == TAnswer::Message && answer.Code == kMessageUnknownCommand) return TStep::Unknown;
    if (answer.Kind != TAnswer::Data || answer.Bytes.size() != kCrcBytes)
      return Unanswered(AStart, AEnd, answer);
    const uint16_t board = static_cast<uint16_t>(answer.Bytes[0] | answer.Bytes[1] << 8);
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
      const TAnswer answer = sent ? ParseAnswer(reply) : TAnswer{};
      if (answer.Kind == TAnswer::Message && answer.Code == kMessageUnknownCommand) return TStep::Unknown;
      if (answer.Kind != TAnswer::Data || answer.Bytes.size() != count)
        return Unanswered(pos, pos + count, answer);
      board.insert(board.end(), answer.Bytes.begin(), answer.Bytes.end());
    }
    const uint8_t* sent = ARange.Bytes.data() + (AStart - ARange.Address);
    const uint16_t expected = CrcCcitt(sent, board.size());
    const uint16_t actual = CrcCcitt(board.data(), board.size());
    const auto differ = std::mismatch(board.begin(), board.end(), sent);
    if (differ.first != board.end()) {
      const uint32_t at = AStart + static_cast<uint32_t>(differ.first - board.begin());
      Log(Span(AStart, ARange.End()) + "CRC on the board " + Hex(actual, 4) + ", expected " +
              Hex(expected, 4) + " (read back; first difference at " + Hex(at, 8) + ")",
          clRed);
      return TStep::Differs;
    }
    Log(Span(AStart, ARange.End()) + "CRC " + Hex(expected, 4) + " (read back)", clGrayText);
    return TStep::Same;
  }

  TStep Unanswered(uint32_t AStart, uint32_t AEnd, const TAnswer& AAnswer) {
    if (AAnswer.Kind == TAnswer::Message)
      Log(Span(AStart, AEnd) + "the loader answered message " + Hex(AAnswer.Code, 2), clRed);
    else
      Log(Span(AStart, AEnd) + "no answer from the board", clRed);
    return TStep::NoAnswer;
  }

  void Log(const std::string& AText, TColor AColor) {
    if (FBsl.onLogMsg()) FBsl.onLogMsg()(0, mtDebug, AText, AColor);
  }

  TBsl& FBsl;
  TVerifyOutcome FOut;
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

TVerifyOutcome VerifyWritten(TBsl& ABsl, const TVerifyPlan& APlan) {
  return TVerifier(ABsl).Run(APlan);
}
