#include "BoardPorts.h"

#include <algorithm>

namespace update {

std::vector<TBoardSeen> BoardsPresent(TJvHidDeviceController& AController,
                                      const std::function<bool(TJvHidDevice*)>& ATake,
                                      const std::vector<std::string>& APorts) {
  std::vector<TBoardSeen> found;
  TJvHidDevice* none = nullptr;
  AController.CheckOutWhere(none, [&](TJvHidDevice* ADevice) {
    const TJvHidPnPInfo& info = ADevice->PnPInfo();
    const bool wanted = APorts.empty() || std::find(APorts.begin(), APorts.end(), info.FPort) != APorts.end();
    if (ATake(ADevice) && wanted) found.push_back({ADevice, info.FDeviceID, info.FPort});
    return false;
  });
  return found;
}

bool CheckOutSeen(TJvHidDeviceController& AController, const TBoardSeen& ASeen, TJvHidDevice*& ADevice) {
  return AController.CheckOutWhere(ADevice, [&ASeen](TJvHidDevice* AEntry) {
    return AEntry == ASeen.Device && AEntry->PnPInfo().FDeviceID == ASeen.DeviceID &&
           AEntry->PnPInfo().FPort == ASeen.Port;
  });
}

std::mutex& BoardChoiceLock() {
  static std::mutex lock;
  return lock;
}

int ReturnedBoard(const std::vector<TBoardSeen>& AFound, const std::string& APort) {
  if (APort.empty()) return AFound.size() == 1 ? 0 : -1;
  for (size_t i = 0; i < AFound.size(); ++i)
    if (AFound[i].Port == APort) return static_cast<int>(i);
  return -1;
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
