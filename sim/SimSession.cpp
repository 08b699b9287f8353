#include "SimSession.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "HidPlatform.h"
#include "SimEnvironment.h"
#include "Utf8.h"
#include "Utf8Environment.h"

namespace {
constexpr const char* kDumpVariable = "KESTROVA_SIM_DUMP";
}

std::unique_ptr<TSimSession> TSimSession::FromEnvironment() {
  const auto list = Utf8Environment(sim::kSimEnvironmentVariable);
  if (!list || list->empty()) return nullptr;
  return FromList(*list);
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
  hid::SetPlatformOverride(session->FBus.get());
  return session;
}

TSimSession::~TSimSession() {
  if (FBus != nullptr) hid::SetPlatformOverride(nullptr);
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
  for (const auto& board : FBoards) {
    // One board keeps the name as given; several get one file each.
    const std::string file = FBoards.size() == 1 ? *path : DumpFileFor(*path, board->Port);
    std::ofstream out(Utf8ToPath(file), std::ios::binary | std::ios::trunc);
    out << board->DumpTiTxt();
    out.close();
    if (!out) throw std::runtime_error("Cannot write the board memory to " + file);
  }
}
