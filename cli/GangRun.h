// kestrova-flash --gang: every board under its loader at once, each known
// by its port (the board that comes back under the RAM loader is taken back
// there). With --repeat, boards that are connected later start as they
// come, until Ctrl-C. Each board's end goes to the view and the log.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "BoardRuns.h"
#include "CliOptions.h"
#include "GangView.h"
#include "SerialSource.h"

struct TGangSetup {
  const TCliOptions& Options;
  std::function<bool()> Interrupted;
  TBoardRuns& Runs;
  std::function<std::vector<update::TBoardSeen>()> NewBoards;  // the boards this run may take now
  const update::TUpdateOptions& Update;
  TGangView& View;
  TCliLog* Log = nullptr;
  // A station's boards each wait for a serial from here before they start
  // (null: no serials); Station names the station in each record.
  ISerialSource* Serials = nullptr;
  std::string Station;
};

struct TGangEnd {
  int Boards = 0;   // started
  int Updated = 0;  // written and verified
  std::vector<std::string> Failed;     // ports, in the order they ended
  std::vector<std::string> Cancelled;  // ports of boards stopped by Ctrl-C
  std::vector<std::string> NoSerial;   // ports of boards left waiting for a serial (input ended, or Ctrl-C)
  // The boards cannot be told apart (the system gives no ports): why.
  // Nothing was sent to any board.
  std::string Refusal;
};

TGangEnd RunGang(const TGangSetup& ASetup);
