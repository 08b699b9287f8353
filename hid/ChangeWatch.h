// The receiver of one controller's device-change notifications for the
// backends that deliver them through the HID layer's event loop (Linux, the
// simulated bus). Notifications still on their way when the watch ends find
// nobody.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "HidPlatform.h"

namespace hid {

class TChangeWatch : public std::enable_shared_from_this<TChangeWatch> {
 public:
  explicit TChangeWatch(TChangeNotify ANotify) : FNotify(std::move(ANotify)) {}

  // Any thread: the notification with ALParam, later on the loop's thread.
  void Post(int32_t ALParam);
  // Any thread: one notification (lParam 0), unless one asked for earlier
  // has not run yet; requests that come meanwhile merge into it.
  void Request();
  // On the loop's thread: the notification now.
  void Notify(int32_t ALParam);
  // No notification runs after this returns (other than one running now).
  void End();

 private:
  std::mutex FLock;
  TChangeNotify FNotify;
  std::atomic<bool> FRequested{false};
};

}  // namespace hid
