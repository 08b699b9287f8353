#include "BoardPorts.h"

#include <algorithm>

namespace update {

TBoardPorts::TBoardPorts(std::shared_ptr<TJvHidDeviceController> AController) : FController(std::move(AController)) {}

std::vector<TBoardSeen> TBoardPorts::Present(const TBoardTest& ATake, const std::vector<std::string>& APorts) {
  std::lock_guard<std::mutex> lock(FLock);
  return PresentLocked(ATake, APorts);
}

std::vector<TBoardSeen> TBoardPorts::PresentLocked(const TBoardTest& ATake, const std::vector<std::string>& APorts) {
  std::vector<TBoardSeen> found;
  TJvHidDevice* none = nullptr;
  FController->CheckOutWhere(none, [&](TJvHidDevice* ADevice) {
    const TJvHidPnPInfo& info = ADevice->PnPInfo();
    const bool wanted = APorts.empty() || std::find(APorts.begin(), APorts.end(), info.FPort) != APorts.end();
    if (ATake(ADevice) && wanted) found.push_back({ADevice, info.FDeviceID, info.FPort});
    return false;
  });
  return found;
}

TJvHidDevice* TBoardPorts::Take(const TBoardTest& ATake, const std::string& APort, std::vector<TBoardSeen>& AFound) {
  std::lock_guard<std::mutex> lock(FLock);
  AFound = PresentLocked(ATake, APort.empty() ? std::vector<std::string>{} : std::vector<std::string>{APort});
  if (AFound.empty() || (APort.empty() && AFound.size() > 1)) return nullptr;
  const TBoardSeen& seen = AFound.front();
  TJvHidDevice* device = nullptr;
  FController->CheckOutWhere(device, [&seen](TJvHidDevice* AEntry) {
    return AEntry == seen.Device && AEntry->PnPInfo().FDeviceID == seen.DeviceID &&
           AEntry->PnPInfo().FPort == seen.Port;
  });
  return device;
}

std::vector<std::string> PortsOf(const std::vector<TBoardSeen>& ABoards) {
  std::vector<std::string> ports;
  for (const TBoardSeen& board : ABoards) ports.push_back(board.Port);
  return ports;
}

std::string PortText(const std::string& APort) { return APort.empty() ? "port unknown" : APort; }

namespace {

// The value of the location step AStep named AName ("USB(3)": "3"); empty
// when the step has another name or no value.
std::string StepValue(const std::string& AStep, const std::string& AName) {
  const size_t open = AName.size();
  if (AStep.size() <= open + 1 || AStep.compare(0, open, AName) != 0 || AStep[open] != '(' || AStep.back() != ')')
    return {};
  return AStep.substr(open + 1, AStep.size() - open - 2);
}

bool AllOf(const std::string& AText, const char* AChars) {
  return !AText.empty() && AText.find_first_not_of(AChars) == std::string::npos;
}

// "1400" (device 14h, function 0) as "14.0"; empty when it is not that.
std::string PciFunction(const std::string& AValue) {
  if (AValue.size() != 4 || !AllOf(AValue, "0123456789ABCDEFabcdef")) return {};
  return AValue.substr(0, 2) + "." + std::to_string(std::stoi(AValue.substr(2), nullptr, 16));
}

std::vector<std::string> Steps(const std::string& APath) {
  std::vector<std::string> steps;
  for (size_t from = 0;;) {
    const size_t hash = APath.find('#', from);
    steps.push_back(APath.substr(from, hash - from));
    if (hash == std::string::npos) return steps;
    from = hash + 1;
  }
}

}  // namespace

// PCIROOT(r)#PCI(ddff)...#USBROOT(0)#USB(p)...: "r:" unless r is 0, the
// PCI functions between "/", "-", the USB ports between ".".
std::string PortShortText(const std::string& APort) {
  const std::vector<std::string> steps = Steps(APort);
  size_t at = 0;
  const std::string root = StepValue(steps[at++], "PCIROOT");
  if (!AllOf(root, "0123456789")) return PortText(APort);
  std::string text = root == "0" ? "" : root + ":";
  for (std::string pci; at < steps.size() && !(pci = PciFunction(StepValue(steps[at], "PCI"))).empty(); ++at)
    text += (at > 1 ? "/" : "") + pci;
  if (at == 1 || at >= steps.size() || StepValue(steps[at++], "USBROOT") != "0" || at == steps.size())
    return PortText(APort);
  for (const char* separator = "-"; at < steps.size(); ++at, separator = ".") {
    const std::string port = StepValue(steps[at], "USB");
    if (!AllOf(port, "0123456789")) return PortText(APort);
    text += separator + port;
  }
  return text;
}

std::string PortList(std::vector<std::string> APorts) {
  std::sort(APorts.begin(), APorts.end());
  std::string text;
  for (size_t i = 0; i < APorts.size(); ++i) {
    if (i > 0) text += i + 1 == APorts.size() ? " and " : ", ";
    text += PortText(APorts[i]);
  }
  return text;
}

std::string SeveralBoardsText(const std::vector<std::string>& APorts) {
  return std::to_string(APorts.size()) + " boards are connected under their loader (" + PortList(APorts) +
         "), and the update takes one board";
}

}  // namespace update
