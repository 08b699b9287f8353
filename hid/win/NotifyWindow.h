// The hidden top-level window that receives the system's broadcast of
// WM_DEVICECHANGE / DBT_DEVNODES_CHANGED on the thread that created it.
// Creating it posts the first notification (lParam -1), which runs once
// that thread's message loop runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

namespace hid::win {

class TNotifyWindow {
 public:
  using TNotify = std::function<void(int32_t ALParam)>;
  explicit TNotifyWindow(TNotify ANotify);
  ~TNotifyWindow();  // on the creating thread
  TNotifyWindow(const TNotifyWindow&) = delete;
  TNotifyWindow& operator=(const TNotifyWindow&) = delete;

  HWND Handle() const { return FWindow; }

 private:
  static LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam);
  TNotify FNotify;
  HWND FWindow = nullptr;
};

}  // namespace hid::win
