#include "QtHidEventLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>

#include "ErrorReport.h"

TQtHidEventLoop::TQtHidEventLoop() {
  // Lives on the main thread, so posted work runs there.
  if (QCoreApplication::instance() != nullptr) moveToThread(QCoreApplication::instance()->thread());
}

TQtHidEventLoop::~TQtHidEventLoop() = default;

void TQtHidEventLoop::Post(std::function<void()> AFn) {
  QMetaObject::invokeMethod(this, [fn = std::move(AFn)] { GuardStep(fn); }, Qt::QueuedConnection);
}

void* TQtHidEventLoop::WatchReadable(int AFd, std::function<void()> AFn) {
  auto* notifier = new QSocketNotifier(AFd, QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [fn = std::move(AFn)] { GuardStep(fn); });
  return notifier;
}

void TQtHidEventLoop::Unwatch(void* AWatch) {
  auto* notifier = static_cast<QSocketNotifier*>(AWatch);
  if (notifier == nullptr) return;
  notifier->setEnabled(false);
  notifier->deleteLater();
}
