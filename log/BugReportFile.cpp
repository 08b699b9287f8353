#include "BugReportFile.h"

#include <QFile>
#include <QList>
#include <QSaveFile>

namespace {
const QByteArray kMark(kBugReportMark);

// Offsets at which a report begins; text before the first mark counts as one
// more (oldest) block.
QList<qsizetype> ReportStarts(const QByteArray& AText) {
  QList<qsizetype> starts{0};
  for (qsizetype at = AText.indexOf("\n" + kMark); at >= 0;
       at = AText.indexOf("\n" + kMark, at + 1)) {
    starts.append(at + 1);
  }
  return starts;
}
}  // namespace

QByteArray FormatBugReport(const QByteArray& ATime, const QByteArray& AThread,
                           const QByteArray& AMessage) {
  QByteArray message = AMessage;
  message.replace("\r\n", "\n");
  message.replace('\n', "\n  ");
  QByteArray thread = AThread;
  thread.replace('\n', ' ');
  return kMark + ATime + " ====\nThread: " + thread + "\nError: " + message + "\n\n";
}

QByteArray AppendWithinLimit(const QByteArray& AExisting, const QByteArray& AReport,
                             qsizetype ALimit) {
  if (AReport.size() >= ALimit) {
    // Alone over the limit: keep its start, which says what happened.
    return AReport.left(ALimit - 3) + "\n\n";
  }
  QByteArray kept = AExisting;
  if (!kept.isEmpty() && !kept.endsWith('\n')) kept += '\n';
  const QList<qsizetype> starts = ReportStarts(kept);
  for (const qsizetype start : starts) {
    if (kept.size() - start + AReport.size() < ALimit) return kept.mid(start) + AReport;
  }
  return AReport;
}

bool AppendBugReport(const QString& APath, const QByteArray& AReport) {
  QByteArray existing;
  QFile current(APath);
  if (current.exists()) {
    if (!current.open(QIODevice::ReadOnly)) return false;
    existing = current.readAll();
    current.close();
  }
  // Written aside and renamed into place: a failed write never loses older reports.
  QSaveFile file(APath);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.write(AppendWithinLimit(existing, AReport));
  return file.commit();
}
