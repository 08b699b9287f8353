#include "ExitCodes.h"

#include <cstdio>

using update::TUpdateResult;

TExitCode ExitCodeFor(TUpdateResult AResult) {
  switch (AResult) {
    case TUpdateResult::Success: return TExitCode::Ok;
    case TUpdateResult::BadImage: return TExitCode::BadInput;
    case TUpdateResult::NoBoard: return TExitCode::NoBoard;
    case TUpdateResult::CannotOpen: return TExitCode::CannotOpen;
    case TUpdateResult::PasswordRefused: return TExitCode::PasswordRefused;
    case TUpdateResult::BoardNotBack: return TExitCode::BoardNotBack;
    case TUpdateResult::WriteFailed: return TExitCode::WriteFailed;
    case TUpdateResult::VerifyFailed: return TExitCode::VerifyFailed;
    case TUpdateResult::Cancelled: return TExitCode::Interrupted;
    case TUpdateResult::Error: return TExitCode::Error;
  }
  return TExitCode::Error;
}

namespace {

struct TRow {
  TExitCode Code;
  const char* Meaning;
  const char* Advice;
};

constexpr TRow kRows[] = {
    {TExitCode::Ok, "the board was updated and verified", ""},
    {TExitCode::Error, "unexpected error", "see the log (--log FILE) and report it"},
    {TExitCode::BadInput, "bad arguments, or an image or settings file was refused",
     "fix the command line or the file named above"},
    {TExitCode::NoBoard, "no board found", "connect the board by USB and press its button, then try again"},
    {TExitCode::CannotOpen, "the board cannot be opened",
     "close other programs that use it and check your access rights (--list shows why)"},
    {TExitCode::PasswordRefused, "the board refused the password",
     "disconnect the board, press its button while connecting it, and try again"},
    {TExitCode::BoardNotBack, "the board did not come back within 60 s",
     "reconnect the board with its button pressed and run the update again"},
    {TExitCode::WriteFailed, "writing to the board failed",
     "check the cable (no hub) and run the update again; do not use the board until it succeeds"},
    {TExitCode::VerifyFailed, "the firmware on the board is not correct",
     "run the update again; do not use the board until an update ends with success"},
    {TExitCode::SomeFailed, "--repeat: at least one board failed", "see the line of each board"},
    {TExitCode::Interrupted, "interrupted (Ctrl-C)", "run the update again before using the board"},
};

}  // namespace

std::string AdviceFor(TExitCode ACode) {
  for (const TRow& row : kRows)
    if (row.Code == ACode) return row.Advice;
  return {};
}

std::string ExitCodeTable() {
  std::string text;
  char line[160];
  for (const TRow& row : kRows) {
    std::snprintf(line, sizeof line, "  %3d  %s\n", static_cast<int>(row.Code), row.Meaning);
    text += line;
  }
  return text;
}
