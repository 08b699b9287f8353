// One run of the chaos soak: fresh images, a clean run that must succeed,
// then the same update with a fault plan, on the simulated bus with the
// engine's waits on a virtual clock; and what the run must show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SoakPlan.h"

namespace soak {

struct TRunReport {
  TSetup Setup;
  std::vector<TFault> Faults;
  TExpected Expected;
  update::TUpdateOutcome Outcome;
  bool MemoryMatches = false;  // the board holds both images and the three records
  double Seconds = 0;          // wall time of the faulty run
  std::vector<std::string> Problems;  // empty: the run passed
  std::vector<std::string> LastLines;  // the end of the faulty run's log, for a failed run
};

// The wall time a run may take: the slowest fault (an answer that never
// comes) costs the answer timeout and the time listened for a late one.
constexpr double kRunBoundSeconds = 15.0;

// Runs run number ARun of the soak seeded with ASeed (the same pair gives
// the same run).
TRunReport RunOnce(uint64_t ASeed, uint64_t ARun);

}  // namespace soak
