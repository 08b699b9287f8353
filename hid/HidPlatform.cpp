// Process-wide settings of the HID layer: the event loop that delivers
// notifications, and where errors that escape a notification go.
#include "HidPlatform.h"

#include <atomic>
#include <iostream>
#include <mutex>

#include "ThreadLocals.h"

namespace hid {
namespace {

std::atomic<IHidEventLoop*> GEventLoop{nullptr};

std::mutex GErrorHandlerLock;
TUnhandledErrorHandler GErrorHandler;

thread_local TSystemError GLastError;
const TThreadLocalsSafe kThreadLocalsSafe;

}  // namespace

void SetLastSystemError(uint32_t ACode, std::string AText) {
  GLastError.Code = ACode;
  GLastError.Text = std::move(AText);
}

TSystemError LastSystemError() { return GLastError; }

void SetEventLoop(IHidEventLoop* ALoop) { GEventLoop.store(ALoop); }

IHidEventLoop* EventLoop() { return GEventLoop.load(); }

void SetUnhandledErrorHandler(TUnhandledErrorHandler AHandler) {
  std::lock_guard<std::mutex> LGuard(GErrorHandlerLock);
  GErrorHandler = std::move(AHandler);
}

void ReportUnhandledError(const std::string& AMessage) {
  TUnhandledErrorHandler LHandler;
  {
    std::lock_guard<std::mutex> LGuard(GErrorHandlerLock);
    LHandler = GErrorHandler;
  }
  if (LHandler) {
    LHandler(AMessage);
  } else {
    std::cerr << "Unhandled HID error: " << AMessage << std::endl;
  }
}

}  // namespace hid
