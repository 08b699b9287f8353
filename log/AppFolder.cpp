#include "AppFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {
QString& Override() {
  static QString folder;
  return folder;
}
QString WithSlash(QString path) {
  if (!path.endsWith('/')) path += '/';
  return path;
}
}  // namespace

QString AppFolder() {
  if (!Override().isEmpty()) return WithSlash(Override());
  return WithSlash(QCoreApplication::applicationDirPath());
}

QString AppFilePath() {
  const QString exe = QCoreApplication::applicationFilePath();
  if (Override().isEmpty()) return exe;
  return WithSlash(Override()) + QFileInfo(exe).fileName();
}

void SetAppFolderOverride(const QString& AFolder) { Override() = AFolder; }
