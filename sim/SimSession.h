// The simulated bus of a demo or test run: built from KESTROVA_SIM and put
// in place of the operating system's HID services; KESTROVA_SIM_DUMP names
// the file that receives the simulated boards' memory when the run ends.
// With KESTROVA_SIM unset nothing of this exists.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SimBoard.h"
#include "SimBus.h"

class TSimSession {
 public:
  // Null when KESTROVA_SIM is unset or empty; throws on a malformed list.
  static std::unique_ptr<TSimSession> FromEnvironment();
  static std::unique_ptr<TSimSession> FromList(const std::string& AList);
  ~TSimSession();

  sim::TSimBus& Bus() { return *FBus; }
  // The boards created for the list, plugged in or not.
  const std::vector<std::shared_ptr<sim::TSimBoard>>& Boards() const { return FBoards; }
  // Writes the board's memory as TI-TXT to KESTROVA_SIM_DUMP, if set; with
  // several boards, each to a file of its own, named by DumpFileFor.
  void WriteDump() const;
  // AFile with "-" and the board's port before its extension
  // ("dump.txt", "1-1.3": "dump-1-1.3.txt").
  static std::string DumpFileFor(const std::string& AFile, const std::string& APort);

 private:
  TSimSession() = default;
  std::unique_ptr<sim::TSimBus> FBus;
  std::vector<std::shared_ptr<sim::TSimBoard>> FBoards;
};
