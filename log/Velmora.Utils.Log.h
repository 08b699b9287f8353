// Rich-text log writer: appends one line to a log view, made of a small
// black timestamp run and the message in its colour. Callable from any
// thread; only the main thread touches the view.
#pragma once

#include <QDateTime>
#include <QPointer>
#include <QString>

#include "LogUtils.h"

class QPlainTextEdit;

// Writes at once on the main thread; from any other thread the call is
// handed to the main thread and returns without waiting for the write.
// An invalid timestamp writes no time; rewriteLast replaces the last line.
void LOGre(QPlainTextEdit* re, const QString& msg, TColor color, bool scroll,
           const QDateTime& timestamp, bool rewriteLast);
// As above, with the current local time when timestamp is true.
void LOGre(QPlainTextEdit* re, const QString& msg, TColor color, bool scroll, bool timestamp,
           bool rewriteLast);

// Unit start-up and shutdown: after LogWriterShutdown every write is a
// no-op, so nothing reaches a view while the application is ending.
void LogWriterInitialize();
void LogWriterShutdown();

// Carries one write from another thread to the main thread. It runs on a
// short-lived thread of its own, waits there until the main thread has
// written the line, and then destroys itself.
class TSyncThread {
 public:
  TSyncThread(QPlainTextEdit* Are, QString Amsg, TColor Acolor, bool Ascroll,
              QDateTime Atimestamp, bool ArewriteLast);
  TSyncThread(const TSyncThread&) = delete;
  TSyncThread& operator=(const TSyncThread&) = delete;

  // Starts the thread; the object belongs to it from here on.
  void Start();

 private:
  void Execute();
  void DoSync();

  // Guarded: a view destroyed before the main thread gets here is skipped.
  QPointer<QPlainTextEdit> re;
  QString msg;
  TColor color;
  bool scroll;
  QDateTime timestamp;
  bool rewriteLast;
};
