// Prints how long kestrova-flash --gang --fast takes for 1, 4 and 8
// frame-timed simulated boards behind a multi-TT and a single-TT hub, with
// the flash programming at once and taking 75 us a word, and each time's
// ratio to one board behind the same hub. The program runs as a child
// process with KESTROVA_SIM set, as a technician would run it; the images
// fill the main flash (BenchImages.h). Behind the single-TT hub the seventh
// and eighth boards are refused at arrival for bandwidth: the column
// "refused" counts what the bus said about them.
// Usage: gang_bench [kestrova-flash] [folder for the images, default: a temporary one]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "BenchImages.h"

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// A run that takes longer has hung: it is ended and shown as such.
constexpr auto kRunLimit = 300s;
constexpr int kBoardCounts[] = {1, 4, 8};

struct THub {
  const char* Name;
  const char* Item;
};
constexpr THub kHubs[] = {{"multi-TT", "hub"}, {"single-TT", "hub:single-tt"}};

struct TFlash {
  const char* Name;
  const char* Options;
};
constexpr TFlash kFlashTimes[] = {{"at once", ""}, {"75 us/word", ":flash-time=75"}};

struct TRun {
  double Seconds = 0;
  int Exit = -1;     // -1: killed after kRunLimit, or no exit code
  int Records = 0;   // lines of the --record file
  int Refused = 0;   // boards the hub refused at arrival
};

std::string SimList(const THub& AHub, const TFlash& AFlash, int ABoards) {
  std::string list = AHub.Item;
  for (int i = 0; i < ABoards; ++i) list += std::string(",board:frame-timed") + AFlash.Options;
  return list;
}

int CountLines(const std::filesystem::path& AFile, const std::string& AContaining) {
  std::ifstream in(AFile);
  int count = 0;
  for (std::string line; std::getline(in, line);)
    if (line.find(AContaining) != std::string::npos) ++count;
  return count;
}

// Waits for the child; kills it once ADeadline has passed.
int Reap(pid_t APid, TClock::time_point ADeadline) {
  int status = 0;
  while (::waitpid(APid, &status, WNOHANG) == 0) {
    if (TClock::now() > ADeadline) {
      ::kill(APid, SIGKILL);
      ::waitpid(APid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(2ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TRun RunGang(const std::string& AFlasher, const std::filesystem::path& AFolder, const std::string& ASim) {
  const std::filesystem::path record = AFolder / "record.jsonl", errors = AFolder / "stderr.txt";
  std::filesystem::remove(record);
  TRun run;
  const auto start = TClock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (null < 0 || err < 0 || ::chdir(AFolder.c_str()) != 0) ::_exit(127);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::setenv("KESTROVA_SIM", ASim.c_str(), 1);
    ::execl(AFlasher.c_str(), "kestrova-flash", "--gang", "--fast", "--record", record.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid < 0) return run;
  run.Exit = Reap(pid, start + kRunLimit);
  run.Seconds = std::chrono::duration<double>(TClock::now() - start).count();
  run.Records = CountLines(record, "{");
  run.Refused = CountLines(errors, "Not enough bandwidth");
  if (run.Exit != 0) {  // what the program said, for a run that failed
    std::ifstream in(errors);
    std::stringstream text;
    text << in.rdbuf();
    std::fprintf(stderr, "%s", text.str().c_str());
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string flasher = argc > 1 ? argv[1] : KESTROVA_FLASH;
  const std::filesystem::path folder =
      argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path() / "kestrova-gang-bench";
  std::filesystem::create_directories(folder);
  WriteBenchImages(folder);
  std::printf("kestrova-flash --gang --fast --record FILE, %s\n", flasher.c_str());
  std::printf("Frame-timed simulated boards (one report per 1 ms frame), 128 KiB application each, back 1.5 s\n");
  std::printf("after their RAM loader starts. Wall time of the whole run; ratio to one board behind the same hub.\n\n");
  std::printf("%-10s %-11s %6s %10s %7s %5s %8s %8s\n", "hub", "flash", "boards", "time", "ratio", "exit", "records",
              "refused");
  bool allRan = true;
  for (const TFlash& flash : kFlashTimes) {
    for (const THub& hub : kHubs) {
      double one = 0;
      for (const int boards : kBoardCounts) {
        const TRun run = RunGang(flasher, folder, SimList(hub, flash, boards));
        if (boards == 1) one = run.Seconds;
        std::printf("%-10s %-11s %6d %8.2f s %6.2fx %5d %8d %8d\n", hub.Name, flash.Name, boards, run.Seconds,
                    one > 0 ? run.Seconds / one : 0.0, run.Exit, run.Records, run.Refused);
        std::fflush(stdout);
        allRan = allRan && run.Exit == 0;
      }
    }
  }
  return allRan ? 0 : 1;
}
