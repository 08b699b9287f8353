#include "Velmora.Utils.Log.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

#include "SystemColors.h"

namespace {

std::atomic<bool> gEnding{false};

constexpr auto kTimestampFormat = "[yyyy-MM-dd hh:mm:ss]";
constexpr auto kPrefixFont = "Verdana";
constexpr qreal kPrefixPoints = 6;
constexpr qreal kMessagePoints = 10;
// A view's scroll range, scrolling and repaint follow its text this much
// later: fast enough to look live, and one layout pass then covers every
// line written meanwhile instead of one pass per line.
constexpr int kRefreshDelayMs = 40;
constexpr auto kRefreshTimerName = "logRefreshTimer";
constexpr auto kScrollPending = "scrollPending";

bool ApplicationEnding() {
  return gEnding.load() || QCoreApplication::instance() == nullptr ||
         QCoreApplication::closingDown();
}

bool OnMainThread() {
  return QThread::currentThread() == QCoreApplication::instance()->thread();
}

void RefreshView(QPlainTextEdit* re, bool AScroll) {
  QAbstractTextDocumentLayout* layout = re->document()->documentLayout();
  emit layout->documentSizeChanged(layout->documentSize());
  emit layout->update();
  if (AScroll) re->verticalScrollBar()->setValue(re->verticalScrollBar()->maximum());
}

QTimer* RefreshTimer(QPlainTextEdit* re) {
  auto* timer = re->findChild<QTimer*>(kRefreshTimerName, Qt::FindDirectChildrenOnly);
  if (timer != nullptr) return timer;
  timer = new QTimer(re);
  timer->setObjectName(kRefreshTimerName);
  timer->setSingleShot(true);
  timer->setInterval(kRefreshDelayMs);
  QObject::connect(timer, &QTimer::timeout, re, [re, timer] {
    const bool scroll = timer->property(kScrollPending).toBool();
    timer->setProperty(kScrollPending, false);
    RefreshView(re, scroll);
  });
  return timer;
}

void ScheduleRefresh(QPlainTextEdit* re, bool AScroll) {
  QTimer* timer = RefreshTimer(re);
  if (AScroll) timer->setProperty(kScrollPending, true);
  if (!timer->isActive()) timer->start();
}

QTextCharFormat RunFormat(const QColor& AColor, const QString& AFamily, qreal APoints) {
  QTextCharFormat f;
  f.setForeground(AColor);
  f.setFontFamilies({AFamily});
  f.setFontPointSize(APoints);
  f.setFontWeight(QFont::Normal);
  f.setFontItalic(false);
  f.setFontUnderline(false);
  f.setFontStrikeOut(false);
  return f;
}

// Lines as the user sees them: a last block that is empty is not a line.
int LineCount(const QTextDocument& ADoc) {
  const int blocks = ADoc.blockCount();
  return ADoc.lastBlock().length() <= 1 ? blocks - 1 : blocks;
}

// Removes the last line together with one line break next to it.
void DeleteLastLine(QTextDocument& ADoc) {
  const int lines = LineCount(ADoc);
  if (lines < 1) return;
  const QTextBlock line = ADoc.findBlockByNumber(lines - 1);
  QTextCursor cur(&ADoc);
  if (line.next().isValid()) {
    cur.setPosition(line.position());
    cur.setPosition(line.next().position(), QTextCursor::KeepAnchor);
  } else {
    cur.setPosition(line.previous().isValid() ? line.position() - 1 : line.position());
    cur.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  }
  cur.removeSelectedText();
}

struct TSelection {
  int anchor;
  int position;
};

void RestoreSelection(QPlainTextEdit* re, const TSelection& ASel) {
  QTextCursor cur = re->textCursor();
  if (cur.anchor() == ASel.anchor && cur.position() == ASel.position) return;
  const int last = re->document()->characterCount() - 1;
  cur.setPosition(std::min(ASel.anchor, last));
  cur.setPosition(std::min(ASel.position, last), QTextCursor::KeepAnchor);
  // Placing the caret scrolls it into view; the write decides the scrolling.
  QScrollBar* v = re->verticalScrollBar();
  QScrollBar* h = re->horizontalScrollBar();
  const int vPos = v->value();
  const int hPos = h->value();
  re->setTextCursor(cur);
  v->setValue(vPos);
  h->setValue(hPos);
}

void AppendLine(QPlainTextEdit* re, const QString& APrefix, const QString& AMsg, TColor AColor) {
  QTextCursor cur(re->document());
  cur.beginEditBlock();
  cur.movePosition(QTextCursor::End);
  cur.insertBlock();
  cur.insertText(APrefix, RunFormat(Qt::black, kPrefixFont, kPrefixPoints));
  cur.insertText(AMsg, RunFormat(ToQColor(AColor), re->font().family(), kMessagePoints));
  cur.endEditBlock();
}

void WriteOnMainThread(QPlainTextEdit* re, const QString& msg, TColor color, bool scroll,
                       const QDateTime& timestamp, bool rewriteLast) {
  const QTextCursor user = re->textCursor();
  const TSelection sel{user.anchor(), user.position()};
  const QString prefix =
      timestamp.isValid() ? timestamp.toString(kTimestampFormat) + QLatin1Char(' ') : QString();
  {
    // The layout stays quiet while the text changes; the refresh speaks for it.
    const QSignalBlocker quiet(re->document()->documentLayout());
    if (rewriteLast) DeleteLastLine(*re->document());
    AppendLine(re, prefix, msg, color);
  }
  RestoreSelection(re, sel);
  ScheduleRefresh(re, scroll);
}

// Local time to the second. Asking for local time makes the C library look
// at the time-zone file every time; within one second the answer cannot
// change, so each thread keeps its last one.
QDateTime CurrentLocalSecond() {
  thread_local qint64 cachedSecond = -1;
  thread_local QDateTime cached;
  const qint64 second = QDateTime::currentSecsSinceEpoch();
  if (second != cachedSecond) {
    cachedSecond = second;
    cached = QDateTime::fromSecsSinceEpoch(second);
  }
  return cached;
}

}  // namespace

