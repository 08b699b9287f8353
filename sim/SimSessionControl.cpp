#include "SimSessionControl.h"

#include <filesystem>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "SimEnvironment.h"
#include "Utf8.h"
#include "Utf8Environment.h"

namespace {

constexpr const char* kControlName = "KESTROVA_SIM_CONTROL";
constexpr const char* kCommands = "unplug PORT, plug PORT, plug board[:OPTIONS]";

// One line on standard error, written whole even when other threads write.
void Complain(const std::string& AText) {
  const std::string line = std::string(kControlName) + ": " + AText + "\n";
  std::cerr.write(line.data(), static_cast<std::streamsize>(line.size()));
  std::cerr.flush();
}

// A line as the complaint quotes it: a long one cut short.
std::string Quoted(const std::string& ALine) {
  constexpr size_t kShown = 100;
  return "\"" + (ALine.size() > kShown ? ALine.substr(0, kShown) + "..." : ALine) + "\"";
}

bool IsBoardItem(const std::string& AWord) { return AWord == "board" || AWord.rfind("board:", 0) == 0; }

// A device of KESTROVA_SIM other than a board, not a port.
bool IsOtherItem(const std::string& AWord) {
  const std::string name = AWord.substr(0, AWord.find(':'));
  return name == "keyboard" || name == "mouse" || name == "hub";
}

// The hub that APort is one of the ports of; null for a port of the bus.
std::shared_ptr<sim::TSimHub> HubOf(const sim::TSimBus& ABus, const std::string& APort) {
  for (const auto& hub : ABus.Hubs()) {
    const std::string prefix = hub->Port() + ".";
    if (APort.rfind(prefix, 0) == 0 && APort.find('.', prefix.size()) == std::string::npos) return hub;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<TSimSessionControl> TSimSessionControl::FromEnvironment(TSimSession& ASession) {
  const auto path = Utf8Environment(kControlName);
  if (!path || path->empty()) return nullptr;
  auto control = std::make_unique<TSimSessionControl>(ASession);
  control->ListenTo(*path);
  return control;
}

std::string TSimSessionControl::Apply(const std::string& ALine) {
  std::istringstream words(ALine);
  std::string verb, what, more;
  words >> verb >> what >> more;
  if (verb.empty() || verb.front() == '#') return {};
  if (what.empty() || !more.empty() || (verb != "plug" && verb != "unplug"))
    return std::string("not a command (the commands: ") + kCommands + ")";
  if (verb == "unplug") return Unplug(what);
  if (IsOtherItem(what)) return "only a board can be plugged in (plug board[:OPTIONS])";
  return IsBoardItem(what) ? PlugNew(what) : PlugBack(what);
}

std::string TSimSessionControl::Unplug(const std::string& APort) {
  if (!FSession.HasBeenOn(APort)) return "no board has been on port " + APort;
  const auto board = FSession.LastBoardOn(APort);
  if (!board || !board->Unplug()) return "the board on port " + APort + " is unplugged already";
  FSession.Unplugged(board);
  return {};
}

std::string TSimSessionControl::PlugBack(const std::string& APort) {
  if (!FSession.HasBeenOn(APort))
    return "no board has been on port " + APort + " (\"plug board:port=" + APort + "\" plugs in a new one)";
  if (FSession.PlugBack(APort)) return {};
  const auto board = FSession.LastBoardOn(APort);
  if (!board || !board->Replug()) return "the board on port " + APort + " is plugged in already";
  return {};
}

std::string TSimSessionControl::PlugNew(const std::string& AItem) {
  const std::vector<sim::TSimDeviceSpec> devices = sim::ParseSimDeviceList(AItem);
  std::shared_ptr<sim::TSimBoard> board = sim::MakeSimBoard(devices.front().Options);  // throws on a bad option
  if (!board->Port.empty()) {
    if (std::string taken = PortTaken(board->Port); !taken.empty()) return taken;
    board->Hub = HubOf(FSession.Bus(), board->Port);
  }
  FSession.PlugIn(board);
  return {};
}

std::string TSimSessionControl::PortTaken(const std::string& APort) const {
  for (const auto& hub : FSession.Bus().Hubs())
    if (hub->Port() == APort) return "port " + APort + " holds a hub";
  const auto board = FSession.LastBoardOn(APort);
  bool plugged = board && board->CableIn();
  for (const auto& device : FSession.Bus().Devices()) plugged = plugged || device->Port == APort;
  return plugged ? "port " + APort + " has a device plugged in already: unplug it first" : std::string();
}

void TSimSessionControl::ListenTo(const std::string& APath) {
  std::unique_ptr<sim::IControlSource> source;
  try {
    source = sim::OpenControlSource(APath);
  } catch (const std::exception& e) {
    Complain(std::string(e.what()) + ": no board can be unplugged or plugged in by hand in this run");
    return;
  }
  if (std::error_code error; !std::filesystem::exists(Utf8ToPath(APath), error))
    Complain("\"" + APath + "\" does not exist yet: the lines written to it once it does are read");
  FControl = std::make_unique<sim::TSimControl>(std::move(source), [this](const std::string& ALine) {
    std::string wrong;
    try {
      wrong = Apply(ALine);
    } catch (const std::exception& e) {
      wrong = e.what();
    }
    if (!wrong.empty()) Complain(Quoted(ALine) + ": " + wrong + "; the line is ignored");
  });
}
