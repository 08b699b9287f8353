// The kestrova-flash program itself on the simulated bus: a progress bar
// under a pseudo-terminal, plain lines into a pipe, the exit status, and
// boards plugged in and unplugged through the control while it runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "CliTestImages.h"

using namespace std::chrono_literals;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

struct TRun {
  std::string Output;  // what the program wrote to its standard output
  int Status = -1;     // exit code
};

// Runs the program in AFolder, with its standard output on a pseudo-terminal
// (ATerminal, AColumns wide; 0: the width unknown) or on a pipe; standard
// error goes to /dev/null.
TRun RunFlasher(const std::filesystem::path& AFolder, bool ATerminal, const char* ASim, int AColumns = 0) {
  int master = -1;
  int pipeFds[2] = {-1, -1};
  pid_t pid;
  if (ATerminal) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(AColumns);
    pid = ::forkpty(&master, nullptr, nullptr, &size);
  } else {
    if (::pipe(pipeFds) != 0) return {};
    pid = ::fork();
  }
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) ::dup2(null, STDERR_FILENO);
    if (!ATerminal) {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::close(pipeFds[0]);
    }
    if (::chdir(AFolder.c_str()) != 0) ::_exit(127);
    ::setenv("KESTROVA_SIM", ASim, 1);
    ::execl(KESTROVA_FLASH, "kestrova-flash", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const int fd = ATerminal ? master : pipeFds[0];
  if (!ATerminal) ::close(pipeFds[1]);
  TRun run;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0) break;  // EOF, or EIO once the terminal's other side is gone
    run.Output.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// kestrova-flash --repeat --fast on the simulated bus with a control,
