// What kestrova-flash --gang shows: on a terminal one line per port
// (stage, progress, result), redrawn in place below whatever came before;
// into a file or a pipe plain lines with the port first, one per stage and
// one with the result. Any thread may report; Draw runs on one.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

#include "BoardEvents.h"

class TGangView : public IBoardView {
 public:
  // AColumns: the terminal's width now; AMoveUp: puts the cursor at the
  // start of the line N lines up (terminal only).
  TGangView(std::ostream& AOut, bool ATerminal, std::function<int()> AColumns,
            std::function<void(std::ostream&, int)> AMoveUp);

  void Step(const std::string& APort, const std::string& AText) override;
  // How far the stage is ("firmware  45% (1456 of 3232 bytes)", "12 s
  // left"): on a terminal only.
  void Amount(const std::string& APort, const std::string& AStage, uint64_t ADone, uint64_t ATotal) override;
  void Waiting(const std::string& APort, uint64_t ASeconds) override;
  // AFailed: on a terminal, AText is printed whole once more below the
  // ports' lines at the end (its own line is cut to the width), as is
  // any result whose line was cut.
  void Result(const std::string& APort, const std::string& AText, bool AFailed = false);
  // A line of its own: above the ports' lines on a terminal.
  void Line(const std::string& AText);
  // Terminal: draws the ports' lines anew where they changed.
  void Draw();
  // Terminal: draws the ports' lines a last time, then each failed
  // board's result, and each that did not fit, whole, however wide; what
  // follows goes below them.
  void Finish();

 private:
  struct TRow {
    std::string Step;
    std::string Progress;
    std::string Result;
    bool Failed = false;
  };
  void Progress(const std::string& APort, const std::string& AText);
  std::string RowText(const std::string& APort, const TRow& ARow) const;
  void Plain(const std::string& APort, const std::string& AText);
  void DrawLocked();

  std::mutex FLock;
  std::ostream& FOut;
  const bool FTerminal;
  std::function<int()> FColumns;
  std::function<void(std::ostream&, int)> FMoveUp;
  std::map<std::string, TRow> FRows;  // by port, in port order
  int FDrawn = 0;                     // rows on the screen
  bool FChanged = false;
};
