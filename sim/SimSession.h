// The simulated bus of a demo or test run, built from a KESTROVA_SIM list,
// with the boards put on it; KESTROVA_SIM_DUMP names the file that receives
// the simulated boards' memory when the run ends. The programs take it with
// its control from TSimRun (SimRun.h).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>
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
  // not, in the order they came; a board unplugged through the control
  // whose memory went to the dump is not among them until it is plugged
  // back in.
  std::vector<std::shared_ptr<sim::TSimBoard>> Boards() const;
  // Plugs in a board made after the list, kept with the others.
  void PlugIn(std::shared_ptr<sim::TSimBoard> ABoard);

  // Whether any board has been on APort.
  bool HasBeenOn(const std::string& APort) const;
  // The board last plugged into APort; null when none was, or when it was
  // unplugged and its memory went to the dump (PlugBack brings it back).
  std::shared_ptr<sim::TSimBoard> LastBoardOn(const std::string& APort) const;
  // A board was unplugged through the control: with KESTROVA_SIM_DUMP set,
  // its memory is written now to the file it would get at the end, and the
  // board goes; what plugs it back in (its options, its port, the file) is
  // kept. In a shift of hundreds of boards only those still plugged in hold
  // a memory.
  void Unplugged(const std::shared_ptr<sim::TSimBoard>& ABoard);
  // Plugs the board last on APort back in, made again from what Unplugged
  // kept (its memory read back from its dump); false when that board is
  // not one that went to the dump. Throws std::invalid_argument when its
  // dump cannot be read back.
  bool PlugBack(const std::string& APort);

  // Writes the board's memory as TI-TXT to KESTROVA_SIM_DUMP, if set; with
  // several boards, each to a file of its own, named by DumpFileFor.
  void WriteDump() const;
  // AFile with "-" and the board's port before its extension
  // ("dump.txt", "1-1.3": "dump-1-1.3.txt").
  static std::string DumpFileFor(const std::string& AFile, const std::string& APort);

 private:
  // A board of the session, or what is left of one unplugged whose memory
  // went to the dump.
  struct TEntry {
    explicit TEntry(std::shared_ptr<sim::TSimBoard> ABoard) : Board(std::move(ABoard)) {}
    std::shared_ptr<sim::TSimBoard> Board;  // null while only its dump holds it
    std::string Port;                       // while Board is null
    std::shared_ptr<sim::TSimHub> Hub;      // while Board is null
    sim::TSimBoardOptions Options;          // to make it again, its dump as firmware
    std::string DumpFile;                   // where its memory went when unplugged
    const std::string& PortOf() const { return Board ? Board->Port : Port; }
  };

  TSimSession() = default;
  // The dump file of FBoards[AIndex] under APath.
  std::string DumpFileLocked(const std::string& APath, size_t AIndex) const;
  static void WriteFile(const std::string& AFile, const std::string& AText);

  std::unique_ptr<sim::TSimBus> FBus;
  mutable std::mutex FBoardsLock;
  std::vector<TEntry> FBoards;
};
