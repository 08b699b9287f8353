#include "MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// A worker waits this long on the CPU before it sleeps: most hand-overs
// (a log line) finish well within it, and a sleeping worker costs two
// thread wake-ups per call, which a long update pays hundreds of thousands
// of times.
constexpr auto kSpinBeforeSleeping = std::chrono::microseconds(300);

std::atomic<bool> gGateClosed{false};

[[noreturn]] void Park() {
  // The process is ending; this thread must not touch anything any more.
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// One call handed to the main thread, shared by the caller and the queued
// closure (which may outlive the caller's wait only when the process ends).
struct THandOver {
  std::atomic<bool> Done{false};
  std::mutex Lock;
  std::condition_variable Ran;
  std::exception_ptr Error;

  void Finish() {
    {
      std::lock_guard<std::mutex> guard(Lock);
      Done.store(true, std::memory_order_release);
    }
    Ran.notify_one();
  }
  void Wait() {
    const auto spinUntil = std::chrono::steady_clock::now() + kSpinBeforeSleeping;
    while (!Done.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < spinUntil)
      std::this_thread::yield();
    std::unique_lock<std::mutex> guard(Lock);
    Ran.wait(guard, [this] { return Done.load(std::memory_order_acquire); });
  }
};

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
  auto handOver = std::make_shared<THandOver>();
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [handOver, &ABody] {
        if (!gGateClosed.load()) {
          // An error raised by the body belongs to the caller: carry it back.
          try {
            ABody();
          } catch (...) {
            handOver->Error = std::current_exception();
          }
        }
        handOver->Finish();
      },
      Qt::QueuedConnection);
  handOver->Wait();
  if (gGateClosed.load()) Park();
  if (handOver->Error) std::rethrow_exception(handOver->Error);
}

void CloseMainThreadGate() { gGateClosed.store(true); }

bool MainThreadGateClosed() { return gGateClosed.load(); }
