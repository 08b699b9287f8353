// Small readers of a log view shared by the log tests.
#pragma once

#include <QColor>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <vector>

inline QStringList BlockTexts(const QTextDocument& ADoc) {
  QStringList out;
  for (QTextBlock b = ADoc.begin(); b.isValid(); b = b.next()) out << b.text();
  return out;
}

inline std::vector<QTextFragment> Fragments(const QTextBlock& ABlock) {
  std::vector<QTextFragment> out;
  for (auto it = ABlock.begin(); !it.atEnd(); ++it) out.push_back(it.fragment());
  return out;
}

// Lets the main thread handle events until ADone holds or time runs out.
template <class F>
bool PumpUntil(F ADone, int ATimeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!ADone()) {
    if (t.elapsed() > ATimeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}
