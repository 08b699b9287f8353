// Progress of one image on the console: a bar redrawn in place on a
// terminal (bytes, percent, rate, time left), plain lines at every tenth
// when the output goes to a file or a pipe.
#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>

// The bar line for ADone of ATotal bytes after AElapsed, without a line end.
std::string ProgressBarText(const std::string& APhase, size_t ADone, size_t ATotal,
                            std::chrono::milliseconds AElapsed);

class TProgressView {
 public:
  using TClock = std::chrono::steady_clock;
  TProgressView(std::ostream& AOut, bool ATerminal) : FOut(AOut), FTerminal(ATerminal) {}

  void Begin(const std::string& APhase, size_t ATotal);
  void Update(size_t ADone);
  // Completes the bar (a terminal gets its line end).
  void Finish();
  // A line of its own; an open bar is ended first.
  void Line(const std::string& AText);

 private:
  void Draw(size_t ADone);

  std::ostream& FOut;
  const bool FTerminal;
  bool FOpen = false;
  std::string FPhase;
  size_t FTotal = 0;
  size_t FDone = 0;
  int FTenths = -1;   // last tenth printed as a plain line
  size_t FDrawn = 0;  // length of the bar line on the terminal
  TClock::time_point FStart, FLastDraw;
};
