#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QScrollBar>
#include <atomic>
#include <memory>
#include <ostream>
#include <thread>

#include "LogViewTestUtil.h"
#include "Velmora.Utils.Log.h"

namespace {

const QDateTime kStamp(QDate(2016, 3, 14), QTime(9, 5, 7));
const QString kStampText = QStringLiteral("[2016-03-14 09:05:07] ");

class LogWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogWriterInitialize();
    view = std::make_unique<QPlainTextEdit>();
    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(9);
    view->setFont(font);
    view->resize(400, 200);
  }
  void TearDown() override { LogWriterInitialize(); }

  void Write(const QString& AMsg, TColor AColor = clBlack, bool AScroll = true,
             bool ARewriteLast = false) {
    LOGre(view.get(), AMsg, AColor, AScroll, kStamp, ARewriteLast);
  }
  QStringList Lines() const { return BlockTexts(*view->document()); }
  QTextBlock LastBlock() const { return view->document()->lastBlock(); }

  std::unique_ptr<QPlainTextEdit> view;
};

TEST_F(LogWriterTest, FirstWriteLeavesFirstLineEmptyAndEachLaterWriteAddsOneLine) {
  Write("one");
  EXPECT_EQ(Lines(), QStringList({"", kStampText + "one"}));
  Write("two");
  Write("three");
  EXPECT_EQ(Lines(), QStringList({"", kStampText + "one", kStampText + "two",
                                  kStampText + "three"}));
}

struct TPrefixCase {
  const char* name;
  bool withTime;
  const char* msg;
  const char* expected;
};
void PrintTo(const TPrefixCase& ACase, std::ostream* AOut) { *AOut << ACase.name; }

class LogWriterPrefixTest : public LogWriterTest,
                            public ::testing::WithParamInterface<TPrefixCase> {};

