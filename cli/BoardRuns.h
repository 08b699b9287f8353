// The boards under way in a run of kestrova-flash: one update job each, on
// a thread of its own and known by the port the front end chose, while
// this thread runs the HID layer's event loop. Every board that ends is
// recorded (--record) and counts as done until it is unplugged. A single
// board, --repeat and --gang all go through it. With --json, each board's
// start and end go to the stream too.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BoardEvents.h"
#include "BoardRecord.h"
#include "NewBoards.h"
#include "PlainEventLoop.h"
#include "UpdateJob.h"

struct TBoardEnd {
  std::string Port;  // where the update was started
  update::TUpdateOutcome Outcome;
  TBoardTags Tags;
};

class TBoardRuns {
 public:
  // ASay: a line of its own for the console and the log (a record that
  // could not be written).
  TBoardRuns(hid::TPlainEventLoop& ALoop, std::shared_ptr<update::TBoardPorts> APorts, TNewBoards& ANewBoards,
             TCliLog* ALog, TRecordFile* ARecord, TJsonStream* AJson, std::function<void(const std::string&)> ASay);
  ~TBoardRuns();

  // Starts the update of the board at APort as AOptions ask (its port
  // set); its steps and amounts go to AView, its lines to the log, each
  // beginning with ALogPrefix.
  void Start(const std::string& APort, update::TUpdateOptions AOptions, IBoardView& AView,
             const std::string& ALogPrefix, TBoardTags ATags = {});
  bool Running(const std::string& APort) const { return FRunning.count(APort) != 0; }
  bool Empty() const { return FRunning.empty(); }
  // Runs the event loop for a moment, every update cancelled once
  // AInterrupted; the boards that ended meanwhile.
  std::vector<TBoardEnd> Turn(bool AInterrupted);

 private:
  void Ended(const TBoardEnd& AEnd, const update::TUpdateOptions& AOptions, const TBoardTags& ATags);

  struct TRun {
    std::unique_ptr<update::TUpdateJob> Job;
    TBoardTags Tags;
  };

  hid::TPlainEventLoop& FLoop;
  std::shared_ptr<update::TBoardPorts> FPorts;
  TNewBoards& FNewBoards;
  TCliLog* FLog;
  TRecordFile* FRecord;
  TJsonStream* FJson;
  std::function<void(const std::string&)> FSay;
  std::map<std::string, TRun> FRunning;  // by port
};
