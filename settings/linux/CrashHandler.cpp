// Crashes on Linux: the signals of a fault, written with the system's own
// calls. The thread that installs the handler (the main thread) catches
// them on a stack of its own, so that its stack overflowing is reported
// too. Then the handler that was there before (the system's, or a
// sanitizer's) gets the signal: a fault comes back when the instruction
// runs again, a signal that someone sent is sent again.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>

#include "CrashHandler.h"
#include "CrashReport.h"

namespace station {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr char kAsideSuffix[] = ".new";

char gReportFile[PATH_MAX];
char gAsideFile[PATH_MAX + sizeof kAsideSuffix];
struct sigaction gPrevious[std::size(kSignals)];
std::atomic<bool> gInstalled{false};
std::atomic<bool> gReported{false};
alignas(16) char gSignalStack[64 * 1024];

const char* SignalName(int ASignal) {
  switch (ASignal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
  }
  return "?";
}

crash::TLocalTime Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
          local.tm_min,         local.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

void OnCrash(int ASignal, siginfo_t* AInfo, void*) {
  if (!gReported.exchange(true)) {
    crash::TCrashText what;
    what << "Signal ";
    what.Decimal(static_cast<uint64_t>(ASignal)) << " (" << SignalName(ASignal) << ") at address ";
    what.Hex(reinterpret_cast<uintptr_t>(AInfo->si_addr), 16);
    crash::WriteCrashReport(Now(), static_cast<uint32_t>(syscall(SYS_gettid)), what.Text());
  }
  for (size_t i = 0; i < std::size(kSignals); ++i)
    if (kSignals[i] == ASignal) sigaction(ASignal, &gPrevious[i], nullptr);
  if (AInfo->si_code <= 0) raise(ASignal);
}

}  // namespace

size_t crash::ReadReportFile(std::span<char> ABuffer) {
  const int file = open(gReportFile, O_RDONLY | O_CLOEXEC);
  if (file < 0) return 0;
  struct stat info {};
  if (fstat(file, &info) == 0 && static_cast<size_t>(info.st_size) > ABuffer.size())
    lseek(file, info.st_size - static_cast<off_t>(ABuffer.size()), SEEK_SET);
  size_t length = 0;
  while (length < ABuffer.size()) {
    const ssize_t got = read(file, ABuffer.data() + length, ABuffer.size() - length);
    if (got <= 0) break;
    length += static_cast<size_t>(got);
  }
  close(file);
  return length;
}

bool crash::ReplaceReportFile(std::initializer_list<std::string_view> AParts) {
  const int file = open(gAsideFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (file < 0) return false;
  bool written = true;
  for (std::string_view part : AParts) {
    while (written && !part.empty()) {
      const ssize_t put = write(file, part.data(), part.size());
      written = put > 0;
      if (written) part.remove_prefix(static_cast<size_t>(put));
    }
  }
  written = fsync(file) == 0 && written;
  close(file);
  return written && rename(gAsideFile, gReportFile) == 0;
}

bool InstallCrashHandler(const std::filesystem::path& AReportFile) {
  const std::string& file = AReportFile.native();
  if (file.size() >= sizeof gReportFile) return false;
  std::memcpy(gReportFile, file.c_str(), file.size() + 1);
  std::memcpy(gAsideFile, file.c_str(), file.size());
  std::memcpy(gAsideFile + file.size(), kAsideSuffix, sizeof kAsideSuffix);
  if (gInstalled.exchange(true)) return true;

  stack_t stack{};
  stack.ss_sp = gSignalStack;
  stack.ss_size = sizeof gSignalStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_sigaction = OnCrash;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &gPrevious[i]);
  return true;
}

}  // namespace station
