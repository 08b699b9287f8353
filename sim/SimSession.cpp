#include "SimSession.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "HidPlatform.h"
#include "SimEnvironment.h"

namespace {
constexpr const char* kDumpVariable = "KESTROVA_SIM_DUMP";
}

std::unique_ptr<TSimSession> TSimSession::FromEnvironment() {
  const char* list = std::getenv(sim::kSimEnvironmentVariable);
  if (list == nullptr || *list == '\0') return nullptr;
  return FromList(list);
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

void TSimSession::WriteDump() const {
  const char* path = std::getenv(kDumpVariable);
  if (path == nullptr || *path == '\0' || FBoards.empty()) return;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << FBoards.front()->DumpTiTxt();
  out.close();
  if (!out) throw std::runtime_error(std::string("Cannot write the board memory to ") + path);
}
