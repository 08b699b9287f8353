#include "StationHeaderView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "StationRun.h"

namespace {

constexpr double kNameScale = 2.2;
const QChar kPasswordDot(0x2022);
const QColor kRefusedColour(0xC6, 0x28, 0x28);
const QString kGap = QStringLiteral("      ");

QLabel* Line(QWidget* AParent, QVBoxLayout& ALayout) {
  auto* label = new QLabel(AParent);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // A selectable label takes no focus from the serial field.
  label->setFocusPolicy(Qt::NoFocus);
  ALayout.addWidget(label);
  return label;
}

QString Image(const char* AWhat, const std::string& AName, const std::string& ASha8) {
  return QStringLiteral("%1: %2 (%3)").arg(QLatin1String(AWhat), QString::fromStdString(AName),
                                           QString::fromStdString(ASha8));
}

QString Join(const std::vector<std::string>& AItems) {
  QStringList items;
  for (const std::string& item : AItems) items << QString::fromStdString(item);
  return items.join(QStringLiteral(", "));
}

}  // namespace

TStationHeaderView::TStationHeaderView(QWidget* AParent) : QWidget(AParent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  FRefused = Line(this, *layout);
  FRefused->setObjectName(QStringLiteral("refused"));
  FRefused->setAutoFillBackground(true);
  FRefused->setMargin(8);
  QPalette palette = FRefused->palette();
  palette.setColor(QPalette::Window, kRefusedColour);
  palette.setColor(QPalette::WindowText, Qt::white);
  FRefused->setPalette(palette);
  QFont bold = FRefused->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.3);
  FRefused->setFont(bold);
  FRefused->hide();
  FName = Line(this, *layout);
  QFont big = FName->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * kNameScale);
  FName->setFont(big);
  FImages = Line(this, *layout);
  FTexts = Line(this, *layout);
  FFile = Line(this, *layout);
  FTotals = Line(this, *layout);
  FUnlisted = Line(this, *layout);
  FUnlisted->hide();
  FPortsUnknown = Line(this, *layout);
  FPortsUnknown->setText(QStringLiteral("This system does not tell USB ports: one board at a time"));
  FPortsUnknown->hide();
  // Until the station has read its file.
  for (QLabel* label : {FName, FImages, FTexts, FFile}) label->hide();
  ShowTotals(TShiftTotals{});
}

void TStationHeaderView::ShowStation(const TStationHeader& AHeader) {
  FName->setText(QString::fromStdString(AHeader.Name));
  FImages->setText(Image("Loader", AHeader.LoaderName, AHeader.LoaderSha8) + kGap +
                   Image("Firmware", AHeader.FirmwareName, AHeader.FirmwareSha8));
  FTexts->setText(QStringLiteral("Access point: %1%2Login: %3%4Password: %5")
                      .arg(QString::fromStdString(AHeader.Apn), kGap, QString::fromStdString(AHeader.Login), kGap,
                           QString(static_cast<qsizetype>(AHeader.PasswordLength), kPasswordDot)));
  FFile->setText(QStringLiteral("Station file: %1").arg(QString::fromStdString(AHeader.File)));
  for (QLabel* label : {FName, FImages, FTexts, FFile}) label->show();
}

void TStationHeaderView::ShowBus(const std::vector<std::string>& AUnlisted, bool APortsUnknown) {
  FUnlisted->setText(QStringLiteral("Left alone, not in the station file: %1").arg(Join(AUnlisted)));
  FUnlisted->setVisible(!AUnlisted.empty());
  FPortsUnknown->setVisible(APortsUnknown);
}

void TStationHeaderView::ShowTotals(const TShiftTotals& ATotals) {
  const bool anyEnded = ATotals.Passed + ATotals.Failed > 0;
  const QString yield = anyEnded ? QString::number(ATotals.Yield * 100, 'f', 1) + QStringLiteral(" %")
                                 : QStringLiteral("–");
  FTotals->setText(QStringLiteral("Passed: %1%2Failed: %3%4Yield: %5%6Boards per hour: %7")
                       .arg(QString::number(ATotals.Passed), kGap, QString::number(ATotals.Failed), kGap, yield, kGap,
                            QString::number(ATotals.BoardsPerHour, 'f', 1)));
}

void TStationHeaderView::ShowRefused(const QString& AText) {
  FRefused->setText(AText);
  FRefused->show();
}

void TStationHeaderView::HideRefused() { FRefused->hide(); }
