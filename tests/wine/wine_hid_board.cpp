// Runs a Windows program under Wine in front of the simulated controller
// board on a umockdev hidraw node, which Wine's HID bus (its udev backend)
// turns into a Windows HID device:
//
//   wine_hid_board [--board WORDS] [--dump FILE] COMMAND [ARGS...]
//
// COMMAND runs with the umockdev preload and the test bed's directory in
// its environment (as this program itself), typically cmake/wine-run.sh and a test program. Lines
// "@@board <command>" on its standard output are commands to the board
// (BoardCommands.h), answered on its standard input; every other line is
// passed through. WORDS are the simulated board's options, comma-separated
// ("answer-delay=5,no-return"). With --dump, the board's memory is written
// to FILE as TI-TXT when the program has ended. The Wine server of KESTROVA_WINEPREFIX is
// stopped before and after: its drivers must see this test bed and no other.
// The exit status is the program's.
#include <spawn.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BoardCommands.h"
#include "HidrawBoard.h"

extern char** environ;

namespace {

constexpr const char* kWineServer = "/usr/lib/wine/wineserver";
constexpr const char* kPreload = "libumockdev-preload.so.0";

std::vector<std::string> SplitWords(const std::string& AText) {
  std::vector<std::string> LWords;
  size_t LStart = 0;
  while (LStart <= AText.size()) {
    const size_t LEnd = std::min(AText.find(',', LStart), AText.size());
    if (LEnd > LStart) LWords.push_back(AText.substr(LStart, LEnd - LStart));
    LStart = LEnd + 1;
  }
  return LWords;
}

int Spawn(const std::vector<std::string>& ACommand, posix_spawn_file_actions_t* AActions, pid_t& APid) {
  std::vector<char*> LArgv;
  for (const std::string& LWord : ACommand) LArgv.push_back(const_cast<char*>(LWord.c_str()));
  LArgv.push_back(nullptr);
  return posix_spawnp(&APid, LArgv[0], AActions, nullptr, LArgv.data(), environ);
}

int WaitFor(pid_t APid) {
  int LStatus = 0;
  while (::waitpid(APid, &LStatus, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(LStatus)) return WEXITSTATUS(LStatus);
  return 128 + (WIFSIGNALED(LStatus) ? WTERMSIG(LStatus) : 0);
}

// Stops the prefix's Wine server, outside the test bed.
void StopWineServer() {
  const char* LPrefix = std::getenv("KESTROVA_WINEPREFIX");
  if (!LPrefix) return;
  const std::string LPreload = std::getenv("LD_PRELOAD") ? std::getenv("LD_PRELOAD") : "";
  ::unsetenv("LD_PRELOAD");
  ::setenv("WINEPREFIX", LPrefix, 1);
  pid_t LPid = 0;
  if (Spawn({kWineServer, "-k"}, nullptr, LPid) == 0) WaitFor(LPid);
  if (Spawn({kWineServer, "-w"}, nullptr, LPid) == 0) WaitFor(LPid);
  if (!LPreload.empty()) ::setenv("LD_PRELOAD", LPreload.c_str(), 1);
}

// Passes the program's output through and answers its board commands,
// until it closes its output.
void Converse(winetest::THidrawBoard& ABoard, FILE* AFromProgram, FILE* AToProgram) {
  char* LLine = nullptr;
  size_t LCapacity = 0;
  while (::getline(&LLine, &LCapacity, AFromProgram) > 0) {
    std::string LText(LLine);
    const size_t LMark = LText.find(winetest::kCommandMark);
    if (LMark == std::string::npos) {
      std::fputs(LText.c_str(), stdout);
      std::fflush(stdout);
      continue;
    }
    std::fputs(LText.substr(0, LMark).c_str(), stdout);
    std::string LCommand = LText.substr(LMark + std::strlen(winetest::kCommandMark));
    while (!LCommand.empty() && (LCommand.back() == '\n' || LCommand.back() == '\r')) LCommand.pop_back();
    const std::string LAnswer = winetest::RunBoardCommand(ABoard, LCommand);
    std::printf("[board] %s -> %s\n", LCommand.c_str(), LAnswer.c_str());
    std::fflush(stdout);
    std::fprintf(AToProgram, "%s\n", LAnswer.c_str());
    std::fflush(AToProgram);
  }
  std::free(LLine);
}

bool WriteDump(const sim::TSimBoard& ABoard, const std::string& AFile) {
  FILE* LOut = std::fopen(AFile.c_str(), "wb");
  const std::string LText = ABoard.DumpTiTxt();
  const bool LOk = LOut && std::fwrite(LText.data(), 1, LText.size(), LOut) == LText.size();
  if (LOut && std::fclose(LOut) != 0) return false;
  if (!LOk) std::fprintf(stderr, "wine_hid_board: cannot write %s\n", AFile.c_str());
  return LOk;
}

int RunProgram(winetest::THidrawBoard& ABoard, const std::vector<std::string>& ACommand) {
  int LOut[2], LIn[2];
  if (::pipe(LOut) != 0 || ::pipe(LIn) != 0) return 125;
  posix_spawn_file_actions_t LActions;
  posix_spawn_file_actions_init(&LActions);
  posix_spawn_file_actions_adddup2(&LActions, LOut[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&LActions, LIn[0], STDIN_FILENO);
  posix_spawn_file_actions_addclose(&LActions, LOut[0]);
  posix_spawn_file_actions_addclose(&LActions, LIn[1]);
  pid_t LPid = 0;
  const int LSpawned = Spawn(ACommand, &LActions, LPid);
  posix_spawn_file_actions_destroy(&LActions);
  ::close(LOut[1]);
  ::close(LIn[0]);
  if (LSpawned != 0) {
    std::fprintf(stderr, "wine_hid_board: cannot start %s: %s\n", ACommand[0].c_str(), std::strerror(LSpawned));
    return 125;
  }
  FILE* LFrom = ::fdopen(LOut[0], "r");
  FILE* LTo = ::fdopen(LIn[1], "w");
  Converse(ABoard, LFrom, LTo);
  std::fclose(LFrom);
  std::fclose(LTo);
  return WaitFor(LPid);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> LBoardWords;
  std::string LDump;
  int LFirst = 1;
  for (; LFirst + 1 < argc; ++LFirst) {
    if (std::strcmp(argv[LFirst], "--board") == 0)
      LBoardWords = SplitWords(argv[++LFirst]);
    else if (std::strcmp(argv[LFirst], "--dump") == 0)
      LDump = argv[++LFirst];
    else
      break;
  }
  if (LFirst >= argc) {
    std::fprintf(stderr, "usage: wine_hid_board [--board WORDS] [--dump FILE] COMMAND [ARGS...]\n");
    return 2;
  }
  // The test bed's uevents are sent through libudev, which must see the
  // test bed too: the program runs itself again under the preload, which
  // the Windows program then inherits.
  const std::string LPreload = std::getenv("LD_PRELOAD") ? std::getenv("LD_PRELOAD") : "";
  if (LPreload.find(kPreload) == std::string::npos) {
    ::setenv("LD_PRELOAD", (LPreload.empty() ? kPreload : LPreload + ":" + kPreload).c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::fprintf(stderr, "wine_hid_board: cannot run under %s: %s\n", kPreload, std::strerror(errno));
    return 125;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  UMockdevTestbed* LTestbed = umockdev_testbed_new();  // sets UMOCKDEV_DIR for the program
  int LStatus = 125;
  {
    winetest::THidrawBoard LBoard(LTestbed, LBoardWords);
    std::string LError;
    if (!LBoard.Start(LError)) {
      std::fprintf(stderr, "wine_hid_board: %s\n", LError.c_str());
    } else {
      StopWineServer();
      LStatus = RunProgram(LBoard, std::vector<std::string>(argv + LFirst, argv + argc));
      StopWineServer();
      if (!LDump.empty() && !WriteDump(*LBoard.Board(), LDump)) LStatus = 125;
      std::printf("[board] unknown hidraw calls: %s\n", winetest::RunBoardCommand(LBoard, "unknown-ioctls").c_str());
    }
  }
  g_object_unref(LTestbed);
  return LStatus;
}
