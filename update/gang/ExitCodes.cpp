#include "ExitCodes.h"

#include <cstdio>

using update::TUpdateResult;

TExitCode ExitCodeOf(const update::TUpdateOutcome& AOutcome) {
  switch (AOutcome.Result) {
    case TUpdateResult::Success: return TExitCode::Ok;
    case TUpdateResult::NotVerified: return AOutcome.FullReports ? TExitCode::VerifyFailed : TExitCode::NotVerified;
    case TUpdateResult::BadImage: return TExitCode::BadInput;
    case TUpdateResult::NoBoard: return TExitCode::NoBoard;
    case TUpdateResult::SeveralBoards: return TExitCode::SeveralBoards;
    case TUpdateResult::CannotOpen: return TExitCode::CannotOpen;
    case TUpdateResult::PasswordRefused: return TExitCode::PasswordRefused;
    case TUpdateResult::BoardNotBack:
    case TUpdateResult::WrongLoader: return TExitCode::BoardNotBack;
    case TUpdateResult::WriteFailed: return TExitCode::WriteFailed;
    case TUpdateResult::NoAnswer:
    case TUpdateResult::BadAnswer: return TExitCode::NoAnswer;
    case TUpdateResult::BoardLeft: return TExitCode::BoardLeft;
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
  const char* Advice;  // for failures that are no update's outcome
};

constexpr TRow kRows[] = {
    {TExitCode::Ok, "the board was updated and verified", ""},
    {TExitCode::Error, "unexpected error", "see the log (--log FILE) and report it"},
    {TExitCode::BadInput, "bad arguments, or an image, settings or station file was refused",
     "fix the command line or the file named above"},
    {TExitCode::NoBoard, "no board found", ""},
    {TExitCode::CannotOpen, "the board cannot be opened",
     "close other programs that use it and check your access rights (--list shows why)"},
    {TExitCode::PasswordRefused, "the board refused the password", ""},
    {TExitCode::BoardNotBack, "the board did not come back under its new loader within 60 s", ""},
    {TExitCode::WriteFailed, "writing to the board failed", ""},
    {TExitCode::VerifyFailed, "the firmware on the board is not correct (or, with --fast, not verified)", ""},
    {TExitCode::SomeFailed, "--repeat or --gang: at least one board failed", "see the line of each board"},
    {TExitCode::NoAnswer, "the board did not answer in time, or not as its loader does", ""},
    {TExitCode::BoardLeft, "the board left the bus during the update", ""},
    {TExitCode::NotVerified, "written, but the loader cannot check memory: not verified", ""},
    {TExitCode::SeveralBoards, "more than one board under its loader, and neither --gang nor --port",
     "connect only the board to update, or choose it with --port (--gang updates them all)"},
    {TExitCode::Interrupted, "interrupted (Ctrl-C)", ""},
};

}  // namespace

std::string OneLine(std::string AText) {
  for (char& c : AText)
    if (c == '\n') c = ' ';
  while (!AText.empty() && (AText.back() == '.' || AText.back() == ' ')) AText.pop_back();
  return AText;
}

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