// its output into a pipe that the test reads as it comes, its standard
// error into a file; Ctrl-C ends it.
class TRepeatRun {
 public:
  TRepeatRun(const std::filesystem::path& AFolder, const char* ASim, const std::filesystem::path& AControl)
      : FErrors(AFolder / "stderr.txt") {
    int fds[2] = {-1, -1};
    if (::pipe(fds) != 0) return;
    FPid = ::fork();
    if (FPid == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      const int err = ::open(FErrors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) ::dup2(err, STDERR_FILENO);
      if (::chdir(AFolder.c_str()) != 0) ::_exit(127);
      ::setenv("KESTROVA_SIM", ASim, 1);
      ::setenv("KESTROVA_SIM_CONTROL", AControl.c_str(), 1);
      ::execl(KESTROVA_FLASH, "kestrova-flash", "--repeat", "--fast", "--quiet", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    FFd = fds[0];
  }
  ~TRepeatRun() {
    if (FPid > 0) End(0ms);
  }

  // Reads the output until it holds AText; false when 20 s pass first or
  // the program ended.
  bool WaitFor(const std::string& AText) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (Output.find(AText) == std::string::npos)
      if (!ReadSome(deadline)) return false;
    return true;
  }
  // Ctrl-C, then the rest of the output and the exit code; -1 when the
  // program has not ended 10 s later.
  int Interrupt() {
    ::kill(FPid, SIGINT);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (ReadSome(deadline)) {
    }
    return End(10s);
  }
  std::string Errors() const {
    std::ifstream in(FErrors);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string Output;

 private:
  bool ReadSome(std::chrono::steady_clock::time_point ADeadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline - std::chrono::steady_clock::now());
    pollfd ready{FFd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t got = ::read(FFd, buffer, sizeof buffer);
    if (got <= 0) return false;
    Output.append(buffer, static_cast<size_t>(got));
    return true;
  }
  int End(std::chrono::milliseconds AWait) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + AWait;
    while (::waitpid(FPid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, &status, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
    ::close(FFd);
    FPid = -1;
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::filesystem::path FErrors;
  pid_t FPid = -1;
  int FFd = -1;
};

void Append(const std::filesystem::path& AFile, const std::string& AText) {
  std::ofstream(AFile, std::ios::app) << AText;
}

}  // namespace

TEST(KestrovaFlashConsole, TerminalShowsABarRedrawnInPlace) {
  clitest::TImageFolder images(2000);
  const TRun run = RunFlasher(images.Path, true, "board:return-delay=100");
  EXPECT_EQ(run.Status, 0) << run.Output;
  EXPECT_THAT(run.Output, HasSubstr("\rfirmware [########################] 31.3 KiB / 31.3 KiB 100%"));
  EXPECT_THAT(run.Output, HasSubstr(" KiB/s"));
  EXPECT_THAT(run.Output, Not(HasSubstr("firmware: "))) << "no plain lines on a terminal";
  EXPECT_THAT(run.Output, HasSubstr("Board updated and verified in"));
}

TEST(KestrovaFlashConsole, PipeGetsPlainLines) {
  clitest::TImageFolder images(2000);
  const TRun run = RunFlasher(images.Path, false, "board:return-delay=100");
  EXPECT_EQ(run.Status, 0) << run.Output;
  EXPECT_THAT(run.Output, HasSubstr("\nfirmware: 50% ("));
  EXPECT_THAT(run.Output, HasSubstr("\nfirmware: 100% (32032 of 32032 bytes)\n"));
  EXPECT_EQ(run.Output.find('\r'), std::string::npos);
  EXPECT_EQ(run.Output.find('\x1b'), std::string::npos);
}

TEST(KestrovaFlashConsole, FailureSetsTheExitStatus) {
  clitest::TImageFolder images;
  EXPECT_EQ(RunFlasher(images.Path, false, "board:refuse-password").Status, 5);
}

// In an 80- and a 40-column terminal no line is longer than the terminal is
// wide (so nothing wraps into a staircase); the wait for the board counts
// down and verification shows as a stage of its own.
TEST(KestrovaFlashConsole, EveryLineFitsTheTerminal) {
  clitest::TImageFolder images(2000);
  for (int columns : {80, 40}) {
    SCOPED_TRACE(columns);
    const TRun run = RunFlasher(images.Path, true, "board:return-delay=700", columns);
    EXPECT_EQ(run.Status, 0) << run.Output;
    size_t longest = 0;
    std::string piece;
    for (char c : run.Output + "\n") {
      if (c == '\r' || c == '\n') {
        longest = std::max(longest, piece.size());
        piece.clear();
      } else {
        piece += c;
      }
    }
    EXPECT_LT(longest, static_cast<size_t>(columns)) << run.Output;
    EXPECT_THAT(run.Output, HasSubstr("\rwaiting for the board: 60 s left"));
    EXPECT_THAT(run.Output, HasSubstr("\rverify "));
    EXPECT_THAT(run.Output, HasSubstr("100%"));
  }
}

// Through the control, as a file and as a named pipe: --repeat takes a new
// board plugged in while it runs, then the first board plugged back in.
// Each line that cannot be done is named on standard error and nothing else
// happens; the program still ends at once on Ctrl-C.
TEST(KestrovaFlashConsole, RepeatTakesTheBoardsPluggedInThroughTheControl) {
  const std::pair<std::string, std::string> wrong[] = {
      {"frobnicate 1-1", "not a command (the commands: unplug PORT, plug PORT, plug board[:OPTIONS])"},
      {"unplug", "not a command"},
      {"plug 1-1 1-2", "not a command"},
      {"unplug 9-9", "no board has been on port 9-9"},
      {"plug 1-9", "no board has been on port 1-9 (\"plug board:port=1-9\" plugs in a new one)"},
      {"plug 1-2", "the board on port 1-2 is plugged in already"},
      {"unplug 1-1", "the board on port 1-1 is unplugged already"},
      {"plug board:port=1-2", "port 1-2 has a device plugged in already: unplug it first"},
      {"plug board:bogus", "unknown simulated board option \"bogus\""},
      {"plug keyboard", "only a board can be plugged in (plug board[:OPTIONS])"},
  };
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo ? "named pipe" : "file");
    clitest::TImageFolder images(2000);
    const std::filesystem::path control = images.Path / "control";
    if (fifo)
      ASSERT_EQ(::mkfifo(control.c_str(), 0600), 0);
    else
      Append(control, "plug board\n");  // there before the run: not a command of this one
    TRepeatRun run(images.Path, "board:return-delay=100", control);
    ASSERT_TRUE(run.WaitFor("board 1: ok")) << run.Output << run.Errors();
    Append(control, "unplug 1-1\nplug board:return-delay=100\n");
    ASSERT_TRUE(run.WaitFor("board 2: ok")) << run.Output << run.Errors();
    std::string lines = "# the first board back\n\n";
    for (const auto& [line, why] : wrong) lines += line + "\n";
    Append(control, lines + "unplug 1-2\nplug 1-1\n");
    ASSERT_TRUE(run.WaitFor("board 3: ok")) << run.Output << run.Errors();
    EXPECT_EQ(run.Interrupt(), 0) << run.Output;
    EXPECT_THAT(run.Output, HasSubstr("Totals: 3 boards, 3 updated, 0 failed."));
    const std::string errors = run.Errors();
    for (const auto& [line, why] : wrong)
      EXPECT_THAT(errors, HasSubstr("KESTROVA_SIM_CONTROL: \"" + line + "\": " + why));
    std::istringstream said(errors);
    size_t ignored = 0;
    for (std::string line; std::getline(said, line); ++ignored) EXPECT_THAT(line, EndsWith("; the line is ignored"));
    EXPECT_EQ(ignored, std::size(wrong)) << errors;
  }
}
