// Reads an RTF file back through unrtf, the way a word processor would.
#pragma once

#include <QColor>
#include <QProcess>
#include <QString>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

// unrtf's HTML rendering of APath, parsed into a document so runs and
// their colours can be inspected; empty on failure.
inline QString UnrtfHtml(const QString& APath) {
  QProcess p;
  p.start(QStringLiteral(UNRTF_EXECUTABLE), {QStringLiteral("--html"), APath});
  if (!p.waitForFinished(30000) || p.exitCode() != 0) return {};
  return QString::fromUtf8(p.readAllStandardOutput());
}

// The colour of the run holding AText in AHtml, invalid when not found.
inline QColor ColourOfText(const QTextDocument& AHtml, const QString& AText) {
  for (QTextBlock b = AHtml.begin(); b.isValid(); b = b.next()) {
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      if (it.fragment().text().contains(AText)) return it.fragment().charFormat().foreground().color();
    }
  }
  return {};
}

inline QString PlainTextOfHtml(const QString& AHtml) {
  QTextDocument doc;
  doc.setHtml(AHtml);
  return doc.toPlainText();
}
