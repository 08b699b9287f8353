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
#include <vector>

#include "BslVerify.h"
#include "JvHidControllerClass.h"
#include "LogUtils.h"
#include "SettingsBlock.h"
#include "UpdateImage.h"
#include "UpdateTiming.h"
#include "bsl_hid.h"

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

// The engine's log lines that the window also shows in a message box.
inline constexpr const char* kSuccessText = "Firmware & Settings were sucesfully uploaded!";
inline constexpr const char* kNotCorrectText = "The firmware on the board is not correct. Run the update again.";

// How an update ends, for the technician (a message box in the window;
// the receiver words it from the outcome).
enum class TUpdateMessage {
  Success,        // written, and verified unless the outcome says otherwise
  LoaderFailure,  // step 1 failed: "Bootloader upload failure!"
  ImageRefused,   // an image failed its check; the board was not changed
  VerifyFailed,   // the firmware on the board is not correct, or could not be checked
  CannotOpen,     // the board cannot be opened for reading and writing
  SeveralBoards,  // more than one board is there and none was chosen: nothing was sent
  Failed,         // step 2 or 3 failed otherwise (the board did not come back, ...)
};

// What the engine is doing between two image lines, for a display.
enum class TUpdateActivity {
  Waiting,    // for the board to come back: milliseconds waited of the limit
  Verifying,  // bytes compared of all there are
};

// One kind per way the update can end.
enum class TUpdateResult {
  Success,          // written (and verified, unless the loader cannot check memory)
  BadImage,         // an image was refused; nothing was sent to the board
  NoBoard,          // no board under its loader at the start
  SeveralBoards,    // more than one, and no port chose one: nothing was sent
  CannotOpen,       // the board cannot be opened for reading and writing
  PasswordRefused,  // the resident loader answered and refused the password of an erased board
  BoardNotBack,     // the board did not come back under the RAM loader within 60 s
  WrongLoader,      // it came back, but under another loader than the one started
  WriteFailed,      // reports did not go out whole (the system's reason, the bytes)
  NoAnswer,         // the board did not answer a command within the limit
  BadAnswer,        // it answered something that is no loader answer, or a wrong message
  BoardLeft,        // the board left the bus (during which phase, after how many bytes)
  VerifyFailed,     // the board holds something other than what was sent
  Error,            // an error was raised during the update (logged)
  Cancelled,        // Cancel() was called
};

const char* ResultName(TUpdateResult AResult);

// Where the update was when it ended.
enum class TUpdatePhase {
  Images,    // reading and checking the images
  Connect,   // finding and opening the board
  Unlock,    // the two passwords
  Loader,    // writing the RAM loader and starting it
  Wait,      // waiting for the board to come back
  Identify,  // asking the board that came back which loader answers, and its ID
  Firmware,  // writing the application image and the settings records
  Verify,    // comparing the board's memory with what was sent
  Done,
};

// "images", "connect", "unlock", "loader", "wait", "identify", "firmware",
// "verify", "done".
const char* PhaseName(TUpdatePhase APhase);

// Why the update ended, found where it happened: data, not words.
struct TUpdateCause {
  TUpdatePhase Phase = TUpdatePhase::Images;
  TBslFailure Failure;      // what the loader client found (the command, bytes, reason, wait, answer)
  uint64_t BytesSent = 0;   // the phase's data bytes that went out whole
  uint64_t BytesTotal = 0;  // of all the phase had to write
  int FailedReports = 0;    // the phase's reports that did not go out whole
  uint32_t WaitedMs = 0;    // BoardNotBack: how long
  std::string SeenButClosed;  // BoardNotBack: why a board that was seen could not be opened
  TVerifyOutcome Verify;    // VerifyFailed: the piece that differs and both CRCs
};

struct TUpdateOutcome {
  TUpdateResult Result = TUpdateResult::Error;
  TImageRole Stage = TImageRole::Loader;  // the image being worked on when it ended
  // BadImage: the refusal; CannotOpen: the device and the system's reason;
  // Error: the error's message. Empty otherwise.
  std::string Text;
  bool Verified = false;  // the board's memory was compared with what was sent
  TUpdateCause Cause;
  std::string Port;     // where the board is plugged in (empty: unknown, or no board taken)
  std::string BoardId;  // the die record of its chip (empty: not read, or the loader refused)
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
  // The update ends with AOutcome; AKind says which message it calls for.
  virtual void Message(TUpdateMessage AKind, const TUpdateOutcome& AOutcome) = 0;
  // Between image lines: what is going on, ADone of ATotal.
  virtual void Activity(TUpdateActivity AKind, uint64_t ADone, uint64_t ATotal) {
    (void)AKind, (void)ADone, (void)ATotal;
  }
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
  // How long a command waits for the board's answer, and how much longer
  // the engine listens after it failed, to tell a late answer from none.
  uint32_t AnswerTimeoutMs = TBsl::kAnswerTimeoutMs;
  uint32_t LateAnswerGraceMs = 2000;
  // Picks the board at check-out; null: FindMyDevice.
  TJvHidCheckCallback Predicate = nullptr;
  // Only a board at one of these ports; empty: any port. Either way, more
  // than one board that fits ends the update before anything is sent
  // (SeveralBoards). The board that comes back under the RAM loader is
  // the one at the port that the board left; where the platform cannot
  // tell ports, only a lone board is taken.
  std::vector<std::string> Ports;
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
