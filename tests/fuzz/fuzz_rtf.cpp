// The RTF log file: any text, control characters and characters outside
// the Basic Multilingual Plane included, in runs of varied fonts, colours
// and styles, written by the RTF writer. Property: the file reads back to
// the text the view shows (control characters and embedded objects, which
// the writer leaves out, excepted). Every input is read back by a small
// reader here, exactly; with KESTROVA_FUZZ_UNRTF=1 (the replay of a corpus
// in CI) also by unrtf, as a word processor would show it: runs of blanks
// count as one.
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "RtfWriter.h"

namespace {

constexpr size_t kMaxInput = 4 * 1024;
// Starts a new run of text in the input; never part of the text itself.
constexpr char kRunSeparator = '\x01';
const char* const kFonts[] = {"Verdana", "Courier New", "Fuzz Sans"};
const QColor kColors[] = {Qt::black, Qt::red, QColor(0, 0x80, 0), Qt::blue, QColor(0x80, 0x80, 0x80)};

// Fonts need the application object. It lives until the process ends: Qt
// must not be torn down while the fuzzer's own exit handlers still run.
void EnsureApplication() {
  static QGuiApplication* app = nullptr;
  if (app != nullptr) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "fuzz_rtf";
  static char* argv[] = {name, nullptr};
  app = new QGuiApplication(argc, argv);
}

QTextCharFormat FormatOf(uint8_t ASeed) {
  QTextCharFormat format;
  QFont font(QString::fromLatin1(kFonts[ASeed % 3]));
  font.setPixelSize(6 + ASeed % 9);
  font.setBold((ASeed & 0x10) != 0);
  font.setItalic((ASeed & 0x20) != 0);
  font.setUnderline((ASeed & 0x40) != 0);
  font.setStrikeOut((ASeed & 0x80) != 0);
  format.setFont(font);
  if (ASeed % 7 != 0) format.setForeground(kColors[ASeed % 5]);
  return format;
}

// The text of the document as the view shows it, paragraphs on lines of
// their own, without what has no place in RTF text.
QString ShownText(const QTextDocument& ADoc) {
  QString text;
  for (QTextBlock b = ADoc.begin(); b.isValid(); b = b.next()) {
    if (b != ADoc.begin()) text += QLatin1Char('\n');
    for (const QChar ch : b.text()) {
      const bool control = ch.category() == QChar::Other_Control && ch != QLatin1Char('\t');
      if (!control && ch != QChar::ObjectReplacementCharacter) text += ch;
    }
  }
  return text;
}

// ---- a small RTF reader: groups, control words and symbols, \uN -------

class TRtfReader {
 public:
  explicit TRtfReader(const QByteArray& ARtf) : FRtf(ARtf) {}

  QString Text() {
    std::vector<TState> stack{TState{}};
    while (FPos < FRtf.size()) {
      const char c = FRtf[FPos++];
      if (c == '{') {
        stack.push_back(stack.back());
      } else if (c == '}') {
        FUZZ_CHECK(stack.size() > 1, "unbalanced '}' at byte " + std::to_string(FPos));
        stack.pop_back();
      } else if (c == '\\') {
        ControlWord(stack.back());
      } else if (c != '\n' && c != '\r') {
        Emit(stack.back(), QChar(static_cast<char16_t>(static_cast<unsigned char>(c))));
      }
    }
    FUZZ_CHECK(stack.size() == 1, "unclosed group");
    return FText;
  }

 private:
  struct TState {
    int Uc = 1;        // fallback characters after \uN
    bool Skip = false;  // inside a destination that is not text
  };

  void Emit(TState& AState, QChar ACh) {
    if (FSkipFallback > 0) {
      --FSkipFallback;
      return;
    }
    if (!AState.Skip) FText += ACh;
  }

  void ControlWord(TState& AState) {
    FUZZ_CHECK(FPos < FRtf.size(), "a backslash ends the file");
    const char first = FRtf[FPos];
    if (!std::isalpha(static_cast<unsigned char>(first))) {
      ++FPos;
      if (first == '*') AState.Skip = true;
      if (first == '\\' || first == '{' || first == '}') Emit(AState, QLatin1Char(first));
      return;
    }
    std::string word;
    while (FPos < FRtf.size() && std::isalpha(static_cast<unsigned char>(FRtf[FPos])))
      word += FRtf[FPos++];
    std::string number;
    if (FPos < FRtf.size() && FRtf[FPos] == '-') number += FRtf[FPos++];
    while (FPos < FRtf.size() && std::isdigit(static_cast<unsigned char>(FRtf[FPos])))
      number += FRtf[FPos++];
    if (FPos < FRtf.size() && FRtf[FPos] == ' ') ++FPos;
    const int value = number.empty() || number == "-" ? 0 : std::stoi(number);
    FSkipFallback = 0;
    if (word == "par") Emit(AState, QLatin1Char('\n'));
    if (word == "line") Emit(AState, QChar::LineSeparator);
    if (word == "tab") Emit(AState, QLatin1Char('\t'));
    if (word == "uc") AState.Uc = value;
    if (word == "fonttbl" || word == "colortbl" || word == "stylesheet" || word == "info")
      AState.Skip = true;
    if (word == "u") {
      Emit(AState, QChar(static_cast<char16_t>(static_cast<int16_t>(value))));
      FSkipFallback = AState.Uc;
    }
  }

