// kestrova-flash --json: what a run does, as JSON Lines on standard output
// for test rigs and scripts: one object per event, each with "schema" (a
// change that breaks a reader raises it) and "event"; a board's events
// carry its "port". Any thread may write; lines never mix.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

#include "BoardRecord.h"
#include "DeviceList.h"
#include "ExitCodes.h"
#include "LogUtils.h"
#include "UpdateProgress.h"

class TJsonStream {
 public:
  static constexpr int kSchema = 1;
  // At most about this many progress events a second per board.
  static constexpr int kProgressPerSecond = 10;

  explicit TJsonStream(std::ostream& AOut) : FOut(AOut) {}

  // The password is shown as dots wherever a log line holds it: as text,
  // and as the bytes of its settings record in a report's trace.
  void HidePassword(const std::u16string& APassword);
  // Whether a board's update has begun: what fails before is fatal.
  bool Started() const;

  void Start(const std::string& APort, const std::string& ALoaderSha256, const std::string& AFirmwareSha256);
  void Board(const std::string& APort, const std::string& ABoardId);
  // A stage begins, or goes on; the last report of a stage is always sent.
  void Progress(const std::string& APort, const update::TUpdateProgress& AProgress);
  void Log(const std::string& APort, TColor AColor, const std::string& AText);
  // The record's fields and the cause in words, at the port the board's
  // events came from.
  void End(const std::string& APort, TBoardRecord ARecord, const std::string& ACause);
  void Totals(int ABoards, int AUpdated, int AFailed, int ACancelled, TExitCode ACode);
  void Fatal(TExitCode ACode, const std::string& AMessage);
  void Device(const TDeviceSeen& ADevice);

 private:
  using TClock = std::chrono::steady_clock;
  struct TBoardState {
    update::TUpdateStage Stage = update::TUpdateStage::Done;
    TClock::time_point LastProgress;
  };
  void Write(const char* AEvent, const TJsonFields& AFields);
  void WriteLocked(const char* AEvent, const TJsonFields& AFields);

  mutable std::mutex FLock;
  std::ostream& FOut;
  std::string FPassword;       // UTF-8
  std::string FPasswordBytes;  // "05 34 30 38 31 37": its record, as a trace shows it
  bool FStarted = false;
  std::map<std::string, TBoardState> FBoards;  // by port
};
