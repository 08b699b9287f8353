#include "NewBoards.h"

#include "BoardIds.h"

void TNewBoards::Forget(TJvHidDevice* ADevice) {
  std::lock_guard<std::mutex> lock(FLock);
  FDone.erase(ADevice->PnPInfo().FDeviceID);
}

void TNewBoards::MarkDone(uint32_t ADeviceID) {
  std::lock_guard<std::mutex> lock(FLock);
  FDone.insert(ADeviceID);
}

void TNewBoards::Again(uint32_t ADeviceID) {
  std::lock_guard<std::mutex> lock(FLock);
  FDone.erase(ADeviceID);
}

bool TNewBoards::Done(TJvHidDevice* ADevice) const {
  std::lock_guard<std::mutex> lock(FLock);
  return FDone.count(ADevice->PnPInfo().FDeviceID) != 0;
}

bool TNewBoards::IsNew(TJvHidDevice* ADevice) const { return IsLoaderBoard(ADevice) && !Done(ADevice); }

bool IsLoaderBoard(TJvHidDevice* ADevice) {
  const hid::THidAttributes& a = ADevice->Attributes();
  return IsBslBoard(a.VendorID, a.ProductID);
}
