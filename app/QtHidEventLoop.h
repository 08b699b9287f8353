// The HID layer's event loop, built on Qt's: notifications and fd watches
// run on the main thread, and an error escaping one of them goes to the
// general error reporting instead of through Qt's event loop.
#pragma once

#include <QObject>

#include "HidPlatform.h"

class TQtHidEventLoop : public QObject, public hid::IHidEventLoop {
  Q_OBJECT

 public:
  TQtHidEventLoop();
  ~TQtHidEventLoop() override;

  void Post(std::function<void()> AFn) override;
  void* WatchReadable(int AFd, std::function<void()> AFn) override;
  void Unwatch(void* AWatch) override;
};
