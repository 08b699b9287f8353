#include "ChangeWatch.h"

namespace hid {

void TChangeWatch::Post(int32_t ALParam) {
  IHidEventLoop* LLoop = EventLoop();
  if (!LLoop) return;
  LLoop->Post([LSelf = shared_from_this(), ALParam] { LSelf->Notify(ALParam); });
}

void TChangeWatch::Request() {
  IHidEventLoop* LLoop = EventLoop();
  if (!LLoop || FRequested.exchange(true)) return;
  LLoop->Post([LSelf = shared_from_this()] {
    LSelf->FRequested = false;  // a request from now on needs a pass of its own
    LSelf->Notify(0);
  });
}

void TChangeWatch::Notify(int32_t ALParam) {
  TChangeNotify LNotify;
  {
    std::lock_guard<std::mutex> LGuard(FLock);
    LNotify = FNotify;
  }
  if (LNotify) LNotify(ALParam);
}

void TChangeWatch::End() {
  std::lock_guard<std::mutex> LGuard(FLock);
  FNotify = nullptr;
}

}  // namespace hid
