// The boards under way in a run: one update job each, on a thread of its
// own and known by the port the front end chose, while this thread runs
// the HID layer's event loop. Every board that ends is recorded (when the
// run keeps a record) and counts as done until it is unplugged. A single
// board, a series, a gang and a station all go through it.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

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
  // Told of each board that ended, on this thread, once its record was
  // made: AWritten is false when the record file did not take it.
  using TEndedHook = std::function<void(const TBoardEnd& AEnd, const TBoardRecord& ARecord, bool AWritten)>;

  TBoardRuns(hid::TPlainEventLoop& ALoop, std::shared_ptr<update::TBoardPorts> APorts, TNewBoards& ANewBoards,
             TRecordFile* ARecord, TEndedHook AEnded);
  ~TBoardRuns();

  // Starts the update of the board at APort as AOptions ask (its port
  // set), its events going to AEvents.
  void Start(const std::string& APort, update::TUpdateOptions AOptions, std::shared_ptr<update::IUpdateEvents> AEvents,
             TBoardTags ATags = {});
  // Where the records go from now on (null: nowhere).
  void SetRecord(TRecordFile* ARecord) { FRecord = ARecord; }
  bool Running(const std::string& APort) const { return FRunning.count(APort) != 0; }
  bool Empty() const { return FRunning.empty(); }
  // The board at APort, updated already and still connected under its
  // loader, may be taken again; false when none is there.
  bool TakeAgain(const std::string& APort);
  // Runs the event loop for a moment, every update cancelled once
  // AInterrupted; the boards that ended meanwhile.
  std::vector<TBoardEnd> Turn(bool AInterrupted);

 private:
  void Ended(const TBoardEnd& AEnd, const update::TUpdateOptions& AOptions);

  struct TRun {
    std::unique_ptr<update::TUpdateJob> Job;
    TBoardTags Tags;
  };

  hid::TPlainEventLoop& FLoop;
  std::shared_ptr<update::TBoardPorts> FPorts;
  TNewBoards& FNewBoards;
  TRecordFile* FRecord;
  TEndedHook FEnded;
  std::map<std::string, TRun> FRunning;  // by port
};
