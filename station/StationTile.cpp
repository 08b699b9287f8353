#include "StationTile.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "StationRun.h"

namespace {

// Readable from a few metres, white on the result's colour.
const QColor kPassedColour(0x2E, 0x7D, 0x32);
const QColor kFailedColour(0xC6, 0x28, 0x28);
// A board that waits for the operator's scan.
const QColor kHighlightColour(0xFF, 0xD5, 0x4F);
// The verdict takes a quarter of the tile's height.
const QString kPass = QStringLiteral("PASS");
const QString kFail = QStringLiteral("FAIL");
constexpr int kVerdictShare = 4;
// The label's text against the window's usual size.
constexpr double kLabelScale = 1.6;

QLabel* WrappedLabel(QWidget* AParent) {
  auto* label = new QLabel(AParent);
  label->setWordWrap(true);
  return label;
}

void Scale(QLabel& ALabel, double AFactor, bool ABold) {
  QFont font = ALabel.font();
  font.setPointSizeF(font.pointSizeF() * AFactor);
  font.setBold(ABold);
  ALabel.setFont(font);
}

QString BoardLine(const TTileResult& AResult) {
  QStringList parts;
  if (!AResult.BoardId.empty()) parts << QStringLiteral("Board %1").arg(QString::fromStdString(AResult.BoardId));
  if (!AResult.Serial.empty()) parts << QStringLiteral("Serial %1").arg(QString::fromStdString(AResult.Serial));
  parts << QStringLiteral("%1 (%2 s)")
               .arg(QString::fromStdString(AResult.Time))
               .arg(static_cast<long long>(std::lround(AResult.Seconds)));
  return parts.join(QStringLiteral("   "));
}

}  // namespace

TStationTile::TStationTile(const QString& APort, const QString& ALabel, QWidget* AParent)
    : QFrame(AParent), FPort(APort) {
  setObjectName(QStringLiteral("tile-") + APort);
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setCursor(Qt::PointingHandCursor);
  FLabel = new QLabel(ALabel, this);
  Scale(*FLabel, kLabelScale, true);
  FPortLabel = new QLabel(APort, this);
  FPortLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
  // A tile named after its port says it once.
  FPortLabel->setVisible(ALabel != APort);
  FState = WrappedLabel(this);
  FState->setObjectName(QStringLiteral("state"));
  FProgress = new QProgressBar(this);
  FVerdict = new QLabel(this);
  FVerdict->setObjectName(QStringLiteral("verdict"));
  FVerdict->setAlignment(Qt::AlignCenter);
  // Its size follows the tile's; it must not push the tile.
  FVerdict->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  FCause = WrappedLabel(this);
  FCause->setObjectName(QStringLiteral("cause"));
  FBoard = WrappedLabel(this);

  auto* top = new QHBoxLayout;
  top->addWidget(FLabel, 1);
  top->addWidget(FPortLabel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(FState);
  layout->addWidget(FProgress);
  layout->addWidget(FVerdict, 1);
  layout->addWidget(FCause);
  layout->addWidget(FBoard);
  layout->addStretch();
  ShowState(QStringLiteral("Waiting for a board"));
}

QString TStationTile::Label() const { return FLabel->text(); }

void TStationTile::SetLabel(const QString& ALabel) {
  FLabel->setText(ALabel);
  FPortLabel->setVisible(ALabel != FPort);
}

void TStationTile::ShowState(const QString& AText) {
  SetLook(TLook::Plain);
  FState->setText(AText);
  FState->show();
  FProgress->hide();
  FVerdict->hide();
  FCause->hide();
  FBoard->hide();
}

void TStationTile::Arrived() {
  FLog.clear();
  ShowState(QStringLiteral("Board connected"));
}

void TStationTile::WaitsForSerial() {
  ShowState(QStringLiteral("Scan the serial"));
  SetLook(TLook::Highlight);
}

void TStationTile::Started(const QString& ASerial) {
  ShowState(QStringLiteral("Starting"));
  FProgress->setValue(0);
  FProgress->show();
  if (!ASerial.isEmpty()) {
    FBoard->setText(QStringLiteral("Serial %1").arg(ASerial));
    FBoard->show();
  }
}

void TStationTile::Progress(const QString& AStep, int APercent) {
  FState->setText(AStep);
  FProgress->setValue(APercent);
}

void TStationTile::Ended(const TTileResult& AResult) {
  SetLook(AResult.Passed ? TLook::Passed : TLook::Failed);
  FState->hide();
  FProgress->hide();
  FVerdict->setText(AResult.Passed ? kPass : kFail);
  FVerdict->show();
  FCause->setText(QString::fromStdString(AResult.Cause));
  FCause->setVisible(!AResult.Cause.empty());
  FBoard->setText(BoardLine(AResult));
  FBoard->show();
}

void TStationTile::AddLogLine(const QString& AText, TColor AColor) { FLog.push_back({AText, AColor}); }

void TStationTile::SetLook(TLook ALook) {
  QPalette palette = parentWidget() != nullptr ? parentWidget()->palette() : QPalette();
  switch (ALook) {
    case TLook::Plain: break;
    case TLook::Highlight:
      palette.setColor(QPalette::Window, kHighlightColour);
      palette.setColor(QPalette::WindowText, Qt::black);
      break;
    case TLook::Passed:
    case TLook::Failed:
      palette.setColor(QPalette::Window, ALook == TLook::Passed ? kPassedColour : kFailedColour);
      palette.setColor(QPalette::WindowText, Qt::white);
      break;
  }
  setPalette(palette);
}

// A quarter of the tile's height, unless the word is then wider than the tile.
void TStationTile::resizeEvent(QResizeEvent* AEvent) {
  QFrame::resizeEvent(AEvent);
  QFont font = FVerdict->font();
  font.setBold(true);
  int size = std::max(1, AEvent->size().height() / kVerdictShare);
  font.setPixelSize(size);
  const int room = contentsRect().width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
  const QFontMetrics metrics(font);
  const int wide = std::max(metrics.horizontalAdvance(kPass), metrics.horizontalAdvance(kFail));
  if (wide > room && room > 0) font.setPixelSize(std::max(1, size * room / wide));
  FVerdict->setFont(font);
}

void TStationTile::mouseReleaseEvent(QMouseEvent* AEvent) {
  QFrame::mouseReleaseEvent(AEvent);
  if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint())) emit Opened();
}
