// Prints how long the same 128 KB application image takes on the
// frame-timed simulated bus (one report per 1 ms frame, as a full-speed
// interrupt endpoint), through the window's path (the update engine as the
// window runs it: one report per line, a 1 ms pause per line, pauses before
// the settings records) and through kestrova-flash --fast, with the wire
// limit beside them: one frame per 58 data bytes, a frame per settings
// record, and two frames (command and answer) per verified piece.
// Usage: flash_speed_bench [folder for the images, default: a temporary one]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "BenchImages.h"
#include "BslVerify.h"
#include "FlashRunner.h"
#include "PlainEventLoop.h"
#include "SimBoard.h"
#include "SimBus.h"
#include "UpdateJob.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr size_t kReportData = 58;         // data bytes of one full fast write
constexpr int kSettingsRecords = 3;

struct TFigures {
  uint32_t Reports = 0;           // reports of the application stage
  TClock::duration Stage{};       // first report after the board came back, to the end
  TClock::duration Whole{};       // the whole update
  bool Ok = false;
};

// Watches the board from another thread: when it came back, and when the
// first report of the application stage arrived.
class TStageWatch {
 public:
  explicit TStageWatch(const sim::TSimBoard& ABoard) : FBoard(ABoard), FThread([this] { Run(); }) {}
  ~TStageWatch() {
    FStop = true;
    FThread.join();
  }
  uint32_t ReportsBefore() const { return FBefore; }
  TClock::time_point Start() const { return FStart; }

 private:
  void Run() {
    while (!FStop && FBoard.State() != sim::TBoardState::RamLoader) std::this_thread::sleep_for(100us);
    FBefore = FBoard.ReportsReceived();
    while (!FStop && FBoard.ReportsReceived() == FBefore) std::this_thread::sleep_for(50us);
    FStart = TClock::now();
  }
  const sim::TSimBoard& FBoard;
  std::atomic<bool> FStop{false};
  uint32_t FBefore = 0;
  TClock::time_point FStart;
  std::thread FThread;
};

// The window's events: the progress hand-over pauses 1 ms per line.
class TWindowLikeEvents : public update::IUpdateEvents {
 public:
  void Log(int32_t, TMessageType, const std::string&, TColor) override {}
  void Progress(const update::TUpdateProgress& AProgress) override {
    if (AProgress.Line >= 0) std::this_thread::sleep_for(1ms);
  }
  void Ended(const update::TUpdateOutcome&) override {}
};

template <typename F>
TFigures Measure(F ARun) {
  sim::TSimBus bus;
  auto board = sim::MakeSimBoard({"frame-timed"});
  board->PlugInto(bus);
  TFigures figures;
  {
    TStageWatch watch(*board);
    const auto start = TClock::now();
    figures.Ok = ARun(bus);
    const auto end = TClock::now();
    figures.Whole = end - start;
    figures.Stage = end - watch.Start();
    figures.Reports = board->ReportsReceived() - watch.ReportsBefore();
  }
  return figures;
}

bool WindowPath(const std::filesystem::path& AFolder, hid::IHidPlatform& APlatform) {
  hid::TPlainEventLoop loop;
  auto controller = std::make_shared<TJvHidDeviceController>(nullptr, &APlatform);
  loop.RunFor(0);
  update::TUpdateOptions options;
  options.LoaderFile = (AFolder / "kestrova.1.ldr.txt").string();
  options.FirmwareFile = (AFolder / "kestrova.2.fw.txt").string();
  options.Settings = {u"internet", u"user", u"40817"};
  update::TUpdateJob job(std::make_shared<update::TBoardPorts>(controller), std::make_shared<TWindowLikeEvents>(),
                         options, [&loop] { loop.Wake(); });
  job.Start();
  while (!job.Ended()) loop.RunFor(100);
  return job.Outcome().Result == update::TUpdateResult::Success;
}

