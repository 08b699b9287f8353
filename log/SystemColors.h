// Turns a TColor into the colour to paint with. RGB values are laid out
// 0x00BBGGRR; a value with the high byte 0xFF names one of the platform's
// user-interface colours by index and is looked up in the application
// palette at the moment of the call, so a theme change shows in later text.
#pragma once

#include <QColor>

#include "LogUtils.h"

QColor ToQColor(TColor AColor);

// The inverse for plain RGB colours, 0x00BBGGRR.
TColor FromQColor(const QColor& AColor);
