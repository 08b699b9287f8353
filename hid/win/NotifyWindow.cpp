#include "NotifyWindow.h"

#include <dbt.h>

#include <exception>

#include "HidPlatform.h"

namespace hid::win {
namespace {

constexpr const wchar_t* kClassName = L"KestrovaHidNotifyWindow";
// lParam of the first notification: the first pass always counts as a change.
constexpr LPARAM kFirstPassLParam = -1;

}  // namespace

TNotifyWindow::TNotifyWindow(TNotify ANotify) : FNotify(std::move(ANotify)) {
  static const ATOM LClassAtom = [] {
    WNDCLASSW LClass{};
    LClass.lpfnWndProc = &TNotifyWindow::WindowProc;
    LClass.hInstance = ::GetModuleHandleW(nullptr);
    LClass.lpszClassName = kClassName;
    return ::RegisterClassW(&LClass);
  }();
  if (!LClassAtom) return;
  // A top-level window (not message-only): broadcasts reach only those.
  FWindow = ::CreateWindowExW(0, kClassName, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
  if (!FWindow) return;
  ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::PostMessageW(FWindow, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, kFirstPassLParam);
}

TNotifyWindow::~TNotifyWindow() {
  if (!FWindow) return;
  ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
  ::DestroyWindow(FWindow);
}

LRESULT CALLBACK TNotifyWindow::WindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
  auto* LSelf = reinterpret_cast<TNotifyWindow*>(::GetWindowLongPtrW(AWindow, GWLP_USERDATA));
  if (LSelf && AMessage == WM_DEVICECHANGE && AWParam == DBT_DEVNODES_CHANGED && LSelf->FNotify) {
    // An error must not unwind through the system's window procedure.
    try {
      LSelf->FNotify(static_cast<int32_t>(ALParam));
    } catch (const std::exception& LError) {
      ReportUnhandledError(LError.what());
    } catch (...) {
      ReportUnhandledError("Unknown error");
    }
  }
  return ::DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
}

}  // namespace hid::win
