// kestrova-flash at work: reads and checks everything first, then runs the
// update engine for one board, or for one board after another (--repeat),
// while this thread drives the HID layer's event loop. Prints progress and
// results, writes the log, and returns the exit code.
#pragma once

#include <atomic>
#include <memory>
#include <ostream>

#include "CliOptions.h"
#include "ExitCodes.h"
#include "HidPlatform.h"
#include "UpdateTiming.h"

struct TCliConsole {
  std::ostream& Out;
  std::ostream& Err;
  bool Terminal;              // Out is a terminal: the progress bar is redrawn in place
  bool ErrTerminal = false;   // Err is a terminal (where Ctrl-C shows "^C")
};

class TFlashRunner {
 public:
  // APlatform: the HID services used when KESTROVA_SIM is unset; null: the
  // operating system's.
  TFlashRunner(TCliOptions AOptions, TCliConsole AConsole, hid::IHidPlatform* APlatform = nullptr);
  ~TFlashRunner();

  // Runs on the calling thread; on the simulated bus of KESTROVA_SIM, or on
  // the platform given.
  TExitCode Run();
  // Any thread, also a signal handler: the running update stops at its
  // next pause, a wait for the next board ends.
  void Interrupt() { FInterrupted.store(true); }
  // The clock and sleep of the update (tests: a minute that takes no minute).
  void SetTiming(update::TUpdateTiming ATiming);

 private:
  struct TImpl;
  std::unique_ptr<TImpl> d;
  std::atomic<bool> FInterrupted{false};
};
