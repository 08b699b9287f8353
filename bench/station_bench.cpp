// The station window with 1 and with 8 frame-timed simulated boards behind
// a multi-TT hub, the flash taking its programming time: the time from the
// window's start until every board's record line is written, the ratio of
// eight to one, and the longest stall of the window's event loop while the
// boards run (a timer that should fire every 5 ms, late by how much). The
// window runs in this process on whatever display Qt is given (Xvfb, or
// QT_QPA_PLATFORM=offscreen); KESTROVA_SIM is set here for each run.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "BenchImages.h"
#include "Sha256.h"
#include "StationWindow.h"
#include "Utf8.h"

namespace {

constexpr int kTickMs = 5;
constexpr qint64 kRunLimitMs = 300000;  // a run that takes longer has hung

std::string Sha256OfFile(const std::filesystem::path& AFile) {
  std::ifstream in(AFile, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return Sha256Hex(bytes.str());
}

int CountLines(const std::filesystem::path& AFile) {
  std::ifstream in(AFile);
  int lines = 0;
  for (std::string line; std::getline(in, line);) lines += line.empty() ? 0 : 1;
  return lines;
}

std::filesystem::path WriteStation(const std::filesystem::path& AFolder) {
  WriteBenchImages(AFolder);
  const std::filesystem::path file = AFolder / "bench.xml";
  std::ofstream(file) << "<station name=\"Bench\" fast=\"yes\">\n"
                      << "  <loader file=\"kestrova.1.ldr.txt\" sha256=\""
                      << Sha256OfFile(AFolder / "kestrova.1.ldr.txt") << "\"/>\n"
                      << "  <firmware file=\"kestrova.2.fw.txt\" sha256=\""
                      << Sha256OfFile(AFolder / "kestrova.2.fw.txt") << "\"/>\n"
                      << "  <settings apn=\"internet\" login=\"user\" password=\"40817\"/>\n"
                      << "  <record file=\"records.jsonl\"/>\n</station>\n";
  return file;
}

struct TRun {
  double Seconds = 0;
  int Records = 0;
  double LongestStallMs = 0;
  double StallAt = 0;  // seconds after the start
  bool Finished = false;
};

TRun RunStation(int ABoards, const std::filesystem::path& AFolder) {
  std::filesystem::remove_all(AFolder);
  std::filesystem::create_directories(AFolder);
  const std::filesystem::path station = WriteStation(AFolder);
  std::string sim = "hub";
  for (int i = 0; i < ABoards; ++i) sim += ",board:frame-timed:flash-time=75";
  setenv("KESTROVA_SIM", sim.c_str(), 1);

  TRun run;
  QElapsedTimer clock, sinceTick;
  clock.start();
  sinceTick.start();
  TStationSetup setup;
  setup.File = PathToUtf8(station);
  auto window = std::make_unique<TStationWindow>(setup);
  window->resize(1280, 800);
  window->show();
  QEventLoop loop;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    // Before the first board starts the window is still being laid out.
    const double stall = sinceTick.nsecsElapsed() / 1e6 - kTickMs;
    if (clock.elapsed() > 1000 && stall > run.LongestStallMs) {
      run.LongestStallMs = stall;
      run.StallAt = clock.nsecsElapsed() / 1e9;
    }
    sinceTick.restart();
    run.Records = CountLines(AFolder / "records.jsonl");
    if (run.Records >= ABoards || clock.elapsed() > kRunLimitMs) loop.quit();
  });
  tick.start(kTickMs);
  loop.exec();
  run.Seconds = clock.nsecsElapsed() / 1e9;
  run.Finished = run.Records >= ABoards;
  window.reset();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kestrova-station-bench Jiří";
  std::printf("station window, frame-timed boards (flash 75 us/word) behind a multi-TT hub\n");
  std::printf("%-7s %10s %8s %8s %18s %10s\n", "boards", "seconds", "records", "ratio", "longest stall ms", "at s");
  double one = 0;
  for (const int boards : {1, 8}) {
    const TRun run = RunStation(boards, folder);
    if (boards == 1) one = run.Seconds;
    std::printf("%-7d %10.2f %8d %8.2f %18.1f %10.2f%s\n", boards, run.Seconds, run.Records, run.Seconds / one,
                run.LongestStallMs, run.StallAt, run.Finished ? "" : "  (did not finish)");
    std::fflush(stdout);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
