#include "SimSession.h"

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

void TSimSession::WriteDump() const {
  const auto path = Utf8Environment(kDumpVariable);
  if (!path || path->empty() || FBoards.empty()) return;
  std::ofstream out(Utf8ToPath(*path), std::ios::binary | std::ios::trunc);
  out << FBoards.front()->DumpTiTxt();
  out.close();
  if (!out) throw std::runtime_error("Cannot write the board memory to " + *path);
}
