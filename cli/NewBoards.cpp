#include "NewBoards.h"

#include <mutex>
#include <set>

#include "BoardIds.h"
#include "UpdateEngine.h"

namespace {

std::mutex GDoneLock;
std::set<uint32_t> GDoneBoards;

bool IsDone(TJvHidDevice* ADevice) {
  std::lock_guard<std::mutex> lock(GDoneLock);
  return GDoneBoards.count(ADevice->PnPInfo().FDeviceID) != 0;
}

}  // namespace

void ForgetAllBoards() {
  std::lock_guard<std::mutex> lock(GDoneLock);
  GDoneBoards.clear();
}

void ForgetBoard(TJvHidDevice* ADevice) {
  std::lock_guard<std::mutex> lock(GDoneLock);
  GDoneBoards.erase(ADevice->PnPInfo().FDeviceID);
}

void MarkBoardDone(uint32_t ADeviceID) {
  std::lock_guard<std::mutex> lock(GDoneLock);
  GDoneBoards.insert(ADeviceID);
}

bool IsLoaderBoard(TJvHidDevice* ADevice) {
  const hid::THidAttributes& a = ADevice->Attributes();
  return IsBslBoard(a.VendorID, a.ProductID);
}

bool FindNewBoard(TJvHidDevice* ADevice) { return update::FindMyDevice(ADevice) && !IsDone(ADevice); }
bool FindNewBoardQuietly(TJvHidDevice* ADevice) { return IsLoaderBoard(ADevice) && !IsDone(ADevice); }
