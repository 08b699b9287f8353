#include "KestrovaApplication.h"

#include "ErrorReport.h"

#include <exception>

TKestrovaApplication::TKestrovaApplication(int& argc, char** argv)
    : QApplication(argc, argv) {}

bool TKestrovaApplication::notify(QObject* AReceiver, QEvent* AEvent) {
  try {
    return QApplication::notify(AReceiver, AEvent);
  } catch (const std::exception& e) {
    ReportError(e.what());
  } catch (...) {
    ReportError("Unknown error");
  }
  return false;  // the event counts as not handled
}
