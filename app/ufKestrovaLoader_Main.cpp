#include "ufKestrovaLoader_Main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>

#include <chrono>

#include "DefaultSettings.h"
#include "DeviceDetection.h"
#include "ErrorReport.h"
#include "MainThread.h"
#include "SettingsBlock.h"
#include "SettingsFile.h"
#include "StationFiles.h"
#include "SystemColors.h"
#include "ufKestrovaLoader_Log.h"

TfKestrovaLoader_Main* fKestrovaLoader_Main = nullptr;

namespace {

constexpr int kClientWidth = 517;
constexpr int kClientHeight = 506;
constexpr int kFontPixels = 16;  // "Verdana", 16-pixel character height

// Entry-field background: disabled = button face, enabled = window colour.
constexpr TColor col[2] = {clBtnFace, clWindow};

const char* const kCaption = "kestrova configurator";
const char* const kExitQuestion =
    "Attention! Flashing process is in progresss. Do you really want to end this process and "
    "terminate the application? Your device may not work properly after this! If you wish to "
    "continue, confirm the operation by pressing \"Ctrl\" key and continue.";

// Captions carry "&&" for a literal ampersand; labels without a buddy show
// text as it stands, so they get the single character.
QString LabelText(const char* ACaption) { return QString::fromUtf8(ACaption).replace("&&", "&"); }

QLabel* MakeLabel(QWidget* AParent, const char* ACaption, int x, int y, int w, int h) {
  auto* label = new QLabel(LabelText(ACaption), AParent);
  label->setGeometry(x, y, w, h);
  return label;
}

QLineEdit* MakeEdit(QWidget* AParent, const char* AText, int x, int y, int w, int h) {
  auto* edit = new QLineEdit(QString::fromUtf8(AText), AParent);
  edit->setGeometry(x, y, w, h);
  return edit;
}

void SetBaseColor(QWidget* AWidget, TColor AColor) {
  QPalette palette = AWidget->palette();
  palette.setColor(QPalette::Base, ToQColor(AColor));
  AWidget->setPalette(palette);
}

}  // namespace

// The pictures live in a static library; register them explicitly.
static void InitPictures() { Q_INIT_RESOURCE(pictures); }

TfKestrovaLoader_Main::TfKestrovaLoader_Main(hid::IHidPlatform* APlatform, QWidget* AParent) : QWidget(AParent) {
  InitPictures();
  fIsCtrlDown = [] { return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier); };
  BuildControls();
  HidCtl1 = std::make_shared<TJvHidDeviceController>(this, APlatform);
  fWorkflow = std::make_unique<TUpdateWorkflow>(*pnlMainUpdate, std::make_shared<update::TBoardPorts>(HidCtl1));
  GuardStep([this] { FormCreate(); });
}

TfKestrovaLoader_Main::~TfKestrovaLoader_Main() {
  GuardStep([this] { FormDestroy(); });
  // An update that is still running keeps the controller and goes on
  // without the window: it stops at its next pause, and nothing it reports
  // reaches the window any more.
  fWorkflow->Abandon();
  HidCtl1->OnArrival = nullptr;
  HidCtl1->OnRemoval = nullptr;
  HidCtl1->OnEnumerate = nullptr;
  HidCtl1->OnDeviceSkipped = nullptr;
  if (fKestrovaLoader_Main == this) fKestrovaLoader_Main = nullptr;
}

// ---------------------------------------------------------------- layout

void TfKestrovaLoader_Main::BuildControls() {
  setWindowTitle(kCaption);
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  QFont font("Verdana");
  font.setPixelSize(kFontPixels);
  setFont(font);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, ToQColor(clBtnFace));
  palette.setColor(QPalette::WindowText, ToQColor(0xFF000008));  // COLOR_WINDOWTEXT
  setPalette(palette);
  setAutoFillBackground(true);

  BuildHeader();
  BuildBottom();
  BuildPages();
  setTabOrder(edtApn, edtLogin);
  setTabOrder(edtLogin, edtPassword);
  setTabOrder(edtPassword, btnSave);
}

void TfKestrovaLoader_Main::BuildHeader() {
  pnlHeader = new QWidget(this);
  pnlHeader->setGeometry(0, 0, kClientWidth, 129);
  imgHeader = new QLabel(pnlHeader);
  imgHeader->setGeometry(17, 16, 480, 97);
  imgHeader->setAlignment(Qt::AlignCenter);
  imgHeader->setPixmap(QPixmap(":/pictures/header.png"));
  imgHeader->installEventFilter(this);
}

void TfKestrovaLoader_Main::BuildBottom() {
  pnlBottom = new QWidget(this);
  pnlBottom->setGeometry(0, 454, kClientWidth, 52);
  btnExit = new QPushButton("Exit", pnlBottom);
  btnExit->setGeometry(390, 9, 113, 33);
  connect(btnExit, &QPushButton::clicked, this, [this] { GuardStep([this] { btnExitClick(); }); });
}

