// How an update ended, as one value: the ending, its cause with the data
// of that kind of cause, where the update was, which board, how long it
// took. The engine decides it once; each front end only presents it (the
// cause in words: UpdateCauseText.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BslFailure.h"
#include "BslVerify.h"
#include "UpdateProgress.h"

namespace update {

// One ending per way an update can end.
enum class TUpdateResult {
  Success,          // written and verified
  NotVerified,      // written, but the loader cannot check memory: nothing confirms it
  BadImage,         // an image was refused; nothing was sent to the board
  NoBoard,          // no board under its loader at the start
  SeveralBoards,    // more than one, and none was chosen: nothing was sent
  CannotOpen,       // the board cannot be opened for reading and writing
  PasswordRefused,  // the resident loader answered and refused the password of an erased board
  BoardNotBack,     // the board did not come back under the RAM loader within 60 s
  WrongLoader,      // it came back, but under another loader than the one started
  WriteFailed,      // reports did not go out whole (the system's reason, the bytes)
  NoAnswer,         // the board did not answer a command within the limit
  BadAnswer,        // it answered something that is no loader answer, or a wrong message
  BoardLeft,        // the board left the bus (at which stage, after how many bytes)
  VerifyFailed,     // the board holds something other than what was sent
  Error,            // an error was raised during the update (logged)
  Cancelled,        // the update was cancelled
};

// "success", "not verified", "password refused", ...
const char* ResultName(TUpdateResult AResult);

// Why the update ended, found where it happened: data, not words.
struct TUpdateCause {
  TBslFailure Failure;      // what the loader client found (the command, bytes, reason, wait, answer)
  uint64_t BytesSent = 0;   // the stage's data bytes that went out whole
  uint64_t BytesTotal = 0;  // of all the stage had to write
  int FailedReports = 0;    // the stage's reports that did not go out whole
  uint32_t WaitedMs = 0;    // BoardNotBack: how long
  std::string SeenButClosed;       // BoardNotBack: why a board that was seen could not be opened
  TVerifyOutcome Verify;           // VerifyFailed: the piece that differs and both CRCs
  std::vector<std::string> Ports;  // SeveralBoards: where the boards are
};

struct TUpdateOutcome {
  TUpdateResult Result = TUpdateResult::Error;
  TUpdateStage Stage = TUpdateStage::Images;  // where the update was when it ended
  // BadImage: the refusal; CannotOpen: the device, the system's reason and
  // the fix; Error: the error's message. Empty otherwise.
  std::string Text;
  TUpdateCause Cause;
  std::string Port;     // where the board is plugged in (empty: unknown, or no board taken)
  std::string BoardId;  // the die record of its chip (empty: not read, or the loader refused)
  double Seconds = 0;   // from the start of the update to its end
  bool Verified = false;     // the board's memory was compared with what was sent, and matched
  bool FullReports = false;  // the images went out in full reports, not line by line
};

}  // namespace update
