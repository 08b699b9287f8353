// The simulated bus of a demo or test run, built from a KESTROVA_SIM list,
// with the boards put on it; KESTROVA_SIM_DUMP names the file that receives
// the simulated boards' memory when the run ends. The programs take it with
// its control from TSimRun (SimRun.h).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SimBoard.h"
#include "SimBus.h"

class TSimSession {
 public:
  // Null when KESTROVA_SIM is unset or empty; throws on a malformed list.
  static std::unique_ptr<TSimSession> FromEnvironment();
  static std::unique_ptr<TSimSession> FromList(const std::string& AList);

  // What the controller is to use in place of the operating system's HID
  // services.
  sim::TSimBus& Bus() { return *FBus; }
  // The boards created for the list and plugged in since, plugged in or
  // not, in the order they came.
  std::vector<std::shared_ptr<sim::TSimBoard>> Boards() const;
  // Plugs in a board made after the list, kept with the others.
  void PlugIn(std::shared_ptr<sim::TSimBoard> ABoard);

  // Writes the board's memory as TI-TXT to KESTROVA_SIM_DUMP, if set; with
  // several boards, each to a file of its own, named by DumpFileFor.
  void WriteDump() const;
  // AFile with "-" and the board's port before its extension
  // ("dump.txt", "1-1.3": "dump-1-1.3.txt").
  static std::string DumpFileFor(const std::string& AFile, const std::string& APort);

 private:
  TSimSession() = default;

  std::unique_ptr<sim::TSimBus> FBus;
  mutable std::mutex FBoardsLock;
  std::vector<std::shared_ptr<sim::TSimBoard>> FBoards;
};
