// The chaos soak's faults: every fault the simulated board knows, drawn at
// random report positions and moments of the wait for the board, one or
// two at a time; and the table that says how a run with them must end.
//
// A run is first made without faults (the clean run); its trace (each
// report's command, the stage it belonged to, when it went out) places
// the faults of the faulty run and lets the table predict its outcome.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "SimBoard.h"
#include "UpdateEngine.h"

namespace soak {

enum class TFaultKind {
  RefusePassword,     // every password is wrong
  NoAnswer,           // the board never answers
  AnswerDelay,        // every answer comes Value ms late
  ShortWrite,         // the board takes Value bytes of each report
  DropAfter,          // leaves the bus for good after report Value
  CutReport,          // report Value arrives in part
  SilentAt,           // the answer to report Value never comes
  LateAnswer,         // the answer to report Value comes late
  GarbleAnswer,       // the answer to report Value is corrupt
  WrongLength,        // the answer to report Value has a wrong length byte
  UnplugAt,           // the cable is pulled while report Value is on its way
  LoseWrite,          // the Value-th fast write to the RAM loader is lost
  NoReturn,           // the board never comes back after Load PC
  ReturnResident,     // it comes back under its resident loader, locked
  LateReturn,         // it comes back Value ms after the wait began (past the minute)
  UnplugInWait,       // unplugged Value ms into the wait, before it is back; plugged in again at Replug ms (0: never)
  UnplugAfterReturn,  // unplugged Value ms after the wait began, once it was found again
};
const char* FaultName(TFaultKind AKind);
constexpr int kFaultKinds = static_cast<int>(TFaultKind::UnplugAfterReturn) + 1;

struct TFault {
  TFaultKind Kind = TFaultKind::NoAnswer;
  uint32_t Value = 0;
  uint32_t Replug = 0;
};
std::string FaultText(const TFault& AFault);

// What stays the same for the clean run and the faulty one.
struct TSetup {
  bool Fast = false;                  // kestrova-flash --fast's writer, else line by line
  std::vector<uint8_t> UnknownCommands;  // a RAM loader built without them
  uint32_t ReturnMs = 1000;           // the board is back this long after the wait began
};

// The clean run as the board saw it, report by report (index 0: report 1).
struct TTrace {
  std::vector<sim::TReportRecord> Reports;
  std::vector<update::TUpdateStage> Stages;
  std::vector<uint64_t> At;  // virtual milliseconds on the engine's clock when it went out
  uint64_t WaitBegan = 0;    // when the wait for the board began
};

// The stages of the reports of a clean run: two passwords, the loader up
// to Load PC, the question for the loader, the firmware, verification.
std::vector<update::TUpdateStage> StagesOf(const std::vector<sim::TReportRecord>& AReports);

// How a run must end.
struct TExpected {
  update::TUpdateResult Result = update::TUpdateResult::Success;
  update::TUpdateStage Stage = update::TUpdateStage::Done;
  bool Verified = true;                // written: the board's memory was compared
  std::optional<bool> Late;            // NoAnswer: the answer came late (or never)
  std::optional<uint64_t> BytesSent;   // BoardLeft in an image: what went out whole before
  std::string Decider;                 // the fault that decides, or "none"
};

TSetup RandomSetup(std::mt19937& ARandom);
// None, one or two faults placed with the help of the clean run's trace.
std::vector<TFault> RandomFaults(std::mt19937& ARandom, const TSetup& ASetup, const TTrace& ATrace);
// The report faults as the board's options.
void ApplyFaults(const std::vector<TFault>& AFaults, sim::TSimBoardOptions& AOptions);
TExpected Predict(const TSetup& ASetup, const std::vector<TFault>& AFaults, const TTrace& ATrace);

// The answer timing of the soak's runs: shorter than the product's, with
// a late answer well inside the time the engine listens on for one.
constexpr uint32_t kAnswerTimeoutMs = 150;
constexpr uint32_t kLateGraceMs = 850;
constexpr uint32_t kLateByMs = 450;

}  // namespace soak
