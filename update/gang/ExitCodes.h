// The exit codes of kestrova-flash: one per kind of failure, so that a
// production script can tell what to do next.
#pragma once

#include <string>

#include "UpdateOutcome.h"

enum class TExitCode : int {
  Ok = 0,
  Error = 1,            // an unexpected error (logged)
  BadInput = 2,         // bad arguments, or an image, settings or station file refused
  NoBoard = 3,          // no board under its loader
  CannotOpen = 4,       // the board is there but cannot be opened
  PasswordRefused = 5,  // the resident loader refused the password
  BoardNotBack = 6,     // the board did not come back under the RAM loader
  WriteFailed = 7,      // an image did not go to the board completely
  VerifyFailed = 8,     // the board holds something else, or could not be checked with --fast
  SomeFailed = 9,       // --repeat or --gang: at least one board failed
  NoAnswer = 10,        // the board did not answer, or not as its loader does
  BoardLeft = 11,       // the board left the bus during the update
  NotVerified = 12,     // written, but the loader cannot check memory
  SeveralBoards = 13,   // more than one board, and neither --gang nor --port
  Interrupted = 130,    // Ctrl-C during an update (128 + SIGINT, as shells report it)
};

// What a run for this board alone ends with: a board written but not
// verified is no success, and one written in full reports that cannot be
// verified counts as not correct (nothing confirms it).
TExitCode ExitCodeOf(const update::TUpdateOutcome& AOutcome);
// What the technician should do about a failure that is not an update's
// outcome (an update's outcome says it itself), in one line.
std::string AdviceFor(TExitCode ACode);
// A text written for a message box (it may hold several lines) as one line
// of output, without its closing full stop.
std::string OneLine(std::string AText);
// The table for --help and the README.
std::string ExitCodeTable();
