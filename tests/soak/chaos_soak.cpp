// The chaos soak: thousands of updates of the simulated board with fresh
// random images, either write path, and a random plan of faults, checked
// against a table of how each must end. The property: no run ever reports
// a board it did not flash correctly; and each failure names the fault.
//
//   chaos_soak [--runs N] [--seed S] [--run I]
//
// It prints a table per fault kind and write path and "N passed, M
// failed"; it fails when a run failed, a run hung, or the resident memory
// grew over the runs. --run I repeats one run of seed S and tells all.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "SoakRun.h"
#include "UpdateCauseText.h"

namespace {

using namespace soak;

// A run that takes this long has hung: the process says so and ends.
constexpr auto kHang = std::chrono::seconds(120);
// How much the resident memory may grow from the first tenth of the runs
// to the end: what the allocator keeps for the largest images drawn.
constexpr long kRssSlackKiB = 4096;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

struct TTally {
  int Runs = 0, Passed = 0;
};

struct TArgs {
  uint64_t Runs = 300;
  uint64_t Seed = 0;
  bool SeedGiven = false;
  std::optional<uint64_t> One;
};

TArgs Parse(int argc, char** argv) {
  TArgs args;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const uint64_t value = std::strtoull(argv[i + 1], nullptr, 10);
    if (name == "--runs") args.Runs = value;
    if (name == "--seed") args.Seed = value, args.SeedGiven = true;
    if (name == "--run") args.One = value;
  }
  if (!args.SeedGiven)
    args.Seed = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000007u;
  return args;
}

std::string Plan(const TRunReport& AReport) {
  std::string text = AReport.Setup.Fast ? "--fast" : "line by line";
  for (uint8_t command : AReport.Setup.UnknownCommands) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", command);
    text += ", loader without " + std::string(hex) + "h";
  }
  text += ", back after " + std::to_string(AReport.Setup.ReturnMs) + " ms; faults:";
  if (AReport.Faults.empty()) text += " none";
  for (const TFault& fault : AReport.Faults) text += " " + FaultText(fault);
  return text;
}

void Tell(uint64_t ASeed, uint64_t ARun, const TRunReport& AReport, bool ALog) {
  std::printf("run %llu (--seed %llu --run %llu): %s\n", static_cast<unsigned long long>(ARun),
              static_cast<unsigned long long>(ASeed), static_cast<unsigned long long>(ARun), Plan(AReport).c_str());
  std::printf("  ended: %s (%s)\n", update::ResultName(AReport.Outcome.Result),
              update::CauseLine(AReport.Outcome).c_str());
  for (const std::string& problem : AReport.Problems) std::printf("  PROBLEM: %s\n", problem.c_str());
  if (ALog)
    for (const std::string& line : AReport.LastLines) std::printf("    | %s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const TArgs args = Parse(argc, argv);
  if (args.One) {
    const TRunReport report = RunOnce(args.Seed, *args.One);
    Tell(args.Seed, *args.One, report, true);
    return report.Problems.empty() ? 0 : 1;
  }

  std::atomic<int64_t> deadline{0};
  std::atomic<uint64_t> current{0};
  std::thread watchdog([&] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const int64_t due = deadline.load();
      if (due < 0) return;
      if (due > 0 && std::chrono::steady_clock::now().time_since_epoch().count() > due) {
        std::printf("HANG: run %llu (--seed %llu --run %llu) did not end\n", static_cast<unsigned long long>(current.load()),
                    static_cast<unsigned long long>(args.Seed), static_cast<unsigned long long>(current.load()));
        std::fflush(stdout);
        std::_Exit(3);
      }
    }
  });

  std::printf("chaos soak: %llu runs, seed %llu\n", static_cast<unsigned long long>(args.Runs),
              static_cast<unsigned long long>(args.Seed));
  std::map<std::string, TTally> byFault[2];  // line by line, --fast
  std::map<std::string, int> outcomes;
  int passed = 0, failed = 0, wrongSuccesses = 0, safeFailures = 0, verified = 0;
  double slowest = 0;
  long rssEarly = 0, rssLate = 0;
  const uint64_t early = std::max<uint64_t>(args.Runs / 10, 1);
  for (uint64_t run = 0; run < args.Runs; ++run) {
    current = run;
    deadline = (std::chrono::steady_clock::now() + kHang).time_since_epoch().count();
    const TRunReport report = RunOnce(args.Seed, run);
    const bool ok = report.Problems.empty();
    ok ? ++passed : ++failed;
    if (!ok && failed <= 20) Tell(args.Seed, run, report, true);
    for (const std::string& problem : report.Problems)
      if (problem.rfind("SUCCESS REPORTED", 0) == 0) ++wrongSuccesses;
    const bool success = report.Outcome.Result == update::TUpdateResult::Success;
    if (success && report.Outcome.Verified) ++verified;
    if (!success && report.MemoryMatches) ++safeFailures;
    slowest = std::max(slowest, report.Seconds);
    ++outcomes[update::ResultName(report.Outcome.Result)];
    auto& table = byFault[report.Setup.Fast ? 1 : 0];
    std::vector<std::string> kinds;
    for (const TFault& fault : report.Faults) kinds.push_back(FaultName(fault.Kind));
    if (kinds.empty()) kinds.push_back("(none)");
    for (const std::string& kind : kinds) {
      ++table[kind].Runs;
      table[kind].Passed += ok ? 1 : 0;
    }
    if (run + 1 == early) rssEarly = ResidentKiB();
    if ((run + 1) % 1000 == 0) {
      std::printf("  %llu runs, %d failed, resident %ld KiB\n", static_cast<unsigned long long>(run + 1), failed,
                  ResidentKiB());
      std::fflush(stdout);
    }
  }
  rssLate = ResidentKiB();
  deadline = -1;
  watchdog.join();

  std::printf("\n%-22s %14s %14s\n", "fault", "line by line", "--fast");
  std::map<std::string, bool> names;
  for (const auto& table : byFault)
    for (const auto& [name, tally] : table) names[name] = true;
  for (const auto& [name, seen] : names) {
    std::printf("%-22s", name.c_str());
    for (auto& table : byFault) {
      const TTally t = table[name];
      std::printf(" %6d ok of %-4d", t.Passed, t.Runs);
    }
    std::printf("\n");
  }
  std::printf("\nendings:");
  for (const auto& [name, count] : outcomes) std::printf(" %s %d;", name.c_str(), count);
  std::printf("\nverified successes: %d; successes reported for a board that differs: %d\n", verified,
              wrongSuccesses);
  std::printf("failures with the board holding everything (a fault after the last write): %d\n", safeFailures);
  std::printf("slowest run: %.2f s (bound %.0f s); hangs: 0\n", slowest, kRunBoundSeconds);
  bool flat = true;
  if (kSanitized) {
    std::printf("resident memory: not judged in a sanitizer build\n");
  } else {
    flat = rssLate <= rssEarly + kRssSlackKiB;
    std::printf("resident memory: %ld KiB after %llu runs, %ld KiB at the end (%s)\n", rssEarly,
                static_cast<unsigned long long>(early), rssLate, flat ? "flat" : "GROWING");
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && flat ? 0 : 1;
}
