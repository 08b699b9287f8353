// Arguments and terminal are UTF-8 already; Ctrl-C is SIGINT.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

#include "Console.h"
#include "SerialSource.h"

namespace {

// The one flag the signal handler sets.
std::atomic<bool> GInterrupted{false};

extern "C" void OnInterruptSignal(int) { GInterrupted.store(true); }

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

int TerminalColumns() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void MoveCursorUp(std::ostream& AOut, int ALines) {
  if (ALines > 0) AOut << "\x1b[" << ALines << "A\r";
}

TUtf8Console::TUtf8Console() = default;
TUtf8Console::~TUtf8Console() = default;

struct TInterruptWatch::TPrevious {
  struct sigaction Action {};
};

TInterruptWatch::TInterruptWatch() : FPrevious(std::make_unique<TPrevious>()) {
  struct sigaction action {};
  action.sa_handler = &OnInterruptSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // stays in place: a second Ctrl-C interrupts again
  ::sigaction(SIGINT, &action, &FPrevious->Action);
}

TInterruptWatch::~TInterruptWatch() { ::sigaction(SIGINT, &FPrevious->Action, nullptr); }

const std::atomic<bool>& TInterruptWatch::Interrupted() { return GInterrupted; }

void TInterruptWatch::Ended(int) {}  // a terminal that closes sends SIGHUP, which ends the process

namespace {

// Standard input looked at without waiting: poll says whether a read would
// block.
class TStandardInputSerials : public ISerialSource {
 public:
  TState Next(std::string& ASerial) override {
    while (!FEnded) {
      pollfd input{STDIN_FILENO, POLLIN, 0};
      if (::poll(&input, 1, 0) <= 0) break;  // nothing yet (or no input at all: it ends below)
      char buffer[4096];
      const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        FEnded = true;
        FLines.End();
        break;
      }
      FLines.Add(std::string(buffer, static_cast<size_t>(got)));
    }
    return FLines.Next(ASerial);
  }

 private:
  TSerialLines FLines;
  bool FEnded = false;
};

}  // namespace

std::unique_ptr<ISerialSource> StandardInputSerials() { return std::make_unique<TStandardInputSerials>(); }
