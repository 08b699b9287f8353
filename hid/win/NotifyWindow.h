// The hidden top-level window that receives the system's device
// notifications on the thread that created it: arrivals and removals of
// HID interfaces (it registers for the HID interface class) and the
// broadcast that some device node changed. A notification only marks that
// a pass is due; the pass runs later from the window's timer, off the
// system's call, and however many notifications a burst brings, passes
// come at most one per 500 ms. RequestPass does the same from any thread.
// Creating the window posts the first pass (lParam -1), which runs once
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

  // Any thread: a pass soon, on the thread of the window AWindow.
  static void RequestPass(HWND AWindow);
  HWND Handle() const { return FWindow; }

 private:
  static LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam);
  bool OnMessage(UINT AMessage, WPARAM AWParam);
  void MarkDue();
  void RunPass(int32_t ALParam);

  TNotify FNotify;
  HWND FWindow = nullptr;
  HDEVNOTIFY FInterfaces = nullptr;
  // The window's thread only.
  bool FTimerArmed = false;
  ULONGLONG FLastPass = 0;  // GetTickCount64 when the last pass began
};

}  // namespace hid::win
