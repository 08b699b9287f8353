// The wide command line, the console's output code page and its control
// events. (std::signal would not do: the C runtime puts the default action
// back before it calls the handler, so a second Ctrl-C ends the process in
// the middle of a write, and it knows nothing of Ctrl-Break or closing.)
#include <windows.h>
#include <shellapi.h>

#include <atomic>

#include "Console.h"
#include "SerialSource.h"

namespace {

// The console's interrupt: the flag the control handler sets, and the exit
// code of a run that has ended (-1 until then), which a close waits for.
struct TConsoleInterrupt {
  std::atomic<bool> Interrupted{false};
  std::atomic<int> EndedWith{-1};
} GInterrupt;

// Windows ends a process 5 s after CTRL_CLOSE_EVENT; a second is left for
// the end itself.
constexpr DWORD kCloseWaitMs = 4000;
constexpr DWORD kCloseSliceMs = 20;
constexpr int kInterruptedExitCode = 130;  // as after Ctrl-C

std::string Utf8(const wchar_t* AText) {
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, AText, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, AText, -1, out.data(), bytes, nullptr, nullptr);
  out.pop_back();  // the terminating NUL
  return out;
}

// Runs on a thread the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD AEvent) {
  GInterrupt.Interrupted.store(true);
  // Logging off and shutting down reach services only: an interactive
  // program has been ended before they are sent.
  if (AEvent != CTRL_CLOSE_EVENT) return TRUE;
  // The console closes: the system ends the process as soon as this
  // returns, or 5 s from now. The updates stop at their next pause (every
  // wait of an update looks at the interrupt) and the run writes each
  // board's last log line and record; then, or when the time is nearly up,
  // the process ends here with the run's exit code.
  for (DWORD waited = 0; waited < kCloseWaitMs && GInterrupt.EndedWith.load() < 0; waited += kCloseSliceMs)
    ::Sleep(kCloseSliceMs);
  const int code = GInterrupt.EndedWith.load();
  ::ExitProcess(static_cast<UINT>(code < 0 ? kInterruptedExitCode : code));
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// The console is moved through its own calls: an older console shows
// escape sequences as they are.
void MoveCursorUp(std::ostream& AOut, int ALines) {
  AOut.flush();
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (ALines <= 0 || !::GetConsoleScreenBufferInfo(out, &info)) return;
  COORD at = info.dwCursorPosition;
  at.X = 0;
  at.Y = static_cast<SHORT>(at.Y > ALines ? at.Y - ALines : 0);
  ::SetConsoleCursorPosition(out, at);
}

TUtf8Console::TUtf8Console() : FPreviousCodePage(::GetConsoleOutputCP()) {
  if (FPreviousCodePage != 0) ::SetConsoleOutputCP(CP_UTF8);  // 0: no console
}

TUtf8Console::~TUtf8Console() {
  if (FPreviousCodePage != 0) ::SetConsoleOutputCP(FPreviousCodePage);
}

struct TInterruptWatch::TPrevious {};

TInterruptWatch::TInterruptWatch() { ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE); }

TInterruptWatch::~TInterruptWatch() { ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE); }

const std::atomic<bool>& TInterruptWatch::Interrupted() { return GInterrupt.Interrupted; }

void TInterruptWatch::Ended(int AExitCode) { GInterrupt.EndedWith.store(AExitCode); }

namespace {

// The Windows build reads no station files (no XML parser for mingw-w64),
// so no station ever asks it for a serial: its standard input gives none.
class TNoSerials : public ISerialSource {
 public:
  TState Next(std::string&) override { return TState::Ended; }
};

}  // namespace

std::unique_ptr<ISerialSource> StandardInputSerials() { return std::make_unique<TNoSerials>(); }
