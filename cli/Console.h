// What kestrova-flash asks of the operating system around its work: the
// arguments and the console in UTF-8, the console's width, and its
// interrupts. One
// implementation per platform, chosen by CMake.
#pragma once

#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// The arguments after the program's name, in UTF-8 (on Windows from the
// wide command line: the narrow one is in the ANSI code page).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The console shows UTF-8 while the object lives (Windows: its output code
// page, set back at the end; elsewhere the terminal already does). One
// object at a time.
class TUtf8Console {
 public:
  TUtf8Console();
  ~TUtf8Console();
  TUtf8Console(const TUtf8Console&) = delete;
  TUtf8Console& operator=(const TUtf8Console&) = delete;

 private:
  [[maybe_unused]] unsigned FPreviousCodePage = 0;  // Windows: the console's, set back at the end
};

// Columns of the terminal (console window) that standard output shows on;
// 0 when unknown, as when standard output is not a terminal.
int TerminalColumns();

// Puts the cursor of the terminal that AOut (standard output) shows on at
// the start of the line ALines up, to draw those lines anew.
void MoveCursorUp(std::ostream& AOut, int ALines);

// While the object lives, Ctrl-C (on Windows also Ctrl-Break and closing
// the console) sets Interrupted(), every time, instead of ending the
// process. Closing the console on Windows leaves the program 5 s: it
// waits up to 4 s for Ended() and then ends the process itself, with the
// code given there, or with 130 when the run did not end in time. One
// object at a time.
class TInterruptWatch {
 public:
  TInterruptWatch();
  ~TInterruptWatch();
  TInterruptWatch(const TInterruptWatch&) = delete;
  TInterruptWatch& operator=(const TInterruptWatch&) = delete;

  static const std::atomic<bool>& Interrupted();
  // The run has ended with AExitCode and its output is written: a close of
  // the console that waits for it ends the process now.
  void Ended(int AExitCode);

 private:
  struct TPrevious;  // the handling the system had before
  std::unique_ptr<TPrevious> FPrevious;
};
