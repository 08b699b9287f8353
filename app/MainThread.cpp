#include "MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

namespace {

std::atomic<bool> gGateClosed{false};

[[noreturn]] void Park() {
  // The process is ending; this thread must not touch anything any more.
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

bool IsMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void RunOnMainThread(const std::function<void()>& ABody) {
  if (IsMainThread()) {
    ABody();
    return;
  }
  if (gGateClosed.load()) Park();
  // An error raised by the body belongs to the caller: carry it back.
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [&ABody, &error] {
        if (gGateClosed.load()) return;
        try {
          ABody();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (gGateClosed.load()) Park();
  if (error) std::rethrow_exception(error);
}

void CloseMainThreadGate() { gGateClosed.store(true); }

bool MainThreadGateClosed() { return gGateClosed.load(); }
