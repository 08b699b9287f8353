// kestrova-flash --gang: every board under its loader at once, one update
// engine on a thread of its own per board, each board known by its port
// (the board that comes back under the RAM loader is taken back there).
// With --repeat, boards that are connected later start as they come, until
// Ctrl-C. Each board's end goes to the view, the log and the record.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "BoardRecord.h"
#include "CliLog.h"
#include "CliOptions.h"
#include "GangView.h"
#include "PlainEventLoop.h"
#include "UpdateEngine.h"

struct TGangSetup {
  const TCliOptions& Options;
  std::atomic<bool>& Interrupted;
  hid::TPlainEventLoop& Loop;
  std::shared_ptr<TJvHidDeviceController> Controller;
  const update::TUpdateOptions& Update;  // each board gets a copy with its port
  TGangView& View;
  TCliLog* Log = nullptr;
  TRecordFile* Record = nullptr;
};

struct TGangEnd {
  int Boards = 0;   // started
  int Updated = 0;  // written and verified
  std::vector<std::string> Failed;     // ports, in the order they ended
  std::vector<std::string> Cancelled;  // ports of boards stopped by Ctrl-C
  // The boards cannot be told apart (the system gives no ports): why.
  // Nothing was sent to any board.
  std::string Refusal;
};

TGangEnd RunGang(const TGangSetup& ASetup);

// Data bytes written before each line of an image (index: 0-based line).
std::vector<size_t> BytesBeforeLines(const update::TUpdateImage& AImage);
