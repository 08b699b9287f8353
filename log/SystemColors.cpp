#include "SystemColors.h"

#include <QApplication>
#include <QPalette>

namespace {

// Indexes of the platform's user-interface colours that have a palette role.
enum TSystemColorIndex : uint8_t {
  kScrollBar = 0,
  kBackground = 1,
  kActiveCaption = 2,
  kInactiveCaption = 3,
  kMenu = 4,
  kWindow = 5,
  kWindowFrame = 6,
  kMenuText = 7,
  kWindowText = 8,
  kCaptionText = 9,
  kHighlight = 13,
  kHighlightText = 14,
  kBtnFace = 15,
  kBtnShadow = 16,
  kGrayText = 17,
  kBtnText = 18,
  kInactiveCaptionText = 19,
  kBtnHighlight = 20,
  k3dDkShadow = 21,
  k3dLight = 22,
  kInfoText = 23,
  kInfoBk = 24,
  kHotLight = 26,
};

QColor PaletteColor(uint8_t AIndex) {
  const QPalette pal = QApplication::palette();
  switch (AIndex) {
    case kWindow:
      return pal.color(QPalette::Active, QPalette::Base);
    case kBtnFace:
    case kScrollBar:
    case kMenu:
      return pal.color(QPalette::Active, QPalette::Button);
    case kBackground:
    case kWindowFrame:
      return pal.color(QPalette::Active, QPalette::Window);
    case kGrayText:
      return pal.color(QPalette::Disabled, QPalette::Text);
    case kInactiveCaptionText:
      return pal.color(QPalette::Disabled, QPalette::WindowText);
    case kBtnText:
      return pal.color(QPalette::Active, QPalette::ButtonText);
    case kActiveCaption:
    case kHighlight:
      return pal.color(QPalette::Active, QPalette::Highlight);
    case kInactiveCaption:
      return pal.color(QPalette::Inactive, QPalette::Highlight);
    case kCaptionText:
    case kHighlightText:
      return pal.color(QPalette::Active, QPalette::HighlightedText);
    case kBtnShadow:
      return pal.color(QPalette::Active, QPalette::Dark);
    case kBtnHighlight:
      return pal.color(QPalette::Active, QPalette::Light);
    case k3dDkShadow:
      return pal.color(QPalette::Active, QPalette::Shadow);
    case k3dLight:
      return pal.color(QPalette::Active, QPalette::Midlight);
    case kInfoText:
      return pal.color(QPalette::Active, QPalette::ToolTipText);
    case kInfoBk:
      return pal.color(QPalette::Active, QPalette::ToolTipBase);
    case kHotLight:
      return pal.color(QPalette::Active, QPalette::Link);
    case kMenuText:
    case kWindowText:
    default:
      return pal.color(QPalette::Active, QPalette::WindowText);
  }
}

}  // namespace

QColor ToQColor(TColor AColor) {
  if (IsSystemColor(AColor)) return PaletteColor(SystemColorIndex(AColor));
  return QColor(AColor & 0xFF, (AColor >> 8) & 0xFF, (AColor >> 16) & 0xFF);
}

TColor FromQColor(const QColor& AColor) {
  return static_cast<TColor>(AColor.red()) | (static_cast<TColor>(AColor.green()) << 8) |
         (static_cast<TColor>(AColor.blue()) << 16);
}
