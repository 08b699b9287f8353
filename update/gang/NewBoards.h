// Boards already updated in this run and still plugged in, by device
// identity: a board is taken again only once it was unplugged and
// connected anew. A board is forgotten when a pass finds it gone: its
// number may come back with the next board. Any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>

#include "JvHidControllerClass.h"

class TNewBoards {
 public:
  // The controller's removal handler.
  void Forget(TJvHidDevice* ADevice);
  void MarkDone(uint32_t ADeviceID);
  // The board may be updated again while it stays connected.
  void Again(uint32_t ADeviceID);
  bool Done(TJvHidDevice* ADevice) const;
  // A board under its loader that this run has not updated yet.
  bool IsNew(TJvHidDevice* ADevice) const;

 private:
  mutable std::mutex FLock;
  std::set<uint32_t> FDone;
};

bool IsLoaderBoard(TJvHidDevice* ADevice);
