// The application object: every error that escapes an event handler is
// handed to the general error reporting, and the event loop goes on with
// the next event.
#pragma once

#include <QApplication>

class TKestrovaApplication : public QApplication {
 public:
  TKestrovaApplication(int& argc, char** argv);
  bool notify(QObject* AReceiver, QEvent* AEvent) override;
};