void TfKestrovaLoader_Main::BuildPages() {
  pnlMainImage = new QWidget(this);
  pnlMainImage->setGeometry(0, 129, kClientWidth, 325);

  // A page area without tabs: the pages sit inside a 4-pixel frame.
  pgc1 = new QStackedWidget(pnlMainImage);
  pgc1->setGeometry(1, 1, 515, 323);
  pgc1->setContentsMargins(4, 4, 4, 32);

  ts1 = new QWidget;
  ts1->setObjectName("img");
  imgGuide = new QLabel(ts1);
  imgGuide->setGeometry(0, 0, 507, 287);
  imgGuide->setAlignment(Qt::AlignCenter);
  imgGuide->setPixmap(QPixmap(":/pictures/guide.png"));
  pgc1->addWidget(ts1);

  ts2 = new QWidget;
  BuildSettingsPage();
  pnlMainUpdate = new TUpdatePanel(
      ts2, [this](int32_t i, TMessageType t, const std::string& m, TColor c) { LogMsg(i, t, m, c); },
      [this](bool AStatus) { EnDisSettingsComponents(AStatus); }, [this] { pgc1->setCurrentWidget(ts1); });
  pgc1->addWidget(ts2);
  pgc1->setCurrentWidget(ts2);  // as designed; FormCreate brings up the guide

  lblProggressMessage = new QLabel(pnlMainImage);
  lblProggressMessage->setGeometry(17, 290, 480, 19);
  lblProggressMessage->setAlignment(Qt::AlignCenter);
  lblProggressMessage->setAttribute(Qt::WA_TranslucentBackground);
  lblProggressMessage->hide();
  lblProggressMessage->raise();
}

void TfKestrovaLoader_Main::BuildSettingsPage() {
  grpSettings = new QGroupBox("APN settings", ts2);
  grpSettings->setGeometry(12, 3, 480, 197);
  lblAPN = MakeLabel(grpSettings, "APN:", 77, 35, 40, 18);
  lblLogin = MakeLabel(grpSettings, "Login:", 66, 70, 51, 18);
  lblPassword = MakeLabel(grpSettings, "Password:", 33, 105, 84, 18);
  edtApn = MakeEdit(grpSettings, kDefaultApn, 152, 32, 265, 26);
  edtLogin = MakeEdit(grpSettings, kDefaultLogin, 152, 67, 265, 26);
  edtPassword = MakeEdit(grpSettings, kDefaultPassword, 152, 102, 265, 26);
  // A settings record holds 40 characters; the fields take no more, so
  // nothing typed is cut off silently on the way to the board.
  for (QLineEdit* e : {edtApn, edtLogin, edtPassword}) e->setMaxLength(update::kSettingsRecordText);
  btnSave = new QPushButton("Update FW && Save", grpSettings);
  btnSave->setGeometry(152, 142, 265, 33);
  connect(btnSave, &QPushButton::clicked, this, [this] { GuardStep([this] { btnSaveClick(); }); });
}

// ---------------------------------------------------------------- life cycle

void TfKestrovaLoader_Main::FormCreate() {
  HidCtl1->OnArrival = nullptr;
  HidCtl1->OnRemoval = nullptr;
  HidCtl1->OnEnumerate = nullptr;
  HidCtl1->OnDeviceSkipped = nullptr;
  pgc1->setCurrentWidget(ts1);
  LoadConfiguration();
}

void TfKestrovaLoader_Main::FormShow() {
  HidCtl1->OnArrival = [this](TJvHidDevice* d) { HidCtl1Arrival(d); };
  HidCtl1->OnRemoval = [this](TJvHidDevice* d) { HidCtl1Removal(d); };
  HidCtl1->OnEnumerate = [this](TJvHidDevice* d, int i) { return HidCtl1Enumerate(d, i); };
  HidCtl1->OnDeviceSkipped = [this](TJvHidDeviceController*, const TJvHidPnPInfo& AInfo,
                                    const std::string& AReason) { HidCtl1DeviceSkipped(AInfo, AReason); };
  for (const std::string& note : fSettingsNotes) LogMsg(0, mtDebug, note, clRed);
  fSettingsNotes.clear();
  HidCtl1->Enumerate();
}

void TfKestrovaLoader_Main::FormDestroy() { SaveConfiguration(); }

void TfKestrovaLoader_Main::showEvent(QShowEvent* AEvent) {
  QWidget::showEvent(AEvent);
  if (!AEvent->spontaneous()) GuardStep([this] { FormShow(); });
}

void TfKestrovaLoader_Main::closeEvent(QCloseEvent* AEvent) {
  // Closing the main window ends the application, whatever else is open.
  QWidget::closeEvent(AEvent);
  QCoreApplication::quit();
}

bool TfKestrovaLoader_Main::eventFilter(QObject* AWatched, QEvent* AEvent) {
  if (AWatched == imgHeader && AEvent->type() == QEvent::MouseButtonDblClick) {
    GuardStep([this] { imgHeaderDblClick(); });
    return true;
  }
  return QWidget::eventFilter(AWatched, AEvent);
}

