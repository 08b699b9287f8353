// The two-stage firmware update without any window: unlock the resident
// loader, write the RAM loader and start it, wait for the board to come
// back under it, write the application image with the settings block at
// its "SET" line, verify what was written. The caller learns what happens
// through IUpdateEvents and gets one outcome per run.
//
// Lifetime: the engine holds shared references to the controller and to
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

#include "JvHidControllerClass.h"
#include "LogUtils.h"
#include "SettingsBlock.h"
#include "UpdateImage.h"
#include "UpdateTiming.h"

class TBsl;

namespace update {

// What the technician sees of the update, in order.
enum class TUpdateStep {
  Started,          // step 1 under way
  LoaderWritten,    // step 1 done, step 2 (waiting for the board) under way
  BoardBack,        // step 2 done, step 3 under way
  FirmwareWritten,  // all three done; the success line and message follow
  LoaderFailed,     // step 1 failed; the loader failure message follows
  VerifyFailed,     // step 3 wrote a firmware that is not correct; its message follows
};

// Messages for the technician (modal boxes in the window).
enum class TUpdateMessage {
  Success,        // "Firmware & Settings were sucesfully uploaded!"
  LoaderFailure,  // "Bootloader upload failure!"
  ImageRefused,   // an image failed its check; the board was not changed
  VerifyFailed,   // the firmware on the board is not correct
  CannotOpen,     // the board cannot be opened for reading and writing
};

// Every call comes from the thread that runs the engine and returns when
// the receiver is done with it (a message box: when it was closed).
class IUpdateEvents {
 public:
  virtual ~IUpdateEvents() = default;
  virtual void Log(int32_t AID, TMessageType AType, const std::string& AMessage, TColor AColor) = 0;
  // Before each image line: number of lines, the line's 0-based index.
  virtual void Progress(int ALinesCount, int AActualLine, const std::string& AMsg) = 0;
  virtual void Step(TUpdateStep AStep) = 0;
  virtual void Message(TUpdateMessage AKind, const std::string& AText) = 0;
};

// One kind per way the update can end.
enum class TUpdateResult {
  Success,          // written (and verified, unless the loader cannot check memory)
  BadImage,         // an image was refused; nothing was sent to the board
  NoBoard,          // no board under its loader at the start
  CannotOpen,       // the board cannot be opened for reading and writing
  PasswordRefused,  // the resident loader refused the password of an erased board
  BoardNotBack,     // the board did not come back under the RAM loader within 60 s
  WriteFailed,      // an image was not written to its end line (Stage says which)
  VerifyFailed,     // the board holds something other than what was sent
  Error,            // an error was raised during the update (logged)
  Cancelled,        // Cancel() was called
};

const char* ResultName(TUpdateResult AResult);

struct TUpdateOutcome {
  TUpdateResult Result = TUpdateResult::Error;
  TImageRole Stage = TImageRole::Loader;  // the image being worked on when it ended
  std::string Text;                       // one line for the technician; empty on success
  bool Verified = false;                  // the board's memory was compared with what was sent
};

// Writes one checked image through the client. It must call the client's
// onSet() at the image's settings line (the engine installs it), report
// progress through the client's onProgress(), and return true only when the
// image reached its end line with every byte sent. The default writes one
// fast write per data line (TBsl::FlashHex).
using TImageWriter = std::function<bool(TBsl& ABsl, const TUpdateImage& AImage)>;

// Opens the board for reading and writing; when it cannot be (no
// permission, held by another program, gone), AWhy names the device, the
// system's reason and the fix.
bool OpensForReports(TJvHidDevice* ADev, std::string& AWhy);

struct TUpdateOptions {
  std::string LoaderFile;
  std::string FirmwareFile;
  // Images already read and checked (ReadImage): a batch reads them once.
  // When set, the file above is not read again.
  std::shared_ptr<const TUpdateImage> Loader;
  std::shared_ptr<const TUpdateImage> Firmware;

  TSettingsTexts Settings;  // access point name, login, password
  bool Verify = true;       // check the written ranges and the settings records
  TImageWriter Writer;      // empty: line by line
  TUpdateTiming Timing;
  std::chrono::milliseconds SettingsPause{100};  // before each settings record
  // Picks the board at check-out; null: FindMyDevice.
  TJvHidCheckCallback Predicate = nullptr;
  // Asked right after the check-out, before anything is sent: false with
  // the technician's text (device node, the system's reason, the fix) in
  // AWhy ends the update as CannotOpen. Empty: the first write finds out.
  std::function<bool(TJvHidDevice* ADev, std::string& AWhy)> CanOpen = &OpensForReports;
  // Begins the engine's own log lines: "<Name> - Start", "- End", "- Exception: ".
  std::string Name = "Flash thread";
};

class TUpdateEngine {
 public:
  TUpdateEngine(std::shared_ptr<TJvHidDeviceController> AController,
                std::shared_ptr<IUpdateEvents> AEvents, TUpdateOptions AOptions);
  ~TUpdateEngine();
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
  struct TRun;
  std::shared_ptr<TJvHidDeviceController> FController;
  std::shared_ptr<IUpdateEvents> FEvents;
  TUpdateOptions FOptions;
  std::atomic<bool> FCancelled{false};
};

// The check-out predicate for the board under its loader (vendor 0x2047,
// product 0x0200). Every device it examines is logged (" xx - VID: ...,
// PID: ...") through the events of the engine running on the calling
// thread, if any.
bool FindMyDevice(TJvHidDevice* AHidDev);

}  // namespace update
