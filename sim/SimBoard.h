// The simulated controller board under its USB bootstrap loader: an
// MSP430F5529 that answers BSL core packets like the real part, with the
// small flash-resident loader first and, after Load PC into a loader image
// in RAM, the full RAM loader on a new device identity. Fault switches let
// tests reproduce what real boards and cables do.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DescriptorTable.h"
#include "Msp430Memory.h"
#include "SimDevice.h"
#include "SimTimer.h"

namespace sim {

struct TSimBoardOptions {
  bool RefusePassword = false;  // every password is wrong (and erases main flash)
  bool NoReturn = false;        // after Load PC the board never comes back
  // Real boards come back after 1 to 7 s; 1.5 s keeps a demo quick.
  uint32_t ReturnDelayMs = 1500;
  // After Load PC the board stays off the bus until Return() is called
  // (whoever drives the board decides when it is back).
  bool HoldReturn = false;
  // After Load PC the board comes back under its resident loader, locked,
  // as after a power cycle: another loader than the one it left with.
  bool ReturnResident = false;
  // The board that comes back cannot be opened at the first look, as when
  // the system is not yet done setting its interface up.
  bool FirstOpenFails = false;
  uint32_t AnswerDelayMs = 0;          // answers are sent this much later
  bool NoAnswer = false;               // answers are never sent
  uint32_t DropAfterReports = 0;       // leave the bus for good after N reports (0: never)
  std::optional<uint32_t> ShortWrite;  // accept only this many bytes of each report
  bool FrameTimed = false;             // one 1 ms frame per report, as on the real wire
  std::string Firmware;                // TI-TXT image the flash holds at the start (empty: built-in)
  uint32_t LoseWrite = 0;  // the N-th fast write to the RAM loader is not stored (0: none)
  std::vector<uint8_t> UnknownCommands;  // the RAM loader answers these with "unknown command"
  std::string Port;                      // the port it is plugged into (empty: the bus gives one)
  std::optional<TDieRecord> Die;         // the chip's die record (none: one of its own)
  // Microseconds the flash takes to program one word (the F5xx datasheets
  // give 64 to 85); the loader takes the next report only when it is done.
  // 0: at once.
  uint32_t FlashWordUs = 0;

  // Faults of one report, counted from 1 as ReportsReceived() counts (0: none).
  uint32_t CutReport = 0;      // only the first kCutReportBytes of it arrive
  uint32_t SilentAt = 0;       // its answer is never sent
  uint32_t LateAt = 0;         // its answer comes LateByMs late
  uint32_t LateByMs = 1500;
  uint32_t GarbleAt = 0;       // its answer arrives corrupt
  uint32_t WrongLengthAt = 0;  // its answer carries a wrong length byte
  uint32_t UnplugAt = 0;       // the cable is pulled while it is on its way
  // With UnplugAt: the cable is plugged back in this much later (0: never).
  uint32_t ReplugAfterMs = 0;

  // Each fault above shows once, on the board's first update: once one has
  // shown, the board works as a good one (UnknownCommands describe its
  // loader, not a fault, and stay), so an update tried again on the board,
  // still connected, succeeds.
  bool Once = false;
};

// One report as it reached the board, for whoever maps a report number to
// what the host was doing then.
struct TReportRecord {
  uint8_t Command = 0;     // the BSL command byte (0: the report carried none)
  uint32_t DataBytes = 0;  // bytes a write (fast or not) carried after its address
  bool Erased = false;     // they were all 0xFF: writing them changes no erased flash
};

enum class TBoardState {
  ResidentLoader,  // the small loader in flash: password, fast writes into RAM, Load PC
  RamLoader,       // the loader started in RAM: the full command set
  Away,            // off the bus (started code, hung, or between the two loaders)
};

class TSimBoard : public TSimDevice, public std::enable_shared_from_this<TSimBoard> {
 public:
  // Bytes the loader's buffer holds: one 64-byte report less ID and length.
  static constexpr uint32_t kLoaderBuffer = 62;

  explicit TSimBoard(TSimBoardOptions AOptions = {});
  ~TSimBoard() override;

  // Bytes of a report that arrive when it is cut (CutReport).
  static constexpr uint32_t kCutReportBytes = 10;

  // Plugs the board into ABus; the board comes back to this bus after Load PC,
  // so the bus must outlive a trip that is under way.
  uint32_t PlugInto(TSimBus& ABus);
  // The bus the board comes back to, for a board that somebody else
  // plugged into it (the session of a run plugs the boards it lists).
  void SetHomeBus(TSimBus& ABus);

