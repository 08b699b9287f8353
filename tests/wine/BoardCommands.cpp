#include "BoardCommands.h"

#include "HexText.h"

#include <cstdio>
#include <sstream>

namespace winetest {
namespace {

std::string OrNone(const std::string& AText) { return AText.empty() ? "none" : AText; }

std::string StateName(sim::TBoardState AState) {
  switch (AState) {
    case sim::TBoardState::ResidentLoader: return "resident";
    case sim::TBoardState::RamLoader: return "ram";
    case sim::TBoardState::Away: return "away";
  }
  return "?";
}

std::string Memory(THidrawBoard& ABoard, std::istringstream& AArgs) {
  uint32_t LAddress = 0;
  size_t LCount = 0;
  if (!(AArgs >> std::hex >> LAddress >> std::dec >> LCount)) return "error: memory ADDR COUNT";
  return HexText(ABoard.Board()->ReadMemory(LAddress, LCount), true);
}

std::string Joined(const std::vector<std::string>& AItems) {
  std::string LOut;
  for (const std::string& LItem : AItems) LOut += (LOut.empty() ? "" : ", ") + LItem;
  return OrNone(LOut);
}

}  // namespace

std::string RunBoardCommand(THidrawBoard& ABoard, const std::string& ACommand) {
  std::istringstream LArgs(ACommand);
  std::string LName;
  LArgs >> LName;
  if (LName == "plug") return OrNone(ABoard.Plug());
  if (LName == "unplug") return OrNone(ABoard.Unplug());
  if (LName == "node") return OrNone(ABoard.CurrentNode());
  if (LName == "reset") return OrNone(ABoard.Reset());
  if (LName == "state") return StateName(ABoard.Board()->State());
  if (LName == "memory") return Memory(ABoard, LArgs);
  if (LName == "reports") return std::to_string(ABoard.Board()->ReportsReceived());
  if (LName == "unknown-ioctls") return Joined(ABoard.UnknownCalls());
  if (LName == "no-answer") {
    int LOn = 0;
    LArgs >> LOn;
    ABoard.Board()->SetNoAnswer(LOn != 0);
    return "ok";
  }
  return "error: unknown command " + LName;
}

}  // namespace winetest
