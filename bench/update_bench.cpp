// Full firmware updates on the simulated board through the real main
// window, offscreen, with application images of 1 000, 5 000 and 20 000
// data lines. Prints the time per image line by tenths of the application
// image, the share of the 1 ms progress pause, what verification adds to
// the update, and the peak memory; first with the service log window
// hidden, then shown.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QMessageBox>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "AppHarness.h"
#include "UpdateEngine.h"

namespace {

using TClock = std::chrono::steady_clock;

QString DataLines(int ALines, int AWidth) {
  QString text;
  for (int i = 0; i < ALines; ++i) {
    for (int b = 0; b < AWidth; ++b) text += QString("%1 ").arg((i * 31 + b) & 0xFF, 2, 16, QChar('0'));
    text += '\n';
  }
  return text;
}

void Write(const QString& APath, const QString& AText) {
  QFile f(APath);
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(AText.toLatin1());
}

// When the first message box of the run shows: the success box follows
// verification at once.
class TBoxShown : public QObject {
 public:
  TClock::time_point At{};
  bool eventFilter(QObject* AObject, QEvent* AEvent) override {
    if (AEvent->type() == QEvent::Show && At == TClock::time_point{} &&
        qobject_cast<QMessageBox*>(AObject) != nullptr)
      At = TClock::now();
    return false;
  }
};

long PeakMemoryKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// What the progress pause costs on its own, through the real call.
double MeasuredPauseMs() {
  TAppHarness app;
  const auto start = TClock::now();
  for (int i = 0; i < 200; ++i) app.Main().pnlMainUpdate->ShowProgress({update::TUpdateStage::Firmware, 0, 0, i, 200});
  return std::chrono::duration<double, std::milli>(TClock::now() - start).count() / 200;
}

void RunOne(int ALines, bool AShown, double APauseMs) {
  TAppHarness app("board:return-delay=200");
  WaitUntil([&] { return app.LogLines().contains("  - VID: 2047, PID: 0200"); });
  // Two bytes per line keeps even 20 000 lines inside main flash.
  Write(app.Folder() + "kestrova.1.ldr.txt", "@2500\n" + DataLines(64, 16) + "#2500\nq\n");
  const int fwLines = ALines + 3;  // address line, data, SET, end line
  Write(app.Folder() + "kestrova.2.fw.txt", "@4400\n" + DataLines(ALines, 2) + "SET\nq\n");
  if (AShown) fKestrovaLoader_Log->show();

  std::vector<TClock::time_point> at(fwLines + 1);
  QProgressBar* bar = app.Main().pnlMainUpdate->pb2;
  QObject::connect(bar, &QProgressBar::valueChanged, [&](int AValue) {
    if (bar->maximum() == fwLines && AValue >= 1 && AValue <= fwLines) at[AValue] = TClock::now();
  });
  TBoxAnswerer boxes;
  TBoxShown shown;
  qApp->installEventFilter(&shown);
  const auto clicked = TClock::now();
  app.Main().btnSave->click();
  WaitUntil([&] { return app.Main().RunningUpdate() == nullptr; }, 3600 * 1000);
  qApp->removeEventFilter(&shown);

  // Step v runs from progress value v to v + 1. The settings line (the
  // step before the end line) holds three 100 ms pauses of its own: shown
  // apart, left out of the tenths.
  const int settingsStep = fwLines - 1;
  auto stepMs = [&](int v) { return std::chrono::duration<double, std::milli>(at[v + 1] - at[v]).count(); };
  std::printf("%6d lines, log window %s:", ALines, AShown ? "shown " : "hidden");
  const int steps = settingsStep - 1;  // steps 1 .. settingsStep - 1
  double total = 0;
  for (int t = 0; t < 10; ++t) {
    const int from = 1 + t * steps / 10, to = 1 + (t + 1) * steps / 10;
    double ms = 0;
    for (int v = from; v < to; ++v) ms += stepMs(v);
    std::printf(" %.3f", ms / (to - from));
    total += ms;
  }
  const double perLine = total / steps;
  // Verification runs from the end line (the last progress step) to the
  // success box; the same run without it would end that much earlier.
  const double verifyMs = std::chrono::duration<double, std::milli>(shown.At - at[fwLines]).count();
  const double updateMs = std::chrono::duration<double, std::milli>(shown.At - clicked).count();
  std::printf("  | mean %.3f ms/line, 1 ms pause %.0f%%, settings line %.0f ms, "
              "verification %.1f ms = %.2f%% of the update without it (%.0f ms), peak RSS %ld MB, %s\n",
              perLine, 100.0 * APauseMs / perLine, stepMs(settingsStep), verifyMs,
              100.0 * verifyMs / (updateMs - verifyMs), updateMs - verifyMs, PeakMemoryKb() / 1024,
              boxes.Texts().value(0).toStdString().c_str());
  std::fflush(stdout);
}

// Drops everything but the time stage 2 takes: from the board's return to
// the end of the update.
class TQuietEvents : public update::IUpdateEvents {
 public:
  void Log(int32_t, TMessageType, const std::string&, TColor) override {}
  void Progress(const update::TUpdateProgress& AProgress) override {
    if (AProgress.Line >= 0) LastLine = TClock::now();
    if (AProgress.Stage == update::TUpdateStage::Identify) Back = TClock::now();
    if (AProgress.Stage == update::TUpdateStage::Done) Written = TClock::now();
  }
  void Ended(const update::TUpdateOutcome&) override {}
  TClock::time_point Back, LastLine, Written;
};

// The application image on the engine alone, with and without
// verification, three times each (median): without the window's per-line
// costs the base is shorter, so the ratio is an upper bound of what
// verification adds in the window.
double EngineStageMs(int ALines, bool AVerify, std::string& AResult, double& AAfterEndLineMs) {
  TAppHarness app("board:return-delay=200");
  WaitUntil([&] { return app.LogLines().contains("  - VID: 2047, PID: 0200"); });
  update::TUpdateOptions options;
  options.LoaderFile = (app.Folder() + "kestrova.1.ldr.txt").toStdString();
  options.FirmwareFile = (app.Folder() + "kestrova.2.fw.txt").toStdString();
  Write(QString::fromStdString(options.LoaderFile), "@2500\n" + DataLines(64, 16) + "#2500\nq\n");
  Write(QString::fromStdString(options.FirmwareFile), "@4400\n" + DataLines(ALines, 2) + "SET\nq\n");
  options.Verify = AVerify;
  auto events = std::make_shared<TQuietEvents>();
  update::TUpdateEngine engine(std::make_shared<update::TBoardPorts>(app.Main().HidCtl1), events, options);
  update::TUpdateOutcome outcome;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    outcome = engine.Run();
    done = true;
  });
  WaitUntil([&] { return done.load(); }, 3600 * 1000);
  worker.join();
  AResult = update::ResultName(outcome.Result);
  AAfterEndLineMs = std::chrono::duration<double, std::milli>(events->Written - events->LastLine).count();
  return std::chrono::duration<double, std::milli>(events->Written - events->Back).count();
}

void RunEngine(int ALines) {
  double median[2] = {0, 0};
  for (bool verify : {false, true}) {
    std::vector<double> ms;
    std::string result;
    double afterEnd = 0;  // from the end line to the end: verification, if on
    for (int i = 0; i < 3; ++i) ms.push_back(EngineStageMs(ALines, verify, result, afterEnd));
    std::sort(ms.begin(), ms.end());
    median[verify] = ms[1];
    std::printf("%6d lines, engine alone, application image, verification %-3s: %.0f %.0f %.0f ms, "
                "after the end line %.1f ms (%s)\n",
                ALines, verify ? "on" : "off", ms[0], ms[1], ms[2], afterEnd, result.c_str());
  }
  std::printf("%6d lines, engine alone: verification adds %.2f%% (medians)\n", ALines,
              100.0 * (median[1] - median[0]) / median[0]);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  TAppProcess process(argc, argv);
  const double pause = MeasuredPauseMs();
  std::printf("update_bench: ms per application-image line by tenths of the image\n");
  std::printf("(the 1 ms progress pause measures %.3f ms here)\n", pause);
  for (bool shown : {false, true})
    for (int lines : {1000, 5000, 20000}) RunOne(lines, shown, pause);
  RunEngine(20000);
  return 0;
}