  // What a technician or a cable does to the board, from any thread, and
  // the one way a board is unplugged or plugged back in (its own UnplugAt
  // and ReplugAfterMs and the session's control go through them): Unplug
  // pulls the cable (the board leaves the bus and loses power: RAM, the
  // unlocked state and a return under way are gone); Replug plugs it back
  // in with its button pressed (the resident loader, locked). False when
  // the cable was out already, or in already (or the board has no bus).
  bool Unplug();
  bool Replug();
  void BusGone(TSimBus& ABus) override;
  // The cable is in: the board is on the bus, or off it on a trip of its
  // own (its RAM loader starting), or refused by its hub.
  bool CableIn() const;
  // A board held off the bus after Load PC (HoldReturn) comes back now.
  void Return();
  bool AwaitingReturn() const;

  uint32_t OnOutputReport(const uint8_t* AData, uint32_t ALength) override;
  void AfterOutputReport() override;

  // Inspection and set-up, from any thread.
  // What the board is now: its die (one of its own when none was given),
  // and no more the faults that showed once.
  TSimBoardOptions Options() const;
  TBoardState State() const;
  bool Unlocked() const;
  uint32_t ReportsReceived() const;
  // Every report received, in order (ReportsReceived() of them).
  std::vector<TReportRecord> ReportLog() const;
  std::vector<uint8_t> ReadMemory(uint32_t AAddress, size_t ACount) const;
  std::string DumpTiTxt() const;
  void Preload(uint32_t AAddress, const std::vector<uint8_t>& ABytes);
  void SetAnswerDelayMs(uint32_t AValue);
  void SetNoAnswer(bool AValue);

 private:
  using TReport = std::vector<uint8_t>;
  // What a report makes the board do once its lock is released.
  struct TOutcome {
    std::vector<TReport> Answers;
    uint32_t AnswerDelayMs = 0;
    bool Leave = false;     // leave the bus
    bool ComeBack = false;  // and return with the RAM loader
  };

  TOutcome Process(const uint8_t* AData, uint32_t ALength);
  static TReportRecord Record(const uint8_t* AData, uint32_t ALength);
  void Interpret(const std::vector<uint8_t>& ACore, TOutcome& AOut);
  void RunResident(const std::vector<uint8_t>& ACore, TOutcome& AOut);
  void RunRamLoader(const std::vector<uint8_t>& ACore, TOutcome& AOut);
  void CheckPassword(const std::vector<uint8_t>& ACore, TOutcome& AOut);
  void LoadPC(uint32_t ATarget, TOutcome& AOut);
  void WriteFast(uint32_t AAddress, const std::vector<uint8_t>& ACore, bool ARamOnly);
  void MarkLoaderWritten(uint32_t AAddress, size_t ACount);
  void SendData(const std::vector<uint8_t>& AData, TOutcome& AOut) const;
  TReport Message(uint8_t ACode) const;

  void SpoilAnswers(uint32_t AReport, TOutcome& AOut) const;
  void Deliver(TOutcome AOutcome);
  void SendAnswer(TReport AAnswer, uint32_t ADelayMs);
  void LeaveBus(bool AComeBack);
  void ComeBack(uint64_t ATrip);
  void PowerOffLocked();
  // A fault has shown: with Once, the board has none from now on.
  void FaultShownLocked();
  void PullCable();

  mutable std::mutex FLock;
  TSimBoardOptions FOptions;
  TMsp430Memory FMemory;
  TBoardState FState = TBoardState::ResidentLoader;
  bool FUnlocked = false;
  uint32_t FReports = 0;
  std::vector<TReportRecord> FReportLog;
  // RAM bytes that either loader's writes filled: the loader image, whose
  // code may be entered anywhere in it. Forgotten when the board leaves
  // the bus.
  std::vector<bool> FLoaderWritten;
  uint32_t FRamFastWrites = 0;  // fast writes since the RAM loader started
  bool FLeaveAfterWrite = false;  // DropAfterReports reached: leave once the write is done
  std::optional<bool> FTripAfterWrite;  // Load PC: leave (and come back if true) once it is done
  // Each trip off the bus (Load PC, an unplug) gets a number; a return
  // scheduled for an earlier trip is dropped.
  uint64_t FTrip = 0;
  bool FAwaitingReturn = false;
  bool FCableIn = true;
  TSimBus* FHomeBus = nullptr;
  TSimTimer FTimer;  // last: its thread ends before the rest goes
};

// Builds a board from option words (the board factory of a KESTROVA_SIM
// list that means this board): "refuse-password", "no-return",
// "return-delay=MS", "return-as=resident", "answer-delay=MS", "no-answer",
// "drop-after=N", "short-write=N", "lose-write=N", "unknown-command=HH" (a
// command byte in hexadecimal; may be given more than once), "cut-report=N",
// "silent-at=N", "late-answer=N", "garble-answer=N", "wrong-length=N",
// "unplug-at=N", "replug-after=MS", "port=PATH", "die=LLLLLLLL-XXXX-YYYY",
// "flash-time=US", "firmware=PATH", "frame-timed". An
// unknown or malformed word, or a firmware file that cannot be read as TI-TXT,
// raises std::invalid_argument.
std::shared_ptr<TSimBoard> MakeSimBoard(const std::vector<std::string>& AOptions);

}  // namespace sim
