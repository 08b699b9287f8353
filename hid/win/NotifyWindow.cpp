#include "NotifyWindow.h"

#include <dbt.h>

#include <exception>

#include "HidPlatform.h"

namespace hid::win {
namespace {

constexpr const wchar_t* kClassName = L"KestrovaHidNotifyWindow";
// The HID device-interface class (GUID_DEVINTERFACE_HID).
constexpr GUID kHidInterfaceClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// Posted to the window itself: the first pass, and a pass asked for.
constexpr UINT kFirstPass = WM_APP + 1;
constexpr UINT kPassRequested = WM_APP + 2;
constexpr UINT_PTR kPassTimer = 1;
// lParam of the first pass: it always counts as a change.
constexpr int32_t kFirstPassLParam = -1;
// The shortest time between the beginnings of two passes.
constexpr ULONGLONG kPassSpacingMs = 500;

bool IsDeviceChange(WPARAM AEvent) {
  return AEvent == DBT_DEVNODES_CHANGED || AEvent == DBT_DEVICEARRIVAL || AEvent == DBT_DEVICEREMOVECOMPLETE;
}

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
  DEV_BROADCAST_DEVICEINTERFACE_W LFilter{};
  LFilter.dbcc_size = sizeof LFilter;
  LFilter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  LFilter.dbcc_classguid = kHidInterfaceClass;
  // Without it the broadcast still comes, where there is a desktop.
  FInterfaces = ::RegisterDeviceNotificationW(FWindow, &LFilter, DEVICE_NOTIFY_WINDOW_HANDLE);
  ::PostMessageW(FWindow, kFirstPass, 0, 0);
}

TNotifyWindow::~TNotifyWindow() {
  if (!FWindow) return;
  if (FInterfaces) ::UnregisterDeviceNotification(FInterfaces);
  ::SetWindowLongPtrW(FWindow, GWLP_USERDATA, 0);
  ::DestroyWindow(FWindow);
}

void TNotifyWindow::RequestPass(HWND AWindow) { ::PostMessageW(AWindow, kPassRequested, 0, 0); }

LRESULT CALLBACK TNotifyWindow::WindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam, LPARAM ALParam) {
  auto* LSelf = reinterpret_cast<TNotifyWindow*>(::GetWindowLongPtrW(AWindow, GWLP_USERDATA));
  if (LSelf && LSelf->OnMessage(AMessage, AWParam)) return 0;
  return ::DefWindowProcW(AWindow, AMessage, AWParam, ALParam);
}

// True when the message was the window's own (and is done with).
bool TNotifyWindow::OnMessage(UINT AMessage, WPARAM AWParam) {
  switch (AMessage) {
    case WM_DEVICECHANGE:
      if (IsDeviceChange(AWParam)) MarkDue();
      return false;  // the system gets the default answer
    case kPassRequested:
      MarkDue();
      return true;
    case kFirstPass:
      RunPass(kFirstPassLParam);
      return true;
    case WM_TIMER:
      if (AWParam != kPassTimer) return false;
      ::KillTimer(FWindow, kPassTimer);
      FTimerArmed = false;
      RunPass(0);
      return true;
    default:
      return false;
  }
}

// One pass for every notification and request until it runs, no sooner
// than kPassSpacingMs after the last one began.
void TNotifyWindow::MarkDue() {
  if (FTimerArmed) return;
  const ULONGLONG LSince = ::GetTickCount64() - FLastPass;
  const UINT LDelay = LSince >= kPassSpacingMs ? USER_TIMER_MINIMUM : static_cast<UINT>(kPassSpacingMs - LSince);
  FTimerArmed = ::SetTimer(FWindow, kPassTimer, LDelay, nullptr) != 0;
  if (!FTimerArmed) RunPass(0);  // no timer to be had: better a pass now than none
}

void TNotifyWindow::RunPass(int32_t ALParam) {
  FLastPass = ::GetTickCount64();
  if (!FNotify) return;
  // An error must not unwind through the system's window procedure.
  try {
    FNotify(ALParam);
  } catch (const std::exception& LError) {
    ReportUnhandledError(LError.what());
  } catch (...) {
    ReportUnhandledError("Unknown error");
  }
}

}  // namespace hid::win
