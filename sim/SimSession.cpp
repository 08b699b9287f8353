#include "SimSession.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
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
    self->FBoards.emplace_back(board);
    return board;
  });
  for (const TEntry& entry : session->FBoards) entry.Board->SetHomeBus(*session->FBus);
  return session;
}

std::vector<std::shared_ptr<sim::TSimBoard>> TSimSession::Boards() const {
  std::lock_guard lock(FBoardsLock);
  std::vector<std::shared_ptr<sim::TSimBoard>> boards;
  for (const TEntry& entry : FBoards)
    if (entry.Board) boards.push_back(entry.Board);
  return boards;
}

void TSimSession::PlugIn(std::shared_ptr<sim::TSimBoard> ABoard) {
  {
    std::lock_guard lock(FBoardsLock);
    FBoards.emplace_back(ABoard);
  }
  ABoard->PlugInto(*FBus);  // a hub without time left for it refuses it, and says so
}

bool TSimSession::HasBeenOn(const std::string& APort) const {
  std::lock_guard lock(FBoardsLock);
  return std::any_of(FBoards.begin(), FBoards.end(), [&](const TEntry& AEntry) { return AEntry.PortOf() == APort; });
}

std::shared_ptr<sim::TSimBoard> TSimSession::LastBoardOn(const std::string& APort) const {
  std::lock_guard lock(FBoardsLock);
  for (auto it = FBoards.rbegin(); it != FBoards.rend(); ++it)
    if (it->PortOf() == APort) return it->Board;
  return nullptr;
}

void TSimSession::Unplugged(const std::shared_ptr<sim::TSimBoard>& ABoard) {
  const auto path = Utf8Environment(kDumpVariable);
  if (!path || path->empty()) return;  // nothing holds its memory but the board
  std::lock_guard lock(FBoardsLock);
  const auto entry =
      std::find_if(FBoards.begin(), FBoards.end(), [&](const TEntry& AEntry) { return AEntry.Board == ABoard; });
  if (entry == FBoards.end() || ABoard->CableIn()) return;
  // Written under the name it would get at the end with other boards
  // beside it; a session left with it alone renames it then.
  const std::string file = DumpFileLocked(*path, static_cast<size_t>(entry - FBoards.begin()));
  WriteFile(file, ABoard->DumpTiTxt());
  entry->Options = ABoard->Options();
  entry->Options.Port = ABoard->Port;
  entry->Options.Firmware = file;
  entry->Port = ABoard->Port;
  entry->Hub = ABoard->Hub;
  entry->DumpFile = file;
  entry->Board.reset();
}

bool TSimSession::PlugBack(const std::string& APort) {
  std::shared_ptr<sim::TSimBoard> board;
  {
    std::lock_guard lock(FBoardsLock);
    const auto entry =
        std::find_if(FBoards.rbegin(), FBoards.rend(), [&](const TEntry& AEntry) { return AEntry.PortOf() == APort; });
    if (entry == FBoards.rend() || entry->Board) return false;
    // The same chip with the flash its dump holds; RAM was lost when it was
    // unplugged, and it comes back under its resident loader, locked.
    board = std::make_shared<sim::TSimBoard>(entry->Options);
    board->Hub = entry->Hub;
    board->SetHomeBus(*FBus);
    entry->Board = board;
  }
  board->PlugInto(*FBus);  // a hub without time left for it refuses it, and says so
  return true;
}

std::string TSimSession::DumpFileFor(const std::string& AFile, const std::string& APort) {
  const std::filesystem::path path = Utf8ToPath(AFile);
  std::filesystem::path name = path.stem();
  name += "-" + APort;
  name += path.extension();
  return PathToUtf8(path.parent_path() / name);
}

// One board keeps the name as given; several get one file each, and the
// boards that followed another into its port a number after it.
std::string TSimSession::DumpFileLocked(const std::string& APath, size_t AIndex) const {
  const std::string& port = FBoards[AIndex].PortOf();
  const auto first = FBoards.begin();
  const auto number = std::count_if(first, first + static_cast<long>(AIndex) + 1,
                                    [&](const TEntry& AEntry) { return AEntry.PortOf() == port; });
  return DumpFileFor(APath, port + (number == 1 ? "" : "-" + std::to_string(number)));
}

void TSimSession::WriteFile(const std::string& AFile, const std::string& AText) {
  std::ofstream out(Utf8ToPath(AFile), std::ios::binary | std::ios::trunc);
  out << AText;
  out.close();
  if (!out) throw std::runtime_error("Cannot write the board memory to " + AFile);
}

void TSimSession::WriteDump() const {
  const auto path = Utf8Environment(kDumpVariable);
  if (!path || path->empty()) return;
  std::lock_guard lock(FBoardsLock);
  for (size_t i = 0; i < FBoards.size(); ++i) {
    const TEntry& entry = FBoards[i];
    const std::string file = FBoards.size() == 1 ? *path : DumpFileLocked(*path, i);
    if (entry.Board) WriteFile(file, entry.Board->DumpTiTxt());
    if (entry.DumpFile.empty() || entry.DumpFile == file) continue;
    // Written when it was unplugged, under a name that is not its own now.
    std::error_code error;
    if (entry.Board)
      std::filesystem::remove(Utf8ToPath(entry.DumpFile), error);
    else
      std::filesystem::rename(Utf8ToPath(entry.DumpFile), Utf8ToPath(file), error);
    if (error) throw std::runtime_error("Cannot write the board memory to " + file + ": " + error.message());
  }
}
