#include "ufKestrovaLoader_Log.h"

#include <QDateTime>
#include <QPalette>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QVBoxLayout>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "AppFolder.h"
#include "ErrorReport.h"
#include "RtfWriter.h"
#include "SystemColors.h"
#include "Velmora.Utils.Log.h"

TfKestrovaLoader_Log* fKestrovaLoader_Log = nullptr;

namespace {

constexpr auto kCaption = "Kestrova - service tool";
constexpr int kClientWidth = 1062;
constexpr int kClientHeight = 563;
constexpr auto kViewFont = "Courier New";
constexpr int kViewFontPixels = 9;
constexpr auto kLogFolder = "logs/";
constexpr auto kLogNameFormat = "yyyyMMdd-hhmmss";
constexpr auto kLogExtension = ".log.rtf";
constexpr int32_t kStartMessageId = 1;

std::string Utf8(const QString& AText) { return AText.toUtf8().toStdString(); }

// One level only: the folder beside the executable is expected to exist.
void EnsureFolder(const QString& AFolder) {
  const std::filesystem::path folder(AFolder.toStdU16String());
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return;
  if (!std::filesystem::create_directory(folder, ec) && ec) {
    throw std::runtime_error("Cannot create folder \"" + Utf8(AFolder) + "\": " + ec.message());
  }
}

void WriteFile(const QString& APath, const QByteArray& AContent) {
  QSaveFile file(APath);
  if (!file.open(QIODevice::WriteOnly) || file.write(AContent) != AContent.size() ||
      !file.commit()) {
    throw std::runtime_error("Cannot create file \"" + Utf8(APath) +
                             "\": " + Utf8(file.errorString()));
  }
}

QPlainTextEdit* CreateLogView(QWidget* AParent) {
  auto* view = new QPlainTextEdit(AParent);
  view->setObjectName(QStringLiteral("redtLog"));
  QFont font(QString::fromLatin1(kViewFont));
  font.setPixelSize(kViewFontPixels);
  view->setFont(font);
  view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  view->setReadOnly(false);
  // Without this every line of a long run would be kept a second time.
  view->setUndoRedoEnabled(false);
  return view;
}

}  // namespace

TfKestrovaLoader_Log::TfKestrovaLoader_Log(QWidget* AParent) : QWidget(AParent, Qt::Window) {
  setWindowTitle(QString::fromLatin1(kCaption));
  // Closing only hides the window (it is never deleted on close), and it
  // never ends the application.
  setAttribute(Qt::WA_QuitOnClose, false);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, ToQColor(clBtnFace));
  setPalette(pal);
  setAutoFillBackground(true);
  redtLog = CreateLogView(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(redtLog);
  resize(kClientWidth, kClientHeight);
  move(0, 0);
  FormCreate();
}

TfKestrovaLoader_Log::~TfKestrovaLoader_Log() {
  GuardStep([this] { SaveLogFile(); });
}

void TfKestrovaLoader_Log::FormCreate() {
  LogMsg(kStartMessageId, mtApplication, "Application start", clGray);
}

void TfKestrovaLoader_Log::LogMsg(int32_t /*AID*/, TMessageType /*AType*/,
                                  const std::string& AMessage, TColor AColor) {
  // The writer repaints the view on its short refresh timer, once for all
  // lines that arrive in the meantime.
  LOGre(redtLog, QString::fromStdString(AMessage), AColor, true, true, false);
}

QString TfKestrovaLoader_Log::SaveLogFile() {
  const QString folder = AppFolder() + QString::fromLatin1(kLogFolder);
  EnsureFolder(folder);
  const QString path = folder + QDateTime::currentDateTime().toString(kLogNameFormat) +
                       QString::fromLatin1(kLogExtension);
  WriteFile(path, DocumentToRtf(*redtLog->document()));
  return path;
}
