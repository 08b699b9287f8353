#include "GangView.h"

#include <algorithm>
#include <cstdio>

#include "BoardPorts.h"
#include "Utf8.h"

namespace {

constexpr size_t kDefaultColumns = 80;
constexpr size_t kPortColumn = 10;  // "1-1.3" and most hub paths line up

// Characters a line may hold without wrapping.
size_t LineWidth(const std::function<int()>& AColumns) {
  const int columns = AColumns();
  return (columns > 1 ? static_cast<size_t>(columns) : kDefaultColumns) - 1;
}

}  // namespace

TGangView::TGangView(std::ostream& AOut, bool ATerminal, std::function<int()> AColumns,
                     std::function<void(std::ostream&, int)> AMoveUp)
    : FOut(AOut), FTerminal(ATerminal), FColumns(std::move(AColumns)), FMoveUp(std::move(AMoveUp)) {}

void TGangView::Step(const std::string& APort, const std::string& AText) {
  std::lock_guard<std::mutex> lock(FLock);
  TRow& row = FRows[APort];
  row.Step = AText;
  row.Progress.clear();
  row.Result.clear();
  row.Failed = false;
  FChanged = true;
  if (!FTerminal) Plain(APort, AText);
}

void TGangView::Amount(const std::string& APort, const std::string& AStage, uint64_t ADone, uint64_t ATotal) {
  const uint64_t done = std::min(ADone, ATotal);
  const unsigned percent = ATotal == 0 ? 100u : static_cast<unsigned>(done * 100 / ATotal);
  char text[96];
  std::snprintf(text, sizeof text, "%s %3u%% (%llu of %llu bytes)", AStage.c_str(), percent,
                static_cast<unsigned long long>(done), static_cast<unsigned long long>(ATotal));
  Progress(APort, text);
}

void TGangView::Waiting(const std::string& APort, uint64_t ASeconds) {
  Progress(APort, std::to_string(ASeconds) + " s left");
}

void TGangView::Progress(const std::string& APort, const std::string& AText) {
  if (!FTerminal) return;
  std::lock_guard<std::mutex> lock(FLock);
  FRows[APort].Progress = AText;
  FChanged = true;
}

void TGangView::Result(const std::string& APort, const std::string& AText, bool AFailed) {
  std::lock_guard<std::mutex> lock(FLock);
  FRows[APort].Result = AText;
  FRows[APort].Failed = AFailed;
  FChanged = true;
  if (!FTerminal) Plain(APort, AText);
}

void TGangView::Line(const std::string& AText) {
  std::lock_guard<std::mutex> lock(FLock);
  if (FTerminal && FDrawn > 0) {
    FMoveUp(FOut, FDrawn);
    FDrawn = 0;
  }
  const size_t width = FTerminal ? std::max<size_t>(static_cast<size_t>(FColumns()), 2) : 0;
  std::string text = AText;
  const size_t length = Utf8Length(text);
  if (FTerminal && length < width - 1) text.append(width - 1 - length, ' ');
  FOut << text << '\n';
  if (FTerminal) DrawLocked();
  FOut.flush();
}

void TGangView::Draw() {
  if (!FTerminal) return;
  std::lock_guard<std::mutex> lock(FLock);
  if (!FChanged) return;
  DrawLocked();
}

void TGangView::Finish() {
  if (!FTerminal) return;
  std::lock_guard<std::mutex> lock(FLock);
  DrawLocked();
  // Below the lines nothing is redrawn, and a long line may wrap there:
  // each failed board's cause, and each line that had to be cut, whole.
  const size_t width = LineWidth(FColumns);
  for (const auto& [port, row] : FRows)
    if (row.Failed || (!row.Result.empty() && Utf8Length(RowText(port, row)) > width))
      FOut << update::PortShortText(port) << ": " << row.Result << '\n';
  FOut.flush();
  FRows.clear();
  FDrawn = 0;
}

void TGangView::DrawLocked() {
  if (FDrawn > 0) FMoveUp(FOut, FDrawn);
  const size_t width = LineWidth(FColumns);
  for (const auto& [port, row] : FRows) {
    // Every line fits and blanks what was there before.
    std::string text(Utf8Head(RowText(port, row), width));
    text.append(width - Utf8Length(text), ' ');
    FOut << text << '\n';
  }
  FOut.flush();
  FDrawn = static_cast<int>(FRows.size());
  FChanged = false;
}

std::string TGangView::RowText(const std::string& APort, const TRow& ARow) const {
  std::string text = update::PortShortText(APort);
  text.resize(std::max(text.size() + 1, kPortColumn), ' ');
  if (!ARow.Result.empty()) return text + ARow.Result;
  text += ARow.Step;
  if (!ARow.Progress.empty()) text += ": " + ARow.Progress;
  return text;
}

void TGangView::Plain(const std::string& APort, const std::string& AText) {
  FOut << update::PortText(APort) << ": " << AText << '\n';
  FOut.flush();
}
