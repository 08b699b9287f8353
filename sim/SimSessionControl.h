// The control of a simulated session: boards unplugged and plugged in by
// hand (or by a test) while the program runs, from the lines of the file or
// named pipe that KESTROVA_SIM_CONTROL names.
#pragma once

#include <memory>
#include <string>

#include "SimControl.h"
#include "SimSession.h"

class TSimSessionControl {
 public:
  explicit TSimSessionControl(TSimSession& ASession) : FSession(ASession) {}
  // Null when KESTROVA_SIM_CONTROL is unset or empty; else a control that
  // listens to what it names (ListenTo).
  static std::unique_ptr<TSimSessionControl> FromEnvironment(TSimSession& ASession);

  // Applies one line of the control:
  //   unplug PORT          pulls the cable of the board on PORT
  //   plug PORT            plugs the board that was on PORT back in
  //   plug board[:OPTIONS] plugs in a new board (options as in KESTROVA_SIM;
  //                        port=PATH behind a hub puts it on that hub)
  // Blank lines and lines starting with "#" do nothing. Returns what was
  // wrong with the line, empty when it was done.
  std::string Apply(const std::string& ALine);
  // Applies the lines written to the file or named pipe APath, from a
  // thread of its own, until the control ends; what is wrong with a line,
  // or with APath, goes to standard error and nothing else happens.
  void ListenTo(const std::string& APath);

 private:
  std::string Unplug(const std::string& APort);
  std::string PlugBack(const std::string& APort);
  std::string PlugNew(const std::string& AItem);
  // Why a new board cannot go into APort; empty when it can.
  std::string PortTaken(const std::string& APort) const;

  TSimSession& FSession;
  std::unique_ptr<sim::TSimControl> FControl;  // last: ends first
};
