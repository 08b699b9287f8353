// Cost of one log line in the service log window as the log grows, hidden
// and shown, and the cost of saving a long log as RTF.
//
// Every line is followed by one pass of the event loop, as in a firmware
// update where each line is handed over by the waiting worker.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "AppFolder.h"
#include "ufKestrovaLoader_Log.h"

namespace {

constexpr std::array<int, 5> kCheckpoints = {1000, 10000, 50000, 100000, 200000};
// Lines measured just before each checkpoint.
constexpr int kWindow = 1000;

struct TSample {
  std::string text;
  TColor color;
};

// The five lines an update writes per image line: report sent, send
// result, report received, line echo, fast-write address.
std::array<TSample, 5> ImageLineSamples() {
  std::string dump;
  for (int i = 0; i < 64; ++i) dump += "3F ";
  return {{{"Send: " + dump, clBlue},
           {"Send result: OK, 64 bytes", clBlack},
           {"Receive: 3F 02 3B 00 AC AC AC AC AC AC AC AC AC AC AC AC", clGreen},
           {"@4400 21 83 B2 40 80 5A 5C 01 3F 40 00 00 3F 90 00 00 ", clGray},
           {"cmd_WriteHexFast address 0x4400, 16 bytes", clGrayText}}};
}

void RunGrowth(const char* ATitle, bool AShown, int AMaxLines) {
  TfKestrovaLoader_Log w;
  if (AShown) {
    w.show();
    QApplication::processEvents();
  }
  const auto samples = ImageLineSamples();
  std::printf("%s\n", ATitle);
  int line = 1;  // "Application start" is already there
  for (const int checkpoint : kCheckpoints) {
    if (checkpoint > AMaxLines) break;
    const int first = std::max(line, checkpoint - kWindow);
    QElapsedTimer t;
    qint64 appendNs = 0;
    for (; line < checkpoint; ++line) {
      if (line == first) {
        t.start();
        appendNs = 0;
      }
      const TSample& s = samples[static_cast<size_t>(line) % samples.size()];
      QElapsedTimer a;
      a.start();
      w.LogMsg(2, mtDebug, s.text, s.color);
      appendNs += a.nsecsElapsed();
      QApplication::processEvents();
    }
    const double lines = checkpoint - first;
    std::printf("  %7d lines: %8.1f us/line, of which LogMsg %8.1f us\n", checkpoint,
                static_cast<double>(t.nsecsElapsed()) / 1000.0 / lines,
                static_cast<double>(appendNs) / 1000.0 / lines);
    std::fflush(stdout);
  }
  if (!AShown) {
    QElapsedTimer t;
    t.start();
    const QString path = w.SaveLogFile();
    std::printf("  save %d lines as RTF: %.2f s (%s)\n", line,
                static_cast<double>(t.nsecsElapsed()) / 1e9, qPrintable(path));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  SetAppFolderOverride(dir.path());
  // Optional arguments: the number of lines, "hidden" or "shown" alone.
  const int maxLines = argc > 1 ? std::atoi(argv[1]) : kCheckpoints.back();
  const std::string only = argc > 2 ? argv[2] : "";
  if (only != "shown") RunGrowth("Window hidden", false, maxLines);
  if (only != "hidden") RunGrowth("Window shown", true, maxLines);
  return 0;
}
