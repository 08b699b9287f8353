// The simulated run of a program, taken from the environment at start-up:
// KESTROVA_SIM lists the devices of the simulated bus that the program's
// controller uses in place of the operating system's HID services,
// KESTROVA_SIM_CONTROL names the control that unplugs and plugs in boards
// while the run goes on (SimSessionControl.h), KESTROVA_SIM_DUMP the file
// that receives the boards' memory at the end (SimSession.h). With
// KESTROVA_SIM unset nothing of this exists.
#pragma once

#include <memory>

#include "SimSession.h"
#include "SimSessionControl.h"

class TSimRun {
 public:
  // Null when KESTROVA_SIM is unset or empty; throws on a malformed list.
  static std::unique_ptr<TSimRun> FromEnvironment() {
    std::unique_ptr<TSimRun> run(new TSimRun);
    run->FSession = TSimSession::FromEnvironment();
    if (!run->FSession) return nullptr;
    run->FControl = TSimSessionControl::FromEnvironment(*run->FSession);
    return run;
  }

  // What the program's controller is to use.
  hid::IHidPlatform* Platform() { return &FSession->Bus(); }
  void WriteDump() const { FSession->WriteDump(); }

 private:
  TSimRun() = default;
  std::unique_ptr<TSimSession> FSession;
  std::unique_ptr<TSimSessionControl> FControl;  // last: ends first, nothing is plugged or unplugged after
};
