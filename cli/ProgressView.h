// Progress of one image on the console: a bar redrawn in place on a
// terminal (bytes, percent, rate, time left), plain lines at every tenth
// when the output goes to a file or a pipe. On a terminal every line fits
// its width, so nothing wraps, however narrow it is.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

#include "BoardEvents.h"
#include "Console.h"

// The bar line for ADone of ATotal bytes after AElapsed, without a line
// end, in at most AWidth - 1 characters (AWidth 0: the full line); what a
// narrow line cannot hold goes first: time left, rate, then bar width.
std::string ProgressBarText(const std::string& AStage, size_t ADone, size_t ATotal,
                            std::chrono::milliseconds AElapsed, size_t AWidth = 0);

// One board's update as a bar per stage, its steps as lines of their own
// and the wait as a passing status; nothing of it when quiet.
class TProgressView : public IBoardView {
 public:
  using TClock = std::chrono::steady_clock;
  // AColumns: the terminal's width now (asked at every redraw, so a
  // resized window is followed).
  TProgressView(std::ostream& AOut, bool ATerminal, std::function<int()> AColumns = &TerminalColumns)
      : FOut(AOut), FTerminal(ATerminal), FColumns(std::move(AColumns)) {}

  void SetQuiet(bool AQuiet) { FQuiet = AQuiet; }
  void Step(const std::string& APort, const std::string& AText) override;
  void Amount(const std::string& APort, const std::string& AStage, uint64_t ADone, uint64_t ATotal) override;
  void Waiting(const std::string& APort, uint64_t ASeconds) override;

  void Begin(const std::string& AStage, size_t ATotal);
  void Update(size_t ADone);
  // Completes the bar (a terminal gets its line end).
  void Finish();
  // A line of its own; an open bar is ended first, a status line is
  // replaced.
  void Line(const std::string& AText);
  // A passing state on a terminal (the wait for the board), redrawn in
  // place and replaced by what comes next; nothing elsewhere.
  void Status(const std::string& AText);

 private:
  void Draw(size_t ADone);
  // Writes AText over the line the cursor is on, blanking the rest of
  // what was there (no escape sequences: a Windows console shows them).
  void Redraw(const std::string& AText);
  size_t Width() const;

  std::ostream& FOut;
  const bool FTerminal;
  std::function<int()> FColumns;
  bool FQuiet = false;
  bool FOpen = false;
  bool FStatus = false;  // a status line is on the screen
  std::string FStage;
  size_t FTotal = 0;
  size_t FDone = 0;
  int FTenths = -1;   // last tenth printed as a plain line
  size_t FDrawn = 0;  // length of the line drawn in place
  TClock::time_point FStart, FLastDraw;
};
