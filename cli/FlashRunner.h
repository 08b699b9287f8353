// kestrova-flash at work: reads and checks everything first, then chooses
// the board (or, with --gang, every board) and runs an update job for it,
// or for one board after another (--repeat), while this thread drives the
// HID layer's event loop. Prints progress and results, writes the log and
// the record, and returns the exit code.
#pragma once

#include <atomic>
#include <memory>
#include <ostream>
#include <vector>

#include "BoardEvents.h"
#include "BoardRuns.h"
#include "CliOptions.h"
#include "DeviceList.h"
#include "ExitCodes.h"
#include "GangRun.h"
#include "JsonStream.h"
#include "PlainEventLoop.h"
#include "ProgressView.h"
#include "SimRun.h"
#include "Station.h"
#include "UpdateTiming.h"

struct TCliConsole {
  std::ostream& Out;
  std::ostream& Err;
  bool Terminal;              // Out is a terminal: the progress bar is redrawn in place
  bool ErrTerminal = false;   // Err is a terminal (where Ctrl-C shows "^C")
};

class TFlashRunner {
 public:
  // APlatform: the HID services to use when KESTROVA_SIM does not name a
  // simulated bus (null: the operating system's).
  TFlashRunner(TCliOptions AOptions, TCliConsole AConsole, hid::IHidPlatform* APlatform = nullptr);
  ~TFlashRunner();

  // Runs on the calling thread.
  TExitCode Run();
  // Any thread: the running updates stop at their next pause, a wait for
  // the next board ends.
  void Interrupt() { FInterrupted.store(true); }
  // The same whenever AFlag is set (the console's Ctrl-C).
  void FollowInterrupts(const std::atomic<bool>& AFlag) { FConsoleInterrupt = &AFlag; }
  // The clock and sleep of the update (tests: a minute that takes no minute).
  void SetTiming(update::TUpdateTiming ATiming) { FUpdate.Timing = std::move(ATiming); }
  // The events of the update of the board at APort: its lines go to the
  // log beginning with ALogPrefix, its steps and amounts to AView.
  std::shared_ptr<update::IUpdateEvents> BoardEvents(const std::string& APort, IBoardView& AView,
                                                     const std::string& ALogPrefix);
  // Where a station's serials come from (main: standard input); read only
  // when the station file asks for serials.
  void SetSerials(std::unique_ptr<ISerialSource> ASerials) { FSerials = std::move(ASerials); }

 private:
  bool Interrupted() const;
  TExitCode Prepare();
  void TakeStation();
  void StartBus();
  std::vector<update::TBoardSeen> NewBoards();
  update::TUpdateOutcome UpdateAlone(const std::string& APort);
  TExitCode Single();
  TExitCode Repeat();
  TExitCode Gang();
  TExitCode GangEnd(const TGangEnd& AEnd);
  TExitCode NoBoard();
  // A failure that is no update's outcome: its text and what to do.
  TExitCode Refuse(TExitCode ACode, std::string AText);
  // The one line that ends the run, on standard error and in the log.
  TExitCode EndWith(TExitCode ACode, const std::string& ALine);
  // A line of its own on standard output and in the log.
  void PrintLine(const std::string& AText);

  TCliOptions FOptions;
  std::optional<TStation> FStation;  // --station: what its file fixes
  std::unique_ptr<ISerialSource> FSerials;
  std::ostream FNowhere{nullptr};  // what --json --quiet leaves unsaid
  TCliConsole FConsole;            // what people read (with --json: standard error)
  std::unique_ptr<TJsonStream> FJson;
  hid::IHidPlatform* FPlatform;
  std::atomic<bool> FInterrupted{false};
  const std::atomic<bool>* FConsoleInterrupt = nullptr;
  TProgressView FView;
  std::unique_ptr<TLogFile> FLog;
  std::unique_ptr<TRecordFile> FRecord;
  update::TUpdateOptions FUpdate;
  TNewBoards FNewBoards;
  std::vector<TSkippedDevice> FSkipped;  // devices the controller left out
  // The bus and what runs on it, in the order they are made and (backwards) end.
  std::unique_ptr<TSimRun> FSim;
  std::unique_ptr<hid::TPlainEventLoop> FLoop;
  std::shared_ptr<TJvHidDeviceController> FController;
  std::shared_ptr<update::TBoardPorts> FPorts;
  std::unique_ptr<TBoardRuns> FRuns;
};
