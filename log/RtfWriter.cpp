#include "RtfWriter.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <cmath>
#include <cstdint>
#include <string>

namespace {

// The log's own fonts come first, so their numbers never change.
const char* const kPresetFonts[] = {"Verdana", "Courier New"};
// Font sizes set in pixels are converted at the 96 dpi of a standard screen.
constexpr double kPointsPerPixel = 72.0 / 96.0;
constexpr int kLastPlainAscii = 0x7E;
constexpr int kFirstPrintable = 0x20;
// What a reader assumes after \plain: 12 points.
constexpr int kRtfDefaultHalfPoints = 24;

struct TRunStyle {
  int font = 0;
  int halfPoints = kRtfDefaultHalfPoints;
  int color = 0;  // 0: the reader's automatic colour
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike = false;
};

void AppendInt(std::string& AOut, long long AValue) { AOut += std::to_string(AValue); }

bool IsBeyondAscii(char16_t AUnit) { return AUnit > kLastPlainAscii; }

// RTF is 7-bit: braces and backslashes are escaped, anything beyond ASCII
// goes out as \uN? with N the UTF-16 code unit as a signed 16-bit number.
// A run of such units sits in a group of its own: some readers take the
// letters right behind the '?' for part of the fallback and drop them.
void AppendEscaped(std::string& AOut, const QString& AText) {
  bool inGroup = false;
  for (const QChar ch : AText) {
    const char16_t u = ch.unicode();
    if (inGroup && !IsBeyondAscii(u)) {
      AOut += '}';
      inGroup = false;
    }
    if (u == '\\' || u == '{' || u == '}') {
      AOut += '\\';
      AOut += static_cast<char>(u);
    } else if (u == '\t') {
      AOut += "\\tab ";
    } else if (u >= kFirstPrintable && u <= kLastPlainAscii) {
      AOut += static_cast<char>(u);
    } else if (u == QChar::LineSeparator) {
      AOut += "{\\line}";
    } else if (IsBeyondAscii(u) && u != QChar::ObjectReplacementCharacter &&
               ch.category() != QChar::Other_Control) {
      if (!inGroup) AOut += '{';
      inGroup = true;
      AOut += "\\u";
      AppendInt(AOut, static_cast<int16_t>(u));
      AOut += '?';
    }
    // Control characters (C0, DEL and C1) and embedded objects have no
    // place in the text.
  }
  if (inGroup) AOut += '}';
}

class TRtfBuilder {
 public:
  explicit TRtfBuilder(const QTextDocument& ADoc) : FDoc(ADoc) {
    for (const char* name : kPresetFonts) FontIndex(QString::fromLatin1(name));
  }

  QByteArray Build() {
    for (QTextBlock b = FDoc.begin(); b.isValid(); b = b.next()) {
      AppendBlock(b);
      if (b.next().isValid()) FBody += "\\par\n";
    }
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n";
    AppendFontTable(out);
    AppendColorTable(out);
    out += "\\pard\\plain ";
    out += FBody;
    out += "\\par\n}\n";
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
  }

 private:
  void AppendBlock(const QTextBlock& ABlock) {
    for (auto it = ABlock.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      AppendRunControls(fragment.charFormatIndex(), fragment.charFormat());
      AppendEscaped(FBody, fragment.text());
    }
  }

  // Controls are written only where a run differs from the one before it.
  void AppendRunControls(int AFormatIndex, const QTextCharFormat& AFormat) {
    auto cached = FStyles.constFind(AFormatIndex);
    const TRunStyle style = cached != FStyles.cend() ? *cached : Resolve(AFormat);
    if (cached == FStyles.cend()) FStyles.insert(AFormatIndex, style);
    const size_t before = FBody.size();
    AppendChange(style.font != FCurrent.font, "\\f", style.font);
    AppendChange(style.halfPoints != FCurrent.halfPoints, "\\fs", style.halfPoints);
    AppendChange(style.color != FCurrent.color, "\\cf", style.color);
    AppendToggle(style.bold != FCurrent.bold, "\\b", style.bold);
    AppendToggle(style.italic != FCurrent.italic, "\\i", style.italic);
    AppendToggle(style.underline != FCurrent.underline, "\\ul", style.underline);
    AppendToggle(style.strike != FCurrent.strike, "\\strike", style.strike);
    if (FBody.size() != before) FBody += ' ';
    FCurrent = style;
  }

  void AppendChange(bool AChanged, const char* AWord, int AValue) {
    if (!AChanged) return;
    FBody += AWord;
    AppendInt(FBody, AValue);
  }

  void AppendToggle(bool AChanged, const char* AWord, bool AOn) {
    if (!AChanged) return;
    FBody += AWord;
    if (!AOn) FBody += '0';
  }

  TRunStyle Resolve(const QTextCharFormat& AFormat) {
    const QFont font = AFormat.font().resolve(FDoc.defaultFont());
    TRunStyle s;
    s.font = FontIndex(font.family());
    const double points =
        font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * kPointsPerPixel;
    s.halfPoints = static_cast<int>(std::lround(points * 2));
    s.color = AFormat.foreground().style() == Qt::NoBrush
                  ? 0
                  : ColorIndex(AFormat.foreground().color());
    s.bold = font.bold();
    s.italic = font.italic();
    s.underline = font.underline();
    s.strike = font.strikeOut();
    return s;
  }

  int FontIndex(const QString& AFamily) {
    const int found = FFonts.indexOf(AFamily);
    if (found >= 0) return found;
    FFonts.append(AFamily);
    return static_cast<int>(FFonts.size()) - 1;
  }

  // Entry 0 of the colour table is the automatic colour, so ours start at 1.
  int ColorIndex(const QColor& AColor) {
    const QRgb rgb = AColor.rgb();
    const int found = static_cast<int>(FColors.indexOf(rgb));
    if (found >= 0) return found + 1;
    FColors.append(rgb);
    return static_cast<int>(FColors.size());
  }

  void AppendFontTable(std::string& AOut) const {
    AOut += "{\\fonttbl";
    for (int i = 0; i < FFonts.size(); ++i) {
      AOut += "{\\f";
      AppendInt(AOut, i);
      AOut += FFonts[i] == QLatin1String("Courier New") ? "\\fmodern" : "\\fnil";
      AOut += "\\fcharset0 ";
      AppendEscaped(AOut, QString(FFonts[i]).remove(QLatin1Char(';')));
      AOut += ";}";
    }
    AOut += "}\n";
  }

  void AppendColorTable(std::string& AOut) const {
    AOut += "{\\colortbl ;";
    for (const QRgb rgb : FColors) {
      AOut += "\\red";
      AppendInt(AOut, qRed(rgb));
      AOut += "\\green";
      AppendInt(AOut, qGreen(rgb));
      AOut += "\\blue";
      AppendInt(AOut, qBlue(rgb));
      AOut += ';';
    }
    AOut += "}\n";
  }

  const QTextDocument& FDoc;
  QStringList FFonts;
  QList<QRgb> FColors;
  QHash<int, TRunStyle> FStyles;
  TRunStyle FCurrent{.font = -1};  // forces the first run to name its font
  std::string FBody;
};

}  // namespace

QByteArray DocumentToRtf(const QTextDocument& ADoc) { return TRtfBuilder(ADoc).Build(); }
