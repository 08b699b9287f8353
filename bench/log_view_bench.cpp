// Cost of one log line in the service log window as the log grows, hidden
// and shown, and the cost of saving a long log as RTF.
//
// Every line is followed by one pass of the event loop, as in a firmware
// update where each line is handed over by the waiting worker.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "QtPath.h"
#include "StationFiles.h"
#include "ufKestrovaLoader_Log.h"

namespace {

constexpr std::array<int, 5> kCheckpoints = {1000, 10000, 50000, 100000, 200000};
// Lines measured just before each checkpoint, in chunks.
constexpr int kWindow = 2000;
constexpr int kChunk = 100;

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

double Median(std::vector<double> AValues) {
  std::sort(AValues.begin(), AValues.end());
  return AValues[AValues.size() / 2];
}

void AppendOne(TfKestrovaLoader_Log& w, int ALine) {
  static const auto samples = ImageLineSamples();
  const TSample& s = samples[static_cast<size_t>(ALine) % samples.size()];
  w.LogMsg(2, mtDebug, s.text, s.color);
  QApplication::processEvents();
}

// Mean over the whole window (the periodic refresh included) and the
// median of its chunks (less disturbed by other processes on the machine).
void MeasureWindow(TfKestrovaLoader_Log& w, int& ALine, int ACheckpoint) {
  const int first = std::max(ALine, ACheckpoint - kWindow);
  for (; ALine < first; ++ALine) AppendOne(w, ALine);
  std::vector<double> chunks;
  QElapsedTimer total;
  total.start();
  while (ALine < ACheckpoint) {
    const int end = std::min(ALine + kChunk, ACheckpoint);
    const int count = end - ALine;
    QElapsedTimer t;
    t.start();
    for (; ALine < end; ++ALine) AppendOne(w, ALine);
    chunks.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0 / count);
  }
  std::printf("  %7d lines: mean %6.1f us/line, median of %zu chunks %6.1f us/line\n",
              ACheckpoint,
              static_cast<double>(total.nsecsElapsed()) / 1000.0 / (ACheckpoint - first),
              chunks.size(), Median(chunks));
  std::fflush(stdout);
}

void RunGrowth(const char* ATitle, bool AShown, int AMaxLines) {
  TfKestrovaLoader_Log w;
  if (AShown) {
    w.show();
    QApplication::processEvents();
  }
  std::printf("%s\n", ATitle);
  int line = 2;  // "Application start" and the version are already there
  for (const int checkpoint : kCheckpoints) {
    if (checkpoint > AMaxLines) break;
    MeasureWindow(w, line, checkpoint);
  }
  if (!AShown) {
    QElapsedTimer t;
    t.start();
    const QString path = w.SaveLogFile();
    std::printf("  save %d lines as RTF: %.2f s, %lld bytes\n", line,
                static_cast<double>(t.nsecsElapsed()) / 1e9, QFileInfo(path).size());
    t.restart();
    w.show();
    QApplication::processEvents();
    std::printf("  show the window after %d hidden lines: %.0f ms\n", line,
                static_cast<double>(t.nsecsElapsed()) / 1e6);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QTemporaryDir dir;
  station::SetFolderOverride(FsPath(dir.path()));
  // Optional arguments: the number of lines, "hidden" or "shown" alone.
  const int maxLines = argc > 1 ? std::atoi(argv[1]) : kCheckpoints.back();
  const std::string only = argc > 2 ? argv[2] : "";
  if (only != "shown") RunGrowth("Window hidden", false, maxLines);
  if (only != "hidden") RunGrowth("Window shown", true, maxLines);
  return 0;
}
