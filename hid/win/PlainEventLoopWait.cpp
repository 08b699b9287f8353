// Waiting of the plain event loop on Windows: the thread's window messages
// (the device notification window lives on it) and an event that Wake()
// sets. Readable descriptors do not exist here.
#include <windows.h>

#include "PlainEventLoop.h"

namespace hid {

struct TPlainEventLoop::TWaiter {
  HANDLE Event = nullptr;
};

TPlainEventLoop::TPlainEventLoop() : FWaiter(std::make_unique<TWaiter>()) {
  FWaiter->Event = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetEventLoop(this);
}

TPlainEventLoop::~TPlainEventLoop() {
  if (EventLoop() == this) SetEventLoop(nullptr);
  if (FWaiter->Event) ::CloseHandle(FWaiter->Event);
}

void TPlainEventLoop::Wake() {
  if (FWaiter->Event) ::SetEvent(FWaiter->Event);
}

void TPlainEventLoop::WaitAndDispatch(uint32_t ATimeoutMs) {
  const DWORD LCount = FWaiter->Event ? 1 : 0;
  ::MsgWaitForMultipleObjectsEx(LCount, &FWaiter->Event, ATimeoutMs, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE | MWMO_ALERTABLE);
  MSG LMessage;
  while (::PeekMessageW(&LMessage, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&LMessage);
    ::DispatchMessageW(&LMessage);
  }
}

}  // namespace hid
