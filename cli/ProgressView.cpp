#include "ProgressView.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kBarWidth = 24;
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

}  // namespace

std::string ProgressBarText(const std::string& APhase, size_t ADone, size_t ATotal,
                            std::chrono::milliseconds AElapsed) {
  const size_t done = std::min(ADone, ATotal);
  const double fraction = ATotal == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(ATotal);
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string text = APhase + " [" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(kBarWidth - filled), '.') + "] " + KiB(done) +
                     " / " + KiB(ATotal);
  char percent[16];
  std::snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(fraction * 100.0));
  text += percent;
  const double seconds = static_cast<double>(AElapsed.count()) / 1000.0;
  if (seconds > 0 && done > 0) {
    const double rate = static_cast<double>(done) / seconds;
    text += "  " + KiB(static_cast<size_t>(rate)) + "/s";
    const auto left = static_cast<long long>(static_cast<double>(ATotal - done) / rate + 0.5);
    text += "  " + MinutesSeconds(left) + " left";
  }
  return text;
}

void TProgressView::Begin(const std::string& APhase, size_t ATotal) {
  if (FOpen) Finish();
  FPhase = APhase;
  FTotal = ATotal;
  FDone = 0;
  FTenths = -1;
  FStart = TClock::now();
  FLastDraw = TClock::time_point{};
  FDrawn = 0;
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
}

void TProgressView::Line(const std::string& AText) {
  if (FOpen && FTerminal) {
    FOut << '\n';
    FOpen = false;
  }
  FOut << AText << '\n';
  FOut.flush();
}

void TProgressView::Draw(size_t ADone) {
  const auto now = TClock::now();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - FStart);
  if (FTerminal) {
    if (now - FLastDraw < kRedraw && ADone < FTotal) return;
    FLastDraw = now;
    // Blanks over what a longer earlier line left (no escape sequences:
    // a Windows console shows them as they are).
    std::string text = ProgressBarText(FPhase, ADone, FTotal, elapsed);
    const size_t length = text.size();
    if (length < FDrawn) text.append(FDrawn - length, ' ');
    FDrawn = length;
    FOut << '\r' << text;
    FOut.flush();
    return;
  }
  const int tenths = FTotal == 0 ? 10 : static_cast<int>(ADone * 10 / FTotal);
  if (tenths <= FTenths) return;
  FTenths = tenths;
  FOut << FPhase << ": " << tenths * 10 << "% (" << ADone << " of " << FTotal << " bytes)\n";
  FOut.flush();
}
