#include <gtest/gtest.h>

#include <QFile>
#include <QFont>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "LogViewTestUtil.h"
#include "RtfTestUtil.h"
#include "RtfWriter.h"
#include "Velmora.Utils.Log.h"

namespace {

const QString kAccented = QString::fromUtf8("Grüße ąčř € Привет");
const QString kSpecials = QStringLiteral("back\\slash {braced}");
const QString kBeyondBmp = QString::fromUtf8("clef \U0001D11E");

class RtfWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LogWriterInitialize();
    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(9);
    view.setFont(font);
    ASSERT_TRUE(dir.isValid());
  }

  void Write(const QString& AMsg, TColor AColor) {
    LOGre(&view, AMsg, AColor, true, QDateTime(QDate(2016, 3, 14), QTime(9, 5, 7)), false);
  }

  QString SaveRtf() {
    const QString path = dir.filePath(QStringLiteral("out.rtf"));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(DocumentToRtf(*view.document()));
    return path;
  }

  QPlainTextEdit view;
  QTemporaryDir dir;
};

TEST_F(RtfWriterTest, ReaderSeesEveryLineInItsColour) {
  Write("green line", clGreen);
  Write("red line", clRed);
  Write("blue line", clBlue);
  Write("maroon line", clMaroon);
  Write("grey line", clGray);
  const QString html = UnrtfHtml(SaveRtf());
  ASSERT_FALSE(html.isEmpty());
  QTextDocument read;
  read.setHtml(html);
  EXPECT_EQ(ColourOfText(read, "green line"), QColor(0x00, 0x80, 0x00));
  EXPECT_EQ(ColourOfText(read, "red line"), QColor(0xFF, 0x00, 0x00));
  EXPECT_EQ(ColourOfText(read, "blue line"), QColor(0x00, 0x00, 0xFF));
  EXPECT_EQ(ColourOfText(read, "maroon line"), QColor(0x80, 0x00, 0x00));
  EXPECT_EQ(ColourOfText(read, "grey line"), QColor(0x80, 0x80, 0x80));
  EXPECT_EQ(ColourOfText(read, "[2016-03-14 09:05:07]"), QColor(0, 0, 0));
}

TEST_F(RtfWriterTest, ReaderSeesLinesInOrderWithNonAsciiAndRtfSpecialCharacters) {
  Write("first", clBlack);
  Write(kAccented, clRed);
  Write(kSpecials, clBlue);
  const QString text = PlainTextOfHtml(UnrtfHtml(SaveRtf()));
  const QString stamp = QStringLiteral("[2016-03-14 09:05:07] ");
  const qsizetype first = text.indexOf(stamp + "first");
  const qsizetype accented = text.indexOf(stamp + kAccented);
  const qsizetype specials = text.indexOf(stamp + kSpecials);
  EXPECT_GE(first, 0) << text.toStdString();
  EXPECT_GT(accented, first) << text.toStdString();
  EXPECT_GT(specials, accented) << text.toStdString();
}

// Control characters are invisible; a reader would show U+0080 to U+009F
// as windows-1252 letters (unrtf shows U+0080 as the euro sign).
TEST_F(RtfWriterTest, ControlCharactersAreLeftOutInAllThreeRanges) {
  Write(QStringLiteral("a\x01" "b\x7F" "c") + QChar(0x80) + "d" + QChar(0x9F) + "e\tf", clBlack);
  const QByteArray rtf = DocumentToRtf(*view.document());
  EXPECT_TRUE(rtf.contains("abcde\\tab f")) << rtf.toStdString();
  const QString text = PlainTextOfHtml(UnrtfHtml(SaveRtf()));
  EXPECT_TRUE(text.contains(QRegularExpression("abcde\\s+f"))) << text.toStdString();
}

TEST_F(RtfWriterTest, CodeUnitsAbove7FFFGoOutAsNegativeNumbers) {
  Write(kBeyondBmp, clBlack);
  const QByteArray rtf = DocumentToRtf(*view.document());
  // U+1D11E is the pair D834 DD1E: -10188 and -8930 as signed 16-bit values.
  EXPECT_TRUE(rtf.contains("clef {\\u-10188?\\u-8930?}")) << rtf.toStdString();
  EXPECT_FALSE(rtf.contains("\\u55348"));
}

TEST_F(RtfWriterTest, RunsCarryFontSizeInHalfPointsAndTablesListWhatIsUsed) {
  Write("message", clRed);
  const QByteArray rtf = DocumentToRtf(*view.document());
  EXPECT_TRUE(rtf.startsWith("{\\rtf1"));
  EXPECT_TRUE(rtf.contains("{\\f0\\fnil\\fcharset0 Verdana;}")) << rtf.toStdString();
  EXPECT_TRUE(rtf.contains("{\\f1\\fmodern\\fcharset0 Courier New;}")) << rtf.toStdString();
  EXPECT_TRUE(rtf.contains("\\red255\\green0\\blue0;"));
  EXPECT_TRUE(rtf.contains("\\f0\\fs12\\cf1 [2016-03-14 09:05:07] \\f1\\fs20\\cf2 message"))
      << rtf.toStdString();
}

TEST_F(RtfWriterTest, FontsOtherThanTheLogsOwnJoinTheFontTable) {
  Write("logged", clBlack);
  QTextCursor cur(view.document());
  cur.movePosition(QTextCursor::End);
  QTextCharFormat other;
  other.setFontFamilies({QStringLiteral("Odd Font")});
  other.setFontPointSize(14);
  cur.insertText(QStringLiteral(" tail"), other);
  const QByteArray rtf = DocumentToRtf(*view.document());
  EXPECT_TRUE(rtf.contains("{\\f2\\fnil\\fcharset0 Odd Font;}")) << rtf.toStdString();
  EXPECT_TRUE(rtf.contains("\\f2\\fs28\\cf0  tail")) << rtf.toStdString();
}

}  // namespace
