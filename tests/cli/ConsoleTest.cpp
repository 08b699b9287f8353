// The kestrova-flash program itself on the simulated bus: a progress bar
// under a pseudo-terminal, plain lines into a pipe, the exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "CliTestImages.h"

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
// down and verification shows as a phase of its own.
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
