#include "SimSession.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "HidPlatform.h"
#include "SimEnvironment.h"
#include "Utf8.h"
#include "Utf8Environment.h"

namespace {
constexpr const char* kDumpVariable = "KESTROVA_SIM_DUMP";
constexpr const char* kControlVariable = "KESTROVA_SIM_CONTROL";
}  // namespace

std::unique_ptr<TSimSession> TSimSession::FromEnvironment() {
  const auto list = Utf8Environment(sim::kSimEnvironmentVariable);
  if (!list || list->empty()) return nullptr;
  auto session = FromList(*list);
  if (const auto control = Utf8Environment(kControlVariable); control && !control->empty())
    session->ListenTo(*control);
  return session;
}

std::unique_ptr<TSimSession> TSimSession::FromList(const std::string& AList) {
  std::unique_ptr<TSimSession> session(new TSimSession);
  TSimSession* self = session.get();
  sim::SetSimBoardFactory([self](const std::vector<std::string>& AOptions) {
    auto board = sim::MakeSimBoard(AOptions);
    self->FBoards.push_back(board);
    return board;
  });
  session->FBus = sim::CreateBusFromList(AList);
  sim::SetSimBoardFactory(nullptr);
  if (session->FBus == nullptr) session->FBus = std::make_unique<sim::TSimBus>();  // empty list
  for (const auto& board : session->FBoards) board->SetHomeBus(*session->FBus);
  hid::SetPlatformOverride(session->FBus.get());
  return session;
}

TSimSession::~TSimSession() {
  FControl.reset();  // nothing is plugged or unplugged from here on
  if (FBus != nullptr) hid::SetPlatformOverride(nullptr);
}

std::vector<std::shared_ptr<sim::TSimBoard>> TSimSession::Boards() const {
  std::lock_guard lock(FBoardsLock);
  return FBoards;
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
