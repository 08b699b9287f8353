#include "ufKestrovaLoader_Log.h"

#include <QDateTime>
#include <QPalette>
#include <QPlainTextEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVBoxLayout>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "ErrorReport.h"
#include "KestrovaVersion.h"
#include "QtPath.h"
#include "RtfWriter.h"
#include "StationFiles.h"
#include "SystemColors.h"
#include "Velmora.Utils.Log.h"

TfKestrovaLoader_Log* fKestrovaLoader_Log = nullptr;

namespace {

constexpr auto kCaption = "Kestrova - service tool";
constexpr int kClientWidth = 1062;
constexpr int kClientHeight = 563;
constexpr auto kViewFont = "Courier New";
constexpr int kViewFontPixels = 9;
constexpr auto kLogNameFormat = "yyyyMMdd-hhmmss";
constexpr auto kLogExtension = ".log.rtf";
constexpr int32_t kStartMessageId = 1;
constexpr auto kProductName = "KestrovaSetup";

std::string Utf8(const QString& AText) { return AText.toUtf8().toStdString(); }

// A run never replaces an earlier run's log: a name already taken gets
// "-2", "-3", ... before the extension. Far more logs than one second can
// see; past that something else is wrong with the folder.
constexpr int kMaxLogsPerName = 1000;

// One level only: the folder beside the executable is expected to exist.
// Empty when the folder is there, otherwise why it could not be made.
std::string MakeFolder(const QString& AFolder) {
  const std::filesystem::path folder(AFolder.toStdU16String());
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return {};
  if (std::filesystem::create_directory(folder, ec)) return {};
  return ec ? ec.message() : std::string("a file of that name is in the way");
}

std::runtime_error CannotCreate(const QString& APath, const QString& AReason) {
  return std::runtime_error("Cannot create file \"" + Utf8(APath) + "\": " + Utf8(AReason));
}

// Creates the file only when no file of that name exists, so two runs
// cannot write into one. False when the name is taken.
bool WriteNewFile(const QString& APath, const QByteArray& AContent) {
  QFile file(APath);
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
    if (QFileInfo::exists(APath)) return false;
    throw CannotCreate(APath, file.errorString());
  }
  if (file.write(AContent) != AContent.size() || !file.flush()) {
    const QString reason = file.errorString();
    file.remove();
    throw CannotCreate(APath, reason);
  }
  return true;
}

// Writes the log into AFolder under the stamp's name, or the first free
// name with a suffix; returns the path written.
QString WriteLog(const QString& AFolder, const QString& AStamp, const QByteArray& AContent) {
  const QString extension = QString::fromLatin1(kLogExtension);
  for (int n = 1; n <= kMaxLogsPerName; ++n) {
    const QString suffix = n == 1 ? QString() : QStringLiteral("-%1").arg(n);
    const QString path = AFolder + AStamp + suffix + extension;
    if (!QFileInfo::exists(path) && WriteNewFile(path, AContent)) return path;
  }
  throw CannotCreate(AFolder + AStamp + extension, QStringLiteral("every name is taken"));
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
  LogMsg(kStartMessageId, mtApplication, std::string(kProductName) + " " + kKestrovaVersion, clGray);
}

void TfKestrovaLoader_Log::LogMsg(int32_t /*AID*/, TMessageType /*AType*/,
                                  const std::string& AMessage, TColor AColor) {
  // The writer repaints the view on its short refresh timer, once for all
  // lines that arrive in the meantime.
  LOGre(redtLog, QString::fromStdString(AMessage), AColor, true, true, false);
}

QString TfKestrovaLoader_Log::SaveLogFile(const QDateTime& AWhen) {
  const QString folder = QtPath(station::LogsFolder()) + QLatin1Char('/');
  const QString stamp = AWhen.toString(kLogNameFormat);
  const QByteArray content = DocumentToRtf(*redtLog->document());
  const std::string problem = MakeFolder(folder);
  if (problem.empty()) return WriteLog(folder, stamp, content);
  // The log is not lost for a folder we cannot make: it goes where any
  // user may write, and the error says where.
  const QString fallback = WriteLog(QDir::tempPath() + QLatin1Char('/'), stamp, content);
  throw std::runtime_error("Cannot create folder \"" + Utf8(folder) + "\": " + problem +
                           ". The log was saved as \"" + Utf8(fallback) + "\".");
}
