// The wide command line, the console's output code page and its control
// events. (std::signal would not do: the C runtime puts the default action
// back before it calls the handler, so a second Ctrl-C ends the process in
// the middle of a write, and it knows nothing of Ctrl-Break or closing.)
#include <windows.h>
#include <shellapi.h>

#include <atomic>

#include "Console.h"

namespace {

// The one flag the control handler sets.
std::atomic<bool> GInterrupted{false};

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
  GInterrupted.store(true);
  if (AEvent == CTRL_C_EVENT || AEvent == CTRL_BREAK_EVENT) return TRUE;
  // Closing the console, logging off, shutting down: the system ends the
  // process as soon as this returns. Returning never lets the update stop
  // at its next pause and main end the process with its own exit code.
  for (;;) ::Sleep(INFINITE);
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

const std::atomic<bool>& TInterruptWatch::Interrupted() { return GInterrupted; }