  const QByteArray& FRtf;
  qsizetype FPos = 0;
  int FSkipFallback = 0;
  QString FText;
};

// ---- unrtf ------------------------------------------------------------------

// Blanks as a reader shows them: every run of white space is one blank,
// none at the ends of a line, and no empty lines before the first line of
// text or after the last (unrtf's HTML starts with the first text).
QString Visible(QString AText) {
  AText.replace(QChar::LineSeparator, QLatin1Char('\n'));
  AText.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  QStringList lines = AText.split(QLatin1Char('\n'));
  for (QString& line : lines) line = line.simplified();
  while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  while (!lines.isEmpty() && lines.first().isEmpty()) lines.removeFirst();
  return lines.join(QLatin1Char('\n'));
}

// Six characters of the whole Basic Multilingual Plane that the file holds
// right (as \uN?) but that come out otherwise through unrtf 0.21's HTML
// entities and Qt's reading of them: unrtf writes U+03D5 as "&phiv;", which
// Qt does not know, and the four signs of the zodiac and music below as the
// entities of other characters; Qt reads "&and;" and "&or;" as U+22A5 and
// U+22A6. (Found by sweeping every character through both.)
QString AsUnrtfShows(QString AText) {
  static const std::pair<char16_t, const char16_t*> kReadOtherwise[] = {
      {u'\u03D5', u"&phiv;"}, {u'\u2227', u"\u22A5"}, {u'\u2228', u"\u22A6"},
      {u'\u2649', u"\u2329"}, {u'\u264A', u"\u232A"},  {u'\u266F', u"\u2666"}};
  for (const auto& [written, shown] : kReadOtherwise)
    AText.replace(QChar(written), QString::fromUtf16(shown));
  return AText;
}

QString UnrtfText(const QByteArray& ARtf) {
  static QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("log.rtf"));
  QFile file(path);
  FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(ARtf) == ARtf.size(), "write");
  file.close();
  QProcess unrtf;
  unrtf.start(QStringLiteral(UNRTF_EXECUTABLE), {QStringLiteral("--html"), path});
  FUZZ_CHECK(unrtf.waitForFinished(30000) && unrtf.exitCode() == 0, "unrtf failed");
  QTextDocument html;
  html.setHtml(QString::fromUtf8(unrtf.readAllStandardOutput()));
  return html.toPlainText();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  if (ASize < 1 || ASize > kMaxInput) return 0;
  EnsureApplication();
  QTextDocument doc;
  QTextCursor cursor(&doc);
  uint8_t seed = AData[0];
  const QByteArray input(reinterpret_cast<const char*>(AData) + 1, static_cast<qsizetype>(ASize - 1));
  for (const QByteArray& run : input.split(kRunSeparator)) {
    cursor.insertText(QString::fromUtf8(run), FormatOf(seed));
    seed = static_cast<uint8_t>(seed * 33 + 7);
  }
  const QString shown = ShownText(doc);
  const QByteArray rtf = DocumentToRtf(doc);
  for (const char c : rtf) {
    FUZZ_CHECK(static_cast<unsigned char>(c) < 0x80, "RTF is 7-bit; the file holds a byte above");
  }
  const QString read = TRtfReader(rtf).Text();
  // The writer ends the last paragraph with \par as well.
  FUZZ_CHECK(read == shown + QLatin1Char('\n'),
             "shown: " + shown.toStdString() + "\nread:  " + read.toStdString() + "\n" +
                 rtf.toStdString());
  if (qEnvironmentVariableIntValue("KESTROVA_FUZZ_UNRTF") == 1) {
    const QString unrtf = UnrtfText(rtf);
    const QString expected = Visible(AsUnrtfShows(shown));
    FUZZ_CHECK(Visible(unrtf) == expected,
               "shown: " + expected.toStdString() + "\nunrtf: " +
                   Visible(unrtf).toStdString() + "\n" + rtf.toStdString());
  }
  return 0;
}
