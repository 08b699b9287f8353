#include "StationFileChoice.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// One line, the path in UTF-8.
const char* const kRememberedName = "last-station-file";

QString RememberedPath() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)).filePath(kRememberedName);
}

// The file last run, when it is still there.
std::optional<QString> Remembered() {
  QFile file(RememberedPath());
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QString path = QString::fromUtf8(file.readAll()).trimmed();
  if (path.isEmpty() || !QFileInfo(path).isFile()) return std::nullopt;
  return path;
}

std::optional<QString> Picked() {
  const QString path = QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open a station file"), QDir::homePath(),
                                                    QStringLiteral("Station files (*.xml)"));
  if (path.isEmpty()) return std::nullopt;
  return path;
}

}  // namespace

std::optional<QString> ChooseStationFile(const QStringList& AArguments) {
  if (!AArguments.isEmpty()) return QFileInfo(AArguments.first()).absoluteFilePath();
  if (std::optional<QString> last = Remembered()) return last;
  return Picked();
}

void RememberStationFile(const QString& AFile) {
  QDir().mkpath(QFileInfo(RememberedPath()).path());
  QSaveFile file(RememberedPath());
  if (!file.open(QIODevice::WriteOnly)) return;  // the operator picks it again next time
  file.write(AFile.toUtf8() + '\n');
  file.commit();
}
