#include "platform/ui/core/colors.h"

namespace {

// The system colours: one fixed scheme, grey faces with a dark blue selection.
constexpr TColor kSystemColors[] = {
    RGBColor(212, 208, 200),  // clScrollBar
    RGBColor(58, 110, 165),   // clBackground
    RGBColor(10, 36, 106),    // clActiveCaption
    RGBColor(128, 128, 128),  // clInactiveCaption
    RGBColor(212, 208, 200),  // clMenu
    RGBColor(255, 255, 255),  // clWindow
    RGBColor(0, 0, 0),        // clWindowFrame
    RGBColor(0, 0, 0),        // clMenuText
    RGBColor(0, 0, 0),        // clWindowText
    RGBColor(255, 255, 255),  // clCaptionText
    RGBColor(212, 208, 200),  // clActiveBorder
    RGBColor(212, 208, 200),  // clInactiveBorder
    RGBColor(128, 128, 128),  // clAppWorkSpace
    RGBColor(10, 36, 106),    // clHighlight
    RGBColor(255, 255, 255),  // clHighlightText
    RGBColor(212, 208, 200),  // clBtnFace
    RGBColor(128, 128, 128),  // clBtnShadow
    RGBColor(128, 128, 128),  // clGrayText
    RGBColor(0, 0, 0),        // clBtnText
    RGBColor(212, 208, 200),  // clInactiveCaptionText
    RGBColor(255, 255, 255),  // clBtnHighlight
    RGBColor(64, 64, 64),     // cl3DDkShadow
    RGBColor(212, 208, 200),  // cl3DLight
    RGBColor(0, 0, 0),        // clInfoText
    RGBColor(255, 255, 225),  // clInfoBk
};

}  // namespace

TColor ColorToRGB(TColor c) {
  if (c == clNone || c == clDefault) return clBlack;
  if (IsSystemColor(c)) {
    uint32_t index = static_cast<uint32_t>(c) & 0xFFFFFFu;
    if (index >= sizeof(kSystemColors) / sizeof(kSystemColors[0])) return clBlack;
    return kSystemColors[index];
  }
  return c & 0xFFFFFF;
}