TEST_P(LogWriterPrefixTest, LineHoldsPrefixAndMessage) {
  const TPrefixCase& c = GetParam();
  LOGre(view.get(), "before", clBlack, true, kStamp, false);
  LOGre(view.get(), QString::fromUtf8(c.msg), clRed, true,
        c.withTime ? kStamp : QDateTime(), false);
  EXPECT_EQ(view->document()->blockCount(), 3);
  EXPECT_EQ(LastBlock().text(), QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LogWriterPrefixTest,
    ::testing::Values(TPrefixCase{"TimeAndMessage", true, "msg", "[2016-03-14 09:05:07] msg"},
                      TPrefixCase{"NoTimeNoBlank", false, "msg", "msg"},
                      TPrefixCase{"EmptyMessageKeepsPrefix", true, "", "[2016-03-14 09:05:07] "},
                      TPrefixCase{"NothingStillAddsLine", false, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogWriterTest, LineHasBlackSmallVerdanaPrefixThenColouredMessageInViewFont) {
  Write("payload", clRed);
  const auto runs = Fragments(LastBlock());
  ASSERT_EQ(runs.size(), 2u);
  const QTextCharFormat prefix = runs[0].charFormat();
  EXPECT_EQ(runs[0].text(), kStampText);
  EXPECT_EQ(prefix.foreground().color(), QColor(Qt::black));
  EXPECT_EQ(prefix.font().family(), "Verdana");
  EXPECT_DOUBLE_EQ(prefix.fontPointSize(), 6.0);
  EXPECT_FALSE(prefix.font().bold() || prefix.font().italic() || prefix.font().underline() ||
               prefix.font().strikeOut());
  const QTextCharFormat msg = runs[1].charFormat();
  EXPECT_EQ(runs[1].text(), "payload");
  EXPECT_EQ(msg.foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(msg.font().family(), "Courier New");
  EXPECT_DOUBLE_EQ(msg.fontPointSize(), 10.0);
  EXPECT_FALSE(msg.font().bold() || msg.font().italic());
}

TEST_F(LogWriterTest, SystemGreyTextIsResolvedWhenTheLineIsWritten) {
  const QPalette saved = QApplication::palette();
  QPalette pal = saved;
  pal.setColor(QPalette::Disabled, QPalette::Text, QColor(0x12, 0x34, 0x56));
  QApplication::setPalette(pal);
  Write("first", clGrayText);
  pal.setColor(QPalette::Disabled, QPalette::Text, QColor(0x65, 0x43, 0x21));
  QApplication::setPalette(pal);
  Write("second", clGrayText);
  QApplication::setPalette(saved);

  const QTextDocument& doc = *view->document();
  EXPECT_EQ(Fragments(doc.findBlockByNumber(1))[1].charFormat().foreground().color(),
            QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(Fragments(doc.findBlockByNumber(2))[1].charFormat().foreground().color(),
            QColor(0x65, 0x43, 0x21));
}

struct TSelectionCase {
  const char* name;
  int anchor;  // -1: end of the text
  int position;
};
void PrintTo(const TSelectionCase& ACase, std::ostream* AOut) { *AOut << ACase.name; }

class LogWriterSelectionTest : public LogWriterTest,
                               public ::testing::WithParamInterface<TSelectionCase> {};

TEST_P(LogWriterSelectionTest, UserSelectionIsTheSameAfterAWrite) {
  for (int i = 0; i < 5; ++i) Write(QStringLiteral("line %1").arg(i));
  const int end = view->document()->characterCount() - 1;
  const int anchor = GetParam().anchor < 0 ? end : GetParam().anchor;
  const int position = GetParam().position < 0 ? end : GetParam().position;
  QTextCursor cur = view->textCursor();
  cur.setPosition(anchor);
  cur.setPosition(position, QTextCursor::KeepAnchor);
  view->setTextCursor(cur);

  Write("more");
  Write("and more", clBlue, true, true);

  EXPECT_EQ(view->textCursor().anchor(), anchor);
  EXPECT_EQ(view->textCursor().position(), position);
}

INSTANTIATE_TEST_SUITE_P(Rows, LogWriterSelectionTest,
                         ::testing::Values(TSelectionCase{"CaretAtStart", 0, 0},
                                           TSelectionCase{"Forward", 3, 30},
                                           TSelectionCase{"Backward", 30, 3},
                                           TSelectionCase{"CaretAtEnd", -1, -1},
                                           TSelectionCase{"UpToEnd", 5, -1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogWriterTest, RewriteLastReplacesTheLastLine) {
  Write("A");
  Write("B");
  Write("C", clRed, true, true);
  EXPECT_EQ(Lines(), QStringList({"", kStampText + "A", kStampText + "C"}));
  Write("D", clRed, true, true);
  Write("E", clRed, true, true);
  EXPECT_EQ(Lines(), QStringList({"", kStampText + "A", kStampText + "E"}));
}

TEST_F(LogWriterTest, RewriteLastOnAnEmptyViewWritesTheFirstLine) {
  Write("first", clRed, true, true);
  EXPECT_EQ(Lines(), QStringList({"", kStampText + "first"}));
}

TEST_F(LogWriterTest, ScrollFalseKeepsTheScrollPositionScrollTrueGoesToTheBottom) {
  view->show();
  QScrollBar* bar = view->verticalScrollBar();
  for (int i = 0; i < 200; ++i) Write(QStringLiteral("filler %1").arg(i));
  ASSERT_TRUE(PumpUntil([&] { return bar->maximum() > 150 && bar->value() == bar->maximum(); }))
      << bar->value() << " of " << bar->maximum();

  bar->setValue(10);
  for (int i = 0; i < 50; ++i) Write("quiet", clBlack, false);
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(bar->value(), 10);
  EXPECT_EQ(view->cursorForPosition(QPoint(2, 2)).blockNumber(), 10);
  EXPECT_GT(bar->maximum(), 200);

  Write("loud", clBlack, true);
  EXPECT_TRUE(PumpUntil([&] { return bar->value() == bar->maximum(); }));
  EXPECT_EQ(view->cursorForPosition(QPoint(2, view->viewport()->height() - 4)).blockNumber(),
            view->document()->blockCount() - 1);
}

class TPaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* AObject, QEvent* AEvent) override {
    if (AEvent->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(AObject, AEvent);
  }
};

TEST_F(LogWriterTest, ShownViewRepaintsNewLinesWithoutFurtherPrompting) {
  view->setFocusPolicy(Qt::NoFocus);  // no blinking caret to paint
  view->show();
  for (int i = 0; i < 5; ++i) Write("filler", clBlack, false);
  PumpUntil([] { return false; }, 200);
  TPaintCounter counter;
  view->viewport()->installEventFilter(&counter);
  PumpUntil([] { return false; }, 300);
  ASSERT_EQ(counter.paints, 0);  // nothing else paints the view meanwhile
  Write("new line", clRed, false);
  EXPECT_TRUE(PumpUntil([&] { return counter.paints > 0; }, 2000));
}

TEST_F(LogWriterTest, CallFromWorkerReturnsBeforeTheLineExistsAndMainThreadWritesIt) {
  Write("main");
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    LOGre(view.get(), "from worker", clBlue, true, kStamp, false);
    returned = true;
  });
  worker.join();  // the main thread handles no events meanwhile
  EXPECT_TRUE(returned);
  EXPECT_EQ(view->document()->blockCount(), 2);
  ASSERT_TRUE(PumpUntil([&] { return view->document()->blockCount() == 3; }));
  EXPECT_EQ(LastBlock().text(), kStampText + "from worker");
  EXPECT_EQ(Fragments(LastBlock())[1].charFormat().foreground().color(), QColor(0, 0, 255));
}

TEST_F(LogWriterTest, HandedOverWriteToAViewDestroyedMeanwhileIsDropped) {
  std::thread worker([&] { LOGre(view.get(), "late", clBlue, true, kStamp, false); });
  worker.join();
  view.reset();
  // The main thread goes on serving hand-overs; the one for the dead view
  // must come back without touching it.
  QPlainTextEdit other;
  std::thread second([&] { LOGre(&other, "alive", clBlue, true, kStamp, false); });
  second.join();
  EXPECT_TRUE(PumpUntil([&] { return other.document()->blockCount() == 2; }));
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(BlockTexts(*other.document()), QStringList({"", kStampText + "alive"}));
}

TEST_F(LogWriterTest, NothingIsWrittenWhileTheApplicationEnds) {
  Write("before");
  LogWriterShutdown();
  Write("during");
  std::thread worker([&] { LOGre(view.get(), "worker", clBlue, true, kStamp, false); });
  worker.join();
  QCoreApplication::processEvents();
  LogWriterInitialize();
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(Lines(), QStringList({"", kStampText + "before"}));
}

TEST_F(LogWriterTest, NoViewWritesNothingAndRaisesNothing) {
  Write("before");
  EXPECT_NO_THROW(LOGre(nullptr, "x", clBlack, true, true, true));
  EXPECT_NO_THROW(LOGre(nullptr, "x", clBlack, false, false, false));
  std::thread worker([] { LOGre(nullptr, "from a worker", clBlue, true, kStamp, false); });
  worker.join();
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(Lines(), QStringList({"", kStampText + "before"}));
}

TEST_F(LogWriterTest, BooleanTimestampUsesTheCurrentLocalTime) {
  const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
  LOGre(view.get(), "now", clBlack, true, true, false);
  const QDateTime after = QDateTime::currentDateTime().addSecs(1);
  const QString text = LastBlock().text();
  const QDateTime stamp = QDateTime::fromString(text.mid(1, 19), "yyyy-MM-dd hh:mm:ss");
  ASSERT_TRUE(stamp.isValid()) << text.toStdString();
  EXPECT_GE(stamp, before.addMSecs(-before.time().msec()));
  EXPECT_LE(stamp, after);
  EXPECT_EQ(text.mid(20), "] now");
  LOGre(view.get(), "never", clBlack, true, false, false);
  EXPECT_EQ(LastBlock().text(), "never");
}

}  // namespace
