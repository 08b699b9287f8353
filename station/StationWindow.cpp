#include "StationWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

#include "StationFileChoice.h"
#include "StationHeaderView.h"
#include "StationTile.h"
#include "StationTiles.h"
#include "TileLogDialog.h"

namespace {

const QColor kWarningColour(0xC6, 0x28, 0x28);

}  // namespace

TStationWindow::TStationWindow(TStationSetup ASetup, QWidget* AParent)
    : QWidget(AParent), FFront(*this, *this) {
  setWindowTitle(QStringLiteral("kestrova station"));
  BuildControls();
  FFocusWatch =
      connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* ANow) { KeepSerialFocus(ANow); });
  FRun = std::make_unique<TStationRun>(std::move(ASetup), FFront);
}

// The focus watch goes first: closing the window moves the focus while the
// widget part alone is left.
TStationWindow::~TStationWindow() {
  disconnect(FFocusWatch);
  StopStation();
}

void TStationWindow::BuildControls() {
  FHeader = new TStationHeaderView(this);
  FTiles = new TStationTiles(this);
  connect(FTiles, &TStationTiles::Opened, this, [this](TStationTile& ATile) { ShowTileLog(*this, ATile); });
  FSerial = new QLineEdit(this);
  FSerial->setObjectName(QStringLiteral("serial"));
  FSerial->setPlaceholderText(QStringLiteral("Serial (scan it)"));
  connect(FSerial, &QLineEdit::returnPressed, this, &TStationWindow::SerialEntered);
  FStatus = new QLabel(this);
  FStatus->setObjectName(QStringLiteral("status"));
  FStatus->setWordWrap(true);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(FSerial, 1);
  bottom->addWidget(AddButton(QStringLiteral("Re-flash failed"), QStringLiteral("reflash"),
                              &TStationRun::ReflashFailed));
  bottom->addWidget(AddButton(QStringLiteral("Read station file again"), QStringLiteral("reload"),
                              &TStationRun::Reload));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FHeader);
  layout->addWidget(FTiles, 1);
  layout->addLayout(bottom);
  layout->addWidget(FStatus);
  // A bench often runs the window full-screen, without a title bar to close it.
  auto* quit = new QShortcut(QKeySequence::Quit, this);
  connect(quit, &QShortcut::activated, this, &QWidget::close);
  resize(1024, 720);
  FSerial->setFocus();
}

QPushButton* TStationWindow::AddButton(const QString& AText, const QString& AName, void (TStationRun::*AAction)()) {
  auto* button = new QPushButton(AText, this);
  button->setObjectName(AName);
  // The serial field keeps the keyboard.
  button->setFocusPolicy(Qt::NoFocus);
  connect(button, &QPushButton::clicked, this, [this, AAction] {
    if (FRun) ((*FRun).*AAction)();
  });
  return button;
}

TStationTile* TStationWindow::Tile(const std::string& APort) const {
  return FTiles->Find(QString::fromStdString(APort));
}

void TStationWindow::SerialEntered() {
  const QString serial = FSerial->text().trimmed();
  FSerial->clear();
  if (serial.isEmpty() || !FRun) return;
  std::string why;
  if (FRun->Scan(serial.toStdString(), why))
    Say(QString(), false);
  else
    Say(QString::fromStdString(why), true);
}

void TStationWindow::Say(const QString& AText, bool AWarning) {
  QPalette palette = FStatus->palette();
  palette.setColor(QPalette::WindowText, AWarning ? kWarningColour : this->palette().color(QPalette::WindowText));
  FStatus->setPalette(palette);
  FStatus->setText(AText);
}

void TStationWindow::KeepSerialFocus(QWidget* ANow) {
  if (ANow == nullptr || ANow == FSerial || ANow->window() != this) return;
  // Not from within the focus change itself.
  QMetaObject::invokeMethod(FSerial, [serial = FSerial] { serial->setFocus(); }, Qt::QueuedConnection);
}

void TStationWindow::StopStation() { FRun.reset(); }

void TStationWindow::closeEvent(QCloseEvent* AEvent) {
  StopStation();
  QWidget::closeEvent(AEvent);
}

void TStationWindow::Header(const TStationHeader& AHeader) {
  const QString file = QString::fromStdString(AHeader.File);
  if (!FStarted) RememberStationFile(file);
  FStarted = true;
  setWindowTitle(QStringLiteral("%1 - kestrova station").arg(QString::fromStdString(AHeader.Name)));
  FHeader->HideRefused();
  FHeader->ShowStation(AHeader);
  FTiles->SetSlots(AHeader.Slots);
}

void TStationWindow::Bus(const std::vector<std::string>& AUnlisted, bool APortsUnknown) {
  FHeader->ShowBus(AUnlisted, APortsUnknown);
}

void TStationWindow::Refused(const std::string& AText) { FHeader->ShowRefused(QString::fromStdString(AText)); }

void TStationWindow::Arrived(const std::string& APort) {
  if (TStationTile* tile = FTiles->ForArrival(QString::fromStdString(APort))) tile->Arrived();
}

void TStationWindow::WaitsForSerial(const std::string& APort) {
  if (TStationTile* tile = Tile(APort)) tile->WaitsForSerial();
}

void TStationWindow::Started(const std::string& APort, const std::string& ASerial) {
  if (TStationTile* tile = Tile(APort)) tile->Started(QString::fromStdString(ASerial));
}

void TStationWindow::Progress(const std::string& APort, const std::string& AStep, int APercent) {
  if (TStationTile* tile = Tile(APort)) tile->Progress(QString::fromStdString(AStep), APercent);
}

void TStationWindow::LogLine(const std::string& APort, const std::string& AText, TColor AColor) {
  if (TStationTile* tile = Tile(APort)) tile->AddLogLine(QString::fromStdString(AText), AColor);
}

void TStationWindow::Ended(const std::string& APort, const TTileResult& AResult, const TShiftTotals& ATotals) {
  if (TStationTile* tile = Tile(APort)) tile->Ended(AResult);
  FHeader->ShowTotals(ATotals);
  if (!AResult.Passed) QApplication::beep();
}

void TStationWindow::Said(const std::string& AText) { Say(QString::fromStdString(AText), false); }
