// Rich Text Format from a text document: every block becomes a paragraph,
// every run of one character format a group of font, size, colour and
// style controls. Fonts and colours go into the tables as they are met.
#pragma once

#include <QByteArray>

class QTextDocument;

QByteArray DocumentToRtf(const QTextDocument& ADoc);
