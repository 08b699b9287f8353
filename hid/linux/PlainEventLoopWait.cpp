// Waiting of the plain event loop on Linux: poll() on the watched
// descriptors and on a pipe that Wake() writes to.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <vector>

#include "PlainEventLoop.h"

namespace hid {

struct TPlainEventLoop::TWaiter {
  int Read = -1;
  int Write = -1;
};

TPlainEventLoop::TPlainEventLoop() : FWaiter(std::make_unique<TWaiter>()) {
  int LPipe[2];
  if (::pipe2(LPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    FWaiter->Read = LPipe[0];
    FWaiter->Write = LPipe[1];
  }
  SetEventLoop(this);
}

TPlainEventLoop::~TPlainEventLoop() {
  if (EventLoop() == this) SetEventLoop(nullptr);
  if (FWaiter->Read >= 0) ::close(FWaiter->Read);
  if (FWaiter->Write >= 0) ::close(FWaiter->Write);
}

void TPlainEventLoop::Wake() {
  const char LByte = 1;
  if (FWaiter->Write >= 0) (void)!::write(FWaiter->Write, &LByte, 1);  // a full pipe wakes as well
}

void TPlainEventLoop::WaitAndDispatch(uint32_t ATimeoutMs) {
  std::vector<pollfd> LFds;
  LFds.push_back({FWaiter->Read, POLLIN, 0});
  std::vector<TWatch*> LWatches;
  for (TWatch& LWatch : FWatches) {
    LFds.push_back({LWatch.Fd, POLLIN, 0});
    LWatches.push_back(&LWatch);
  }
  if (::poll(LFds.data(), LFds.size(), static_cast<int>(ATimeoutMs)) <= 0) return;
  if (LFds[0].revents != 0) {
    char LDrain[64];
    while (::read(FWaiter->Read, LDrain, sizeof LDrain) > 0) {
    }
  }
  for (size_t i = 1; i < LFds.size(); ++i) {
    if ((LFds[i].revents & POLLIN) == 0) continue;
    // A callback may unwatch: look the watch up again before calling it.
    for (TWatch& LWatch : FWatches)
      if (&LWatch == LWatches[i - 1]) {
        Guarded(LWatch.Fn);
        break;
      }
  }
}

}  // namespace hid
