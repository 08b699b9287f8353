// The two-stage firmware update without any window: unlock the resident
// loader, write the RAM loader and start it, wait for the board to come
// back under it, write the application image with the settings block at
// its "SET" line, verify what was written. The caller learns what happens
// through IUpdateEvents and gets one outcome per run (UpdateOutcome.h).
//
// Lifetime: the engine holds shared references to the board ports and to
// the events, so a worker that runs it may outlive whoever started it (a
// window that is closed during the 60-second wait). Cancel() makes a
// running update stop at its next pause; the events of a cancelled update
// should be dropped by the receiver once it is gone.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "BoardPorts.h"
#include "ImageWriter.h"
#include "LogUtils.h"
#include "SettingsBlock.h"
#include "TiTxtImage.h"
#include "UpdateOutcome.h"
#include "UpdateProgress.h"
#include "UpdateTiming.h"
#include "bsl_hid.h"

namespace update {

// The engine's log lines that the window also shows in a message box.
inline constexpr const char* kSuccessText = "Firmware & Settings were sucesfully uploaded!";
inline constexpr const char* kNotCorrectText = "The firmware on the board is not correct. Run the update again.";

// Every call comes from the thread that runs the engine and returns when
// the receiver is done with it (a message box: when it was closed).
class IUpdateEvents {
 public:
  virtual ~IUpdateEvents() = default;
  virtual void Log(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor) = 0;
  // Each stage as it begins, then how far it goes: every image line or
  // report, every poll for the board, every piece verified.
  virtual void Progress(const TUpdateProgress& AProgress) = 0;
  // The board's ID, once read from the board that came back (not called
  // when its loader does not tell).
  virtual void Identified(const std::string& /*ABoardId*/) {}
  // How the update ended; before the board goes back to the controller
  // and the End line.
  virtual void Ended(const TUpdateOutcome& AOutcome) = 0;
};

// Opens the board for reading and writing; when it cannot be (no
// permission, held by another program, gone), AWhy names the device, the
// system's reason and the fix.
bool OpensForReports(TJvHidDevice* ADev, std::string& AWhy);

// Whether a device is the board under its loader (vendor 0x2047, product
// 0x0200); every device it examines is logged through ALog
// (" xx - VID: ..., PID: ...").
bool FindMyDevice(TJvHidDevice* AHidDev, const TLogMsg& ALog);

struct TUpdateOptions {
  std::string LoaderFile;
  std::string FirmwareFile;
  // Images already read and checked (ReadTiTxtImage): a batch reads them
  // once. When set, the file above is not read again.
  std::shared_ptr<const TTiTxtImage> Loader;
  std::shared_ptr<const TTiTxtImage> Firmware;

  TSettingsTexts Settings;  // access point name, login, password
  bool Verify = true;       // check the written ranges and the settings records
  // Data per fast write (ImageWriter.h): line by line, or full reports.
  uint32_t BlockBytes = kWriteLineByLine;
  TUpdateTiming Timing;
  std::chrono::milliseconds SettingsPause{100};  // before each settings record
  // How long a command waits for the board's answer, and how much longer
  // the engine listens after it failed, to tell a late answer from none.
  uint32_t AnswerTimeoutMs = TBsl::kAnswerTimeoutMs;
  uint32_t LateAnswerGraceMs = 2000;
  // The board the front end chose: the one at this port, or, when empty,
  // the lone board under its loader (more than one ends the update as
  // SeveralBoards before anything is sent). The board that comes back
  // under the RAM loader is taken at the same port.
  std::string Port;
  // Only boards under their loader that this accepts (null: every one).
  TBoardTest Take;
  // Asked right after the check-out, before anything is sent: false with
  // the technician's text (device node, the system's reason, the fix) in
  // AWhy ends the update as CannotOpen. Empty: the first write finds out.
  std::function<bool(TJvHidDevice* ADev, std::string& AWhy)> CanOpen = &OpensForReports;
  // Begins the engine's own log lines: "<Name> - Start", "- End", "- Exception: ".
  std::string Name = "Flash thread";
};

class TUpdateEngine {
 public:
  TUpdateEngine(std::shared_ptr<TBoardPorts> APorts, std::shared_ptr<IUpdateEvents> AEvents,
                TUpdateOptions AOptions);
  TUpdateEngine(const TUpdateEngine&) = delete;
  TUpdateEngine& operator=(const TUpdateEngine&) = delete;

  // Runs one update on the calling thread. Never throws: anything raised
  // is logged and ends the run as Error, with the client released and the
  // board returned to the controller.
  TUpdateOutcome Run();

  // Any thread: the running update stops at its next pause and returns
  // Cancelled; nothing more is sent to the board.
  void Cancel() { FCancelled.store(true); }
  bool Cancelled() const { return FCancelled.load(); }

  const TUpdateOptions& Options() const { return FOptions; }

 private:
  std::shared_ptr<TBoardPorts> FPorts;
  std::shared_ptr<IUpdateEvents> FEvents;
  TUpdateOptions FOptions;
  std::atomic<bool> FCancelled{false};
};

}  // namespace update
