#include "ProgressView.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr size_t kBarWidth = 24;
constexpr size_t kMinBarWidth = 5;  // narrower than this, the bar says nothing
// A terminal whose width is unknown is taken for the usual 80 columns.
constexpr size_t kDefaultColumns = 80;
// A terminal is redrawn at most this often; the end is always drawn.
constexpr auto kRedraw = std::chrono::milliseconds(100);

std::string KiB(size_t ABytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(ABytes) / 1024.0);
  return text;
}

std::string MinutesSeconds(long long ASeconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", ASeconds / 60, ASeconds % 60);
  return text;
}

// The parts of a bar line, from which the widest one that fits is made.
struct TBarParts {
  std::string Stage, Amount, Percent, Rate, Left;
  double Fraction = 0;

  std::string Bar(size_t AWidth) const {
    const size_t filled = static_cast<size_t>(Fraction * static_cast<double>(AWidth));
    return "[" + std::string(filled, '#') + std::string(AWidth - filled, '.') + "]";
  }
  std::string Text(size_t ABar, bool ARate, bool ALeft) const {
    std::string text = Stage + " " + Bar(ABar) + " " + Amount + Percent;
    if (ARate && !Rate.empty()) text += "  " + Rate;
    if (ALeft && !Left.empty()) text += "  " + Left;
    return text;
  }
};

}  // namespace

std::string ProgressBarText(const std::string& AStage, size_t ADone, size_t ATotal,
                            std::chrono::milliseconds AElapsed, size_t AWidth) {
  TBarParts parts;
  const size_t done = std::min(ADone, ATotal);
  parts.Fraction = ATotal == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(ATotal);
  parts.Stage = AStage;
  parts.Amount = KiB(done) + " / " + KiB(ATotal);
  char percent[16];
  std::snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(parts.Fraction * 100.0));
  parts.Percent = percent;
  const double seconds = static_cast<double>(AElapsed.count()) / 1000.0;
  if (seconds > 0 && done > 0) {
    const double rate = static_cast<double>(done) / seconds;
    parts.Rate = KiB(static_cast<size_t>(rate)) + "/s";
    parts.Left = MinutesSeconds(static_cast<long long>(static_cast<double>(ATotal - done) / rate + 0.5)) + " left";
  }
  const std::string full = parts.Text(kBarWidth, true, true);
  if (AWidth == 0 || full.size() < AWidth) return full;
  const size_t room = AWidth - 1;  // the last column would wrap some terminals
  for (const auto& [rate, left] : {std::pair{true, false}, std::pair{false, false}}) {
    const std::string text = parts.Text(kBarWidth, rate, left);
    if (text.size() <= room) return text;
  }
  const size_t rest = parts.Text(0, false, false).size();
  if (rest + kMinBarWidth <= room) return parts.Text(std::min(kBarWidth, room - rest), false, false);
  const std::string shortest = parts.Stage + parts.Percent;
  return shortest.substr(0, room);
}

void TProgressView::Step(const std::string&, const std::string& AText) {
  if (FQuiet) return;
  Finish();
  Line(AText);
}

void TProgressView::Amount(const std::string&, const std::string& AStage, uint64_t ADone, uint64_t ATotal) {
  if (FQuiet) return;
  if (!FOpen || FStage != AStage) Begin(AStage, static_cast<size_t>(ATotal));
  Update(static_cast<size_t>(ADone));
}

void TProgressView::Waiting(const std::string&, uint64_t ASeconds) {
  if (!FQuiet) Status("waiting for the board: " + std::to_string(ASeconds) + " s left");
}

void TProgressView::Begin(const std::string& AStage, size_t ATotal) {
  if (FOpen) Finish();
  FStage = AStage;
  FTotal = ATotal;
  FDone = 0;
  FTenths = -1;
  FStart = TClock::now();
  FLastDraw = TClock::time_point{};
  FOpen = true;
  Draw(0);
}

void TProgressView::Update(size_t ADone) {
  if (!FOpen) return;
  FDone = std::min(ADone, FTotal);
  Draw(FDone);
}

void TProgressView::Finish() {
  if (!FOpen) return;
  FLastDraw = TClock::time_point{};  // the last state is always shown
  Draw(FDone);
  if (FTerminal) FOut << '\n';
  FOut.flush();
  FOpen = false;
  FDrawn = 0;
}

void TProgressView::Line(const std::string& AText) {
  if (FOpen && FTerminal) {
    FOut << '\n';
    FOpen = false;
    FDrawn = 0;
  }
  if (FStatus) {
    Redraw("");
    FOut << '\r';
    FStatus = false;
    FDrawn = 0;
  }
  FOut << AText << '\n';
  FOut.flush();
}

void TProgressView::Status(const std::string& AText) {
  if (!FTerminal) return;
  if (FOpen) Finish();
  const size_t room = Width() - 1;
  Redraw(AText.substr(0, room));
  FStatus = true;
  FOut.flush();
}

size_t TProgressView::Width() const {
  const int columns = FColumns ? FColumns() : 0;
  return columns > 1 ? static_cast<size_t>(columns) : kDefaultColumns;
}

void TProgressView::Redraw(const std::string& AText) {
  std::string text = AText;
  // Blanks over what a longer earlier line left, never past the last column.
  const size_t cover = std::min(FDrawn, Width() - 1);
  if (text.size() < cover) text.append(cover - text.size(), ' ');
  FDrawn = AText.size();
  FOut << '\r' << text;
}

void TProgressView::Draw(size_t ADone) {
  const auto now = TClock::now();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - FStart);
  if (FTerminal) {
    if (now - FLastDraw < kRedraw && ADone < FTotal) return;
    FLastDraw = now;
    Redraw(ProgressBarText(FStage, ADone, FTotal, elapsed, Width()));
    FStatus = false;
    FOut.flush();
    return;
  }
  const int tenths = FTotal == 0 ? 10 : static_cast<int>(ADone * 10 / FTotal);
  if (tenths <= FTenths) return;
  FTenths = tenths;
  FOut << FStage << ": " << tenths * 10 << "% (" << ADone << " of " << FTotal << " bytes)\n";
  FOut.flush();
}
