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
