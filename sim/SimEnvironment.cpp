#include "SimEnvironment.h"

#include <set>
#include <stdexcept>

#include "SimDevices.h"
#include "Utf8Environment.h"

namespace sim {
namespace {

std::string Trim(const std::string& AText) {
  const char* kBlanks = " \t\r\n";
  const size_t LFirst = AText.find_first_not_of(kBlanks);
  if (LFirst == std::string::npos) return {};
  return AText.substr(LFirst, AText.find_last_not_of(kBlanks) - LFirst + 1);
}

std::vector<std::string> Split(const std::string& AText, char ASeparator) {
  std::vector<std::string> LParts;
  size_t LStart = 0;
  for (;;) {
    const size_t LEnd = AText.find(ASeparator, LStart);
    LParts.push_back(Trim(AText.substr(LStart, LEnd - LStart)));
    if (LEnd == std::string::npos) return LParts;
    LStart = LEnd + 1;
  }
}

// The value of "firmware=" is a path and may hold colons ("C:\\images\\old.txt"):
// it takes the rest of the item, so it comes last.
std::vector<std::string> JoinPathOption(std::vector<std::string> AParts) {
  for (size_t i = 1; i < AParts.size(); ++i) {
    if (AParts[i].rfind("firmware=", 0) != 0) continue;
    for (size_t j = i + 1; j < AParts.size(); ++j) AParts[i] += ":" + AParts[j];
    AParts.resize(i + 1);
    break;
  }
  return AParts;
}

std::invalid_argument Refused(const std::string& AWhat) {
  return std::invalid_argument(std::string(kSimEnvironmentVariable) + ": " + AWhat);
}

// The hub's one option: the kind of its transaction translator.
TSimHubKind HubKind(const TSimDeviceSpec& ASpec) {
  if (ASpec.Options.empty() || ASpec.Options == std::vector<std::string>{"multi-tt"}) return TSimHubKind::MultiTT;
  if (ASpec.Options == std::vector<std::string>{"single-tt"}) return TSimHubKind::SingleTT;
  throw Refused("\"hub:" + ASpec.Options.front() + "\": a hub is \"hub\", \"hub:multi-tt\" or \"hub:single-tt\"");
}

TSimDeviceSpec ParseItem(const std::string& AItem) {
  std::vector<std::string> LParts = JoinPathOption(Split(AItem, ':'));
  TSimDeviceSpec LSpec;
  LSpec.Name = LParts.front();
  LSpec.Options.assign(LParts.begin() + 1, LParts.end());
  const bool LKnown =
      LSpec.Name == "board" || LSpec.Name == "keyboard" || LSpec.Name == "mouse" || LSpec.Name == "hub";
  if (!LKnown) throw Refused("unknown device \"" + LSpec.Name + "\" (known: board, keyboard, mouse, hub)");
  if ((LSpec.Name == "keyboard" || LSpec.Name == "mouse") && !LSpec.Options.empty())
    throw Refused("\"" + AItem + "\": only the board and the hub take options");
  if (LSpec.Name == "hub") HubKind(LSpec);
  return LSpec;
}

std::shared_ptr<TSimDevice> MakeFromSpec(const TSimDeviceSpec& ASpec, const TSimBoardFactory& AFactory) {
  if (ASpec.Name == "keyboard") return MakeSimKeyboard();
  if (ASpec.Name == "mouse") return MakeSimMouse();
  return AFactory ? AFactory(ASpec.Options) : MakePlainSimBoard();
}

// The ports the devices name: the bus gives them to nobody else. Two
// devices cannot be plugged into one port.
void ReserveNamedPorts(const std::vector<std::shared_ptr<TSimDevice>>& ADevices, TSimBus& ABus) {
  std::set<std::string> LPorts;
  for (const auto& LDevice : ADevices) {
    if (!LDevice || LDevice->Port.empty()) continue;
    if (!LPorts.insert(LDevice->Port).second) throw Refused("two devices on port " + LDevice->Port);
    ABus.ReservePort(LDevice->Port);
  }
}

}  // namespace

std::vector<TSimDeviceSpec> ParseSimDeviceList(const std::string& AText) {
  std::vector<TSimDeviceSpec> LSpecs;
  for (const std::string& LItem : Split(AText, ',')) {
    if (LItem.empty()) continue;  // "board," or a doubled comma
    LSpecs.push_back(ParseItem(LItem));
  }
  return LSpecs;
}

std::unique_ptr<TSimBus> CreateBusFromList(const std::string& AText, const TSimBoardFactory& AFactory) {
  std::vector<TSimDeviceSpec> LSpecs = ParseSimDeviceList(AText);
  std::vector<std::shared_ptr<TSimDevice>> LDevices;  // null for a hub
  for (const TSimDeviceSpec& LSpec : LSpecs)
    LDevices.push_back(LSpec.Name == "hub" ? nullptr : MakeFromSpec(LSpec, AFactory));
  auto LBus = std::make_unique<TSimBus>();
  ReserveNamedPorts(LDevices, *LBus);
  // Devices listed after a hub are plugged into it; the other ports go to
  // the hubs and the devices in list order.
  std::shared_ptr<TSimHub> LHub;
  for (size_t i = 0; i < LSpecs.size(); ++i) {
    if (!LDevices[i]) {
      LHub = LBus->AddHub(HubKind(LSpecs[i]));
      continue;
    }
    LDevices[i]->Hub = LHub;
    LBus->Plug(LDevices[i]);
  }
  return LBus;
}

std::unique_ptr<TSimBus> CreateBusFromEnvironment(const TSimBoardFactory& AFactory) {
  const auto LValue = Utf8Environment(kSimEnvironmentVariable);
  if (!LValue || Trim(*LValue).empty()) return nullptr;
  return CreateBusFromList(*LValue, AFactory);
}

}  // namespace sim
