#include "TileLogDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QVBoxLayout>

#include "StationTile.h"

namespace {

// A line's own colour (0x00BBGGRR); the platform's colours are the text's.
QTextCharFormat FormatOf(TColor AColor, const QPalette& APalette) {
  QTextCharFormat format;
  if (AColor == clGrayText)
    format.setForeground(APalette.color(QPalette::Disabled, QPalette::Text));
  else if (IsSystemColor(AColor))
    format.setForeground(APalette.color(QPalette::Text));
  else
    format.setForeground(QColor(AColor & 0xFF, (AColor >> 8) & 0xFF, (AColor >> 16) & 0xFF));
  return format;
}

}  // namespace

void ShowTileLog(QWidget& AParent, const TStationTile& ATile) {
  auto* dialog = new QDialog(&AParent);
  dialog->setObjectName(QStringLiteral("tile-log"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QStringLiteral("%1 (%2): the last board's log").arg(ATile.Label(), ATile.Port()));
  auto* text = new QPlainTextEdit(dialog);
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  QTextCursor cursor(text->document());
  for (const TTileLogLine& line : ATile.LogLines()) {
    if (!cursor.atStart()) cursor.insertBlock();
    cursor.insertText(line.Text, FormatOf(line.Color, text->palette()));
  }
  if (ATile.LogLines().empty()) text->setPlaceholderText(QStringLiteral("No lines yet from a board at this port."));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(text);
  layout->addWidget(buttons);
  dialog->resize(720, 480);
  dialog->open();
}