bool FastPath(const std::filesystem::path& AFolder, hid::IHidPlatform& APlatform) {
  std::ostringstream out, err;
  TFlashRunner runner(ParseCliOptions({"--fast", "--quiet", "--loader", (AFolder / "kestrova.1.ldr.txt").string(),
                                       "--firmware", (AFolder / "kestrova.2.fw.txt").string()}),
                      {out, err, false}, &APlatform);
  const bool ok = runner.Run() == TExitCode::Ok;
  if (!ok) std::fprintf(stderr, "%s", err.str().c_str());
  return ok;
}

// Frames the wire needs at the least for the application stage.
struct TWireLimit {
  size_t DataFrames = 0;
  size_t VerifyFrames = 0;
  size_t Frames() const { return DataFrames + kSettingsRecords + VerifyFrames; }
};

TWireLimit WireLimit(const std::filesystem::path& AFolder) {
  const TTiTxtImage image = ReadTiTxtImage((AFolder / "kestrova.2.fw.txt").string(), TTiTxtImageKind::Application);
  TWireLimit limit;
  for (const TTiTxtSection& section : image.Sections)
    limit.DataFrames += (section.Bytes.size() + kReportData - 1) / kReportData;
  TVerifyPlan plan;
  plan.AddImage(image);
  for (int i = 0; i < kSettingsRecords; ++i) plan.Add(0xFE00 + 41 * static_cast<uint32_t>(i), std::vector<uint8_t>(41, 0));
  for (const TTiTxtRange& range : plan.Ranges())
    for (uint32_t pos = range.Address; pos < range.End(); pos = (pos / kVerifyCrcBlock + 1) * kVerifyCrcBlock)
      limit.VerifyFrames += 2;  // CRC Check out, its answer in
  return limit;
}

double Seconds(TClock::duration ADuration) { return std::chrono::duration<double>(ADuration).count(); }

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "kestrova-flash-bench";
  std::filesystem::create_directories(folder);
  WriteBenchImages(folder);
  const TTiTxtImage image = ReadTiTxtImage((folder / "kestrova.2.fw.txt").string(), TTiTxtImageKind::Application);
  const TWireLimit limit = WireLimit(folder);
  std::printf("Application image: %zu bytes in %zu data lines; frame-timed bus, one report per 1 ms frame.\n",
              image.DataSize(), [&] {
                size_t lines = 0;
                for (const auto& s : image.Sections) lines += s.Lines.size();
                return lines;
              }());
  std::printf("Application stage: from the first report after the board came back to the end, verification included.\n\n");
  std::printf("%-24s %10s %16s %14s\n", "", "reports", "stage", "whole update");
  std::printf("%-24s %10zu %14.2f s %14s   (%zu data + %d settings + %zu verify frames)\n", "wire limit",
              limit.DataFrames + kSettingsRecords + limit.VerifyFrames / 2, static_cast<double>(limit.Frames()) / 1000.0,
              "", limit.DataFrames, kSettingsRecords, limit.VerifyFrames);
  std::fflush(stdout);
  const TFigures window = Measure([&](hid::IHidPlatform& APlatform) { return WindowPath(folder, APlatform); });
  std::printf("%-24s %10u %14.2f s %12.2f s%s\n", "window's path", window.Reports, Seconds(window.Stage),
              Seconds(window.Whole), window.Ok ? "" : "   FAILED");
  std::fflush(stdout);
  const TFigures fast = Measure([&](hid::IHidPlatform& APlatform) { return FastPath(folder, APlatform); });
  std::printf("%-24s %10u %14.2f s %12.2f s%s\n", "kestrova-flash --fast", fast.Reports, Seconds(fast.Stage),
              Seconds(fast.Whole), fast.Ok ? "" : "   FAILED");
  const double wire = static_cast<double>(limit.Frames()) / 1000.0;
  std::printf("\n--fast / wire limit: %.2fx   window's path / --fast: %.1fx (stage), %.1fx (whole update)\n",
              Seconds(fast.Stage) / wire, Seconds(window.Stage) / Seconds(fast.Stage),
              Seconds(window.Whole) / Seconds(fast.Whole));
  return window.Ok && fast.Ok ? 0 : 1;
}
