// The simulated bus of a demo or test run: built from KESTROVA_SIM and put
// in place of the operating system's HID services; KESTROVA_SIM_DUMP names
// the file that receives the simulated boards' memory when the run ends;
// KESTROVA_SIM_CONTROL names a file or named pipe whose lines unplug and
// plug in boards while the run goes on. With KESTROVA_SIM unset nothing of
// this exists.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SimBoard.h"
#include "SimBus.h"
#include "SimControl.h"

class TSimSession {
 public:
  // Null when KESTROVA_SIM is unset or empty; throws on a malformed list.
  // Reads KESTROVA_SIM_CONTROL when it is set (ListenTo).
  static std::unique_ptr<TSimSession> FromEnvironment();
  static std::unique_ptr<TSimSession> FromList(const std::string& AList);
  ~TSimSession();

  sim::TSimBus& Bus() { return *FBus; }
  // The boards created for the list and by the control since, plugged in
  // or not, in the order they came.
  std::vector<std::shared_ptr<sim::TSimBoard>> Boards() const;

  // Applies one line of the control:
  //   unplug PORT          pulls the cable of the board on PORT
  //   plug PORT            plugs the board that was on PORT back in
  //   plug board[:OPTIONS] plugs in a new board (options as in KESTROVA_SIM;
  //                        port=PATH behind a hub puts it on that hub)
  // Blank lines and lines starting with "#" do nothing. Returns what was
  // wrong with the line, empty when it was done.
  std::string Apply(const std::string& ALine);
  // Applies the lines written to the file or named pipe APath, from a
  // thread of its own, until the session ends; what is wrong with a line,
  // or with APath, goes to standard error and nothing else happens.
  void ListenTo(const std::string& APath);
  // Writes the board's memory as TI-TXT to KESTROVA_SIM_DUMP, if set; with
  // several boards, each to a file of its own, named by DumpFileFor.
  void WriteDump() const;
  // AFile with "-" and the board's port before its extension
  // ("dump.txt", "1-1.3": "dump-1-1.3.txt").
  static std::string DumpFileFor(const std::string& AFile, const std::string& APort);

 private:
  TSimSession() = default;
  std::string Unplug(const std::string& APort);
  std::string PlugBack(const std::string& APort);
  std::string PlugNew(const std::string& AItem);
  // The board last plugged into APort; null when none was.
  std::shared_ptr<sim::TSimBoard> LastBoardOn(const std::string& APort) const;
  // Why a new board cannot go into APort; empty when it can.
  std::string PortTaken(const std::string& APort) const;

  std::unique_ptr<sim::TSimBus> FBus;
  mutable std::mutex FBoardsLock;
  std::vector<std::shared_ptr<sim::TSimBoard>> FBoards;
  std::unique_ptr<sim::TSimControl> FControl;  // last: ends first
};