void LOGre(QPlainTextEdit* re, const QString& msg, TColor color, bool scroll,
           const QDateTime& timestamp, bool rewriteLast) {
  if (ApplicationEnding() || re == nullptr) return;
  if (!OnMainThread()) {
    (new TSyncThread(re, msg, color, scroll, timestamp, rewriteLast))->Start();
    return;
  }
  WriteOnMainThread(re, msg, color, scroll, timestamp, rewriteLast);
}

void LOGre(QPlainTextEdit* re, const QString& msg, TColor color, bool scroll, bool timestamp,
           bool rewriteLast) {
  LOGre(re, msg, color, scroll, timestamp ? CurrentLocalSecond() : QDateTime(), rewriteLast);
}

void LogWriterInitialize() { gEnding.store(false); }
void LogWriterShutdown() { gEnding.store(true); }

TSyncThread::TSyncThread(QPlainTextEdit* Are, QString Amsg, TColor Acolor, bool Ascroll,
                         QDateTime Atimestamp, bool ArewriteLast)
    : re(Are),
      msg(std::move(Amsg)),
      color(Acolor),
      scroll(Ascroll),
      timestamp(std::move(Atimestamp)),
      rewriteLast(ArewriteLast) {}

void TSyncThread::Start() {
  try {
    std::thread(&TSyncThread::Execute, this).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the line is lost, the caller's work goes on.
    delete this;
  }
}

void TSyncThread::Execute() {
  // Waits until the main thread has run DoSync; an application that ends
  // first drops the request and releases the wait.
  if (QCoreApplication* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, [this] { DoSync(); }, Qt::BlockingQueuedConnection);
  delete this;
}

void TSyncThread::DoSync() {
  // QPointer: the view may be gone by the time the main thread gets here.
  if (re.isNull()) return;
  LOGre(re.data(), msg, color, scroll, timestamp, rewriteLast);
}
