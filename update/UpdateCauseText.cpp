#include "UpdateCauseText.h"

#include <cstdio>

#include "BslProtocol.h"
#include "HexText.h"

namespace update {

namespace {

// The commands as the technician knows them.
std::string CommandName(uint8_t ACommand) {
  switch (ACommand) {
    case kBslRxPassword: return "the unlock request";
    case kBslCrcCheck: return "the memory check";
    case kBslLoadPC: return "the start of the new loader";
    case kBslTxDataBlock: return "the memory read-back";
    case kBslTxBslVersion: return "the question for its loader";
    case kBslRxDataBlock:
    case kBslRxDataBlockFast: return "a write";
  }
  return "command " + Hex2(ACommand) + "h";
}

// The loader's message codes.
std::string MessageName(uint8_t ACode) {
  const char* const name = BslMessageName(ACode);
  return Hex2(ACode) + "h (" + (name != nullptr ? name : "unknown message") + ")";
}

std::string Seconds(uint32_t AMilliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", AMilliseconds / 1000.0);
  std::string value = text;
  while (value.back() == '0') value.pop_back();
  if (value.back() == '.') value.pop_back();
  return value + " s";
}

std::string Address(uint32_t AValue) {
  char text[16];
  std::snprintf(text, sizeof text, "%05Xh", static_cast<unsigned>(AValue));
  return text;
}

// Without the blanks and the full stop at its end (a system's reason has one).
std::string Trimmed(std::string AText) {
  while (!AText.empty() && (AText.back() == ' ' || AText.back() == '.')) AText.pop_back();
  return AText;
}

std::string ImageName(TUpdateStage AStage) { return AStage == TUpdateStage::Loader ? "loader" : "firmware"; }

std::string Bytes(const TUpdateCause& ACause) {
  return std::to_string(ACause.BytesSent) + " of " + std::to_string(ACause.BytesTotal) + " bytes";
}

// Where the board was in the update when it left the bus.
std::string WhereItLeft(const TUpdateOutcome& AOutcome) {
  const TUpdateCause& c = AOutcome.Cause;
  switch (AOutcome.Stage) {
    case TUpdateStage::Unlock: return "while it was being unlocked";
    case TUpdateStage::Loader: return "while the loader was written, after " + Bytes(c);
    case TUpdateStage::Identify: return "right after it came back";
    case TUpdateStage::Firmware: return "while the firmware was written, after " + Bytes(c);
    case TUpdateStage::Verify: return "while the firmware was verified";
    default: return "before the update began";
  }
}

std::string NoAnswer(const TBslFailure& AFailure) {
  const std::string command = CommandName(AFailure.Command);
  if (AFailure.Kind == TBslFailureKind::ReadFailed)
    return "The board's answer to " + command + " could not be read: " + Trimmed(AFailure.SystemReason);
  if (AFailure.LateAfterMs > 0)
    return "The board answered " + command + " only after " + Seconds(AFailure.LateAfterMs) +
           ", later than the " + Seconds(AFailure.WaitedMs) + " allowed";
  return "The board did not answer " + command + " within " + Seconds(AFailure.WaitedMs);
}

std::string BadAnswer(const TBslFailure& AFailure) {
  const std::string command = CommandName(AFailure.Command);
  if (AFailure.Kind == TBslFailureKind::Refused)
    return "The board answered " + command + " with message " + MessageName(AFailure.Message);
  return "The board answered " + command + " with bytes that are no loader answer (" +
         Trimmed(BytesToHex(AFailure.Answer)) + ")";
}

std::string WriteFailed(const TUpdateOutcome& AOutcome) {
  const TUpdateCause& c = AOutcome.Cause;
  const TBslFailure& f = c.Failure;
  const bool image = AOutcome.Stage == TUpdateStage::Loader || AOutcome.Stage == TUpdateStage::Firmware;
  if (f.Kind == TBslFailureKind::None)
    return "The " + ImageName(AOutcome.Stage) + " image was not written to its end";
  const std::string why = f.Kind == TBslFailureKind::ShortWrite
                              ? "only " + std::to_string(f.Written) + " of its " +
                                    std::to_string(f.ReportLength) + " bytes went out"
                              : Trimmed(f.SystemReason);
  if (image && c.FailedReports > 1)
    return std::to_string(c.FailedReports) + " reports of the " + ImageName(AOutcome.Stage) +
           " did not reach the board whole (the first: " + why + ")";
  if (f.Kind == TBslFailureKind::ShortWrite)
    return "Only " + std::to_string(f.Written) + " of the " + std::to_string(f.ReportLength) +
           " bytes of " + CommandName(f.Command) + " reached the board";
  return "The board could not be sent " + CommandName(f.Command) + ": " + why;
}

std::string Verification(const TVerifyOutcome& AVerify) {
  std::string text = "Verification found a difference at " + Address(AVerify.FailedAddress) + "-" +
                     Address(AVerify.FailedEnd - 1) + ": CRC on the board " + Hex4(AVerify.BoardCrc) +
                     "h, expected " + Hex4(AVerify.ExpectedCrc) + "h";
  if (AVerify.ReadBack) text += ", first difference at " + Address(AVerify.FirstDifference);
  return text;
}

std::string NotBack(const TUpdateCause& ACause) {
  std::string text = "The board did not come back under its new loader within " + Seconds(ACause.WaitedMs);
  if (!ACause.SeenButClosed.empty())
    text += " (a board was seen but could not be opened: " + Trimmed(ACause.SeenButClosed) + ")";
  return text;
}

const char* const kReconnect = "reconnect it with its button pressed and run the update again";
const char* const kDirectly = "connect it directly (no hub) with its button pressed and run the update again";

}  // namespace

const char* ResultName(TUpdateResult AResult) {
  switch (AResult) {
    case TUpdateResult::Success: return "success";
    case TUpdateResult::NotVerified: return "not verified";
    case TUpdateResult::BadImage: return "bad image";
    case TUpdateResult::NoBoard: return "no board";
    case TUpdateResult::SeveralBoards: return "several boards";
    case TUpdateResult::CannotOpen: return "board cannot be opened";
    case TUpdateResult::PasswordRefused: return "password refused";
    case TUpdateResult::BoardNotBack: return "board not back";
    case TUpdateResult::WrongLoader: return "board back under another loader";
    case TUpdateResult::WriteFailed: return "write failed";
    case TUpdateResult::NoAnswer: return "no answer";
    case TUpdateResult::BadAnswer: return "wrong answer";
    case TUpdateResult::BoardLeft: return "board left the bus";
    case TUpdateResult::VerifyFailed: return "verification failed";
    case TUpdateResult::Error: return "error";
    case TUpdateResult::Cancelled: return "cancelled";
  }
  return "?";
}

TCauseWords CauseWords(const TUpdateOutcome& AOutcome) {
  const TUpdateCause& c = AOutcome.Cause;
  switch (AOutcome.Result) {
    case TUpdateResult::Success: return {"Board updated and verified in " + TookText(AOutcome.Seconds), ""};
    case TUpdateResult::NotVerified:
      if (AOutcome.FullReports)
        return {"The board was written in full reports, but its loader cannot check memory, so nothing confirms "
                "the firmware",
                "do not use the board"};
      return {"Board updated in " + TookText(AOutcome.Seconds) +
                  ", but its loader cannot check memory, so the firmware was not verified",
              ""};
    case TUpdateResult::BadImage:
    case TUpdateResult::CannotOpen: return {AOutcome.Text, ""};
    case TUpdateResult::NoBoard:
      return {"No board under its loader was found", "connect the board by USB and press its button, then try again"};
    case TUpdateResult::SeveralBoards: return {AOutcome.Text, "connect only the board to update, and try again"};
    case TUpdateResult::PasswordRefused:
      return {"The board refused the password",
              "disconnect the board, press its button while connecting it, and try again"};
    case TUpdateResult::BoardNotBack: return {NotBack(c), kReconnect};
    case TUpdateResult::WrongLoader:
      return {"The board came back under its locked resident loader instead of the new one (it was "
              "restarted or unplugged during the wait)",
              "run the update again and leave the board connected until it ends"};
    case TUpdateResult::WriteFailed: return {WriteFailed(AOutcome), "check the cable (no hub) and run the update again"};
    case TUpdateResult::NoAnswer: return {NoAnswer(c.Failure), kDirectly};
    case TUpdateResult::BadAnswer: return {BadAnswer(c.Failure), kDirectly};
    case TUpdateResult::BoardLeft: return {"The board left the bus " + WhereItLeft(AOutcome), kReconnect};
    case TUpdateResult::VerifyFailed:
      return {Verification(c.Verify), "run the update again and do not use the board until an update ends with success"};
    case TUpdateResult::Error:
      return {"The update stopped on an error: " + AOutcome.Text, "run the update again; if it stops again, report it with the log"};
    case TUpdateResult::Cancelled:
      return {"The update was interrupted", "run the update again before using the board"};
  }
  return {ResultName(AOutcome.Result), ""};
}

std::string TookText(double ASeconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", ASeconds);
  return text;
}

std::string CauseLine(const TUpdateOutcome& AOutcome) {
  const TCauseWords words = CauseWords(AOutcome);
  return words.Todo.empty() ? words.What : words.What + "; " + words.Todo;
}

}  // namespace update
