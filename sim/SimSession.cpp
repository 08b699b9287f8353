#include "SimSession.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "SimEnvironment.h"
#include "Utf8.h"
#include "Utf8Environment.h"

namespace {
constexpr const char* kDumpVariable = "KESTROVA_SIM_DUMP";
}  // namespace

std::unique_ptr<TSimSession> TSimSession::FromEnvironment() {
  const auto list = Utf8Environment(sim::kSimEnvironmentVariable);
  if (!list || list->empty()) return nullptr;
  return FromList(*list);
}

std::unique_ptr<TSimSession> TSimSession::FromList(const std::string& AList) {
  std::unique_ptr<TSimSession> session(new TSimSession);
  TSimSession* self = session.get();
  session->FBus = sim::CreateBusFromList(AList, [self](const std::vector<std::string>& AOptions) {
    auto board = sim::MakeSimBoard(AOptions);
    self->FBoards.push_back(board);
    return board;
  });
  for (const auto& board : session->FBoards) board->SetHomeBus(*session->FBus);
  return session;
}

std::vector<std::shared_ptr<sim::TSimBoard>> TSimSession::Boards() const {
  std::lock_guard lock(FBoardsLock);
  return FBoards;
}

void TSimSession::PlugIn(std::shared_ptr<sim::TSimBoard> ABoard) {
  {
    std::lock_guard lock(FBoardsLock);
    FBoards.push_back(ABoard);
  }
  ABoard->PlugInto(*FBus);  // a hub without time left for it refuses it, and says so
}

std::string TSimSession::DumpFileFor(const std::string& AFile, const std::string& APort) {
  const std::filesystem::path path = Utf8ToPath(AFile);
  std::filesystem::path name = path.stem();
  name += "-" + APort;
  name += path.extension();
  return PathToUtf8(path.parent_path() / name);
}

void TSimSession::WriteDump() const {
  const auto path = Utf8Environment(kDumpVariable);
  if (!path || path->empty()) return;
  const auto boards = Boards();
  std::map<std::string, int> onPort;  // boards of each port so far
  for (const auto& board : boards) {
    // One board keeps the name as given; several get one file each, and
    // the boards that followed another into its port a number after it.
    const int number = ++onPort[board->Port];
    const std::string name = board->Port + (number == 1 ? "" : "-" + std::to_string(number));
    const std::string file = boards.size() == 1 ? *path : DumpFileFor(*path, name);
    std::ofstream out(Utf8ToPath(file), std::ios::binary | std::ios::trunc);
    out << board->DumpTiTxt();
    out.close();
    if (!out) throw std::runtime_error("Cannot write the board memory to " + file);
  }
}
