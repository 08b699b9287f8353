// The kestrova-flash program itself on the simulated bus: a progress bar
// under a pseudo-terminal, plain lines into a pipe, the exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

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
// (ATerminal) or on a pipe; standard error goes to /dev/null.
TRun RunFlasher(const std::filesystem::path& AFolder, bool ATerminal, const char* ASim) {
  int master = -1;
  int pipeFds[2] = {-1, -1};
  pid_t pid;
  if (ATerminal) {
    pid = ::forkpty(&master, nullptr, nullptr, nullptr);
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
