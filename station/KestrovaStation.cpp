// The production station's window: kestrova-station [FILE]. Without FILE it
// runs the station file it last ran, or asks for one.
#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

#include "StationFileChoice.h"
#include "StationWindow.h"

namespace {

// The window was closed; the station had run.
constexpr int kExitClosed = 0;
// No station file: none given, none remembered, and the dialog cancelled.
constexpr int kExitNoFile = 1;
// Bad arguments, or the station file was refused at the start and never
// read since (nothing was sent to a board).
constexpr int kExitRefused = 2;

const char* const kUsage = "usage: kestrova-station [FILE]\n";

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrova-station"));
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (arguments.size() > 1 || (!arguments.isEmpty() && arguments.first().startsWith(QLatin1Char('-')))) {
    std::fputs(kUsage, stderr);
    return kExitRefused;
  }
  const std::optional<QString> file = ChooseStationFile(arguments);
  if (!file) return kExitNoFile;
  TStationSetup setup;
  setup.File = file->toStdString();
  TStationWindow window(std::move(setup));
  window.show();
  QApplication::exec();
  return window.StationStarted() ? kExitClosed : kExitRefused;
}