// ---------------------------------------------------------------- device detection

void TfKestrovaLoader_Main::HidCtl1Arrival(TJvHidDevice* HidDev) {
  LogLines(ArrivalLines(HidDev));
  if (IsCompatible(HidDev)) pgc1->setCurrentWidget(ts2);
}

void TfKestrovaLoader_Main::HidCtl1Removal(TJvHidDevice* HidDev) { LogLines(RemovalLines(HidDev)); }

bool TfKestrovaLoader_Main::HidCtl1Enumerate(TJvHidDevice* HidDev, int Idx) {
  (void)Idx;
  HidCtl1Arrival(HidDev);
  return true;
}

void TfKestrovaLoader_Main::HidCtl1DeviceSkipped(const TJvHidPnPInfo& AInfo, const std::string& AReason) {
  LogLines(SkippedLines(AInfo, AReason));
}

void TfKestrovaLoader_Main::LogLines(const std::vector<TDeviceLine>& ALines) {
  for (const TDeviceLine& line : ALines) LogMsg(line.AID, mtSystem, line.Text, line.Color);
}

// ---------------------------------------------------------------- hand-overs

void TfKestrovaLoader_Main::LogMsg(int32_t AID, TMessageType AType, const std::string& AMessage,
                                   TColor AColor) {
  RunOnMainThread([&] {
    if (fKestrovaLoader_Log != nullptr) fKestrovaLoader_Log->LogMsg(AID, AType, AMessage, AColor);
  });
}

void TfKestrovaLoader_Main::EnDisSettingsComponents(bool AStatus) {
  RunOnMainThread([&] {
    for (QWidget* w : {static_cast<QWidget*>(btnSave), static_cast<QWidget*>(edtApn),
                       static_cast<QWidget*>(edtLogin), static_cast<QWidget*>(edtPassword)})
      w->setEnabled(AStatus);
    for (QLineEdit* e : {edtApn, edtLogin, edtPassword}) SetBaseColor(e, col[AStatus]);
    if (AStatus) {
      while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
    } else if (QApplication::overrideCursor() == nullptr) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    }
  });
}

// ---------------------------------------------------------------- exit and log window

void TfKestrovaLoader_Main::btnExitClick() {
  if (RunningUpdate() == nullptr) {
    close();
    return;
  }
  for (;;) {
    const auto answer = QMessageBox::question(this, kCaption, kExitQuestion,
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
    if (fIsCtrlDown()) break;
  }
  close();
}

void TfKestrovaLoader_Main::imgHeaderDblClick() {
  if (fKestrovaLoader_Log == nullptr) return;
  const QRect outer = frameGeometry();
  fKestrovaLoader_Log->show();
  fKestrovaLoader_Log->move(outer.left() + outer.width(), outer.top());
  fKestrovaLoader_Log->raise();
}

// ---------------------------------------------------------------- settings file

void TfKestrovaLoader_Main::LoadConfiguration() {
  QLineEdit* const fields[] = {edtApn, edtLogin, edtPassword};
  for (int i = 0; i < 3; ++i) fStoredTexts[i] = fields[i]->text();
  TApnTexts texts{edtApn->text().toStdString(), edtLogin->text().toStdString(),
                  edtPassword->text().toStdString()};
  ::LoadConfiguration(station::SettingsFile(), texts);
  const QString stored[] = {QString::fromStdString(texts.Apn), QString::fromStdString(texts.Login),
                            QString::fromStdString(texts.Password)};
  const char* const names[] = {"APN", "login", "password"};
  for (int i = 0; i < 3; ++i) {
    fStoredTexts[i] = stored[i];
    fields[i]->setText(stored[i]);  // the field shows what a record holds
    if (stored[i].size() > update::kSettingsRecordText) {
      fSettingsNotes.push_back("Settings file: the " + std::string(names[i]) + " has " +
                               std::to_string(stored[i].size()) +
                               " characters; the board receives only its first " +
                               std::to_string(update::kSettingsRecordText) + " characters.");
    }
  }
}

void TfKestrovaLoader_Main::SaveConfiguration() {
  QLineEdit* const fields[] = {edtApn, edtLogin, edtPassword};
  std::string texts[3];
  for (int i = 0; i < 3; ++i) {
    const bool asLoaded =
        !fields[i]->isModified() && fields[i]->text() == fStoredTexts[i].left(update::kSettingsRecordText);
    texts[i] = (asLoaded ? fStoredTexts[i] : fields[i]->text()).toStdString();
  }
  ::SaveConfiguration(station::SettingsFile(), TApnTexts{texts[0], texts[1], texts[2]});
}

// ---------------------------------------------------------------- update

void TfKestrovaLoader_Main::btnSaveClick() {
  // The texts as they stand now; the worker never reads the entry fields.
  fWorkflow->Start({edtApn->text().toStdU16String(), edtLogin->text().toStdU16String(),
                    edtPassword->text().toStdU16String()});
}

