// Fonts on the display: the faces the forms name, mapped onto the fonts this system installs, and
// the text measurer built on them. Only this folder sees FLTK font numbers. GUI thread only.
#pragma once

#include <string>

#include "platform/ui/core/graphics.h"
#include "platform/ui/core/peer.h"

namespace fltkpeer {

// The FLTK font name (its first byte the style, as FLTK's Xft back-end reads it) that font is
// drawn with: the Japanese gothic faces map onto the IPA fonts, every other face onto FLTK's sans.
std::string FontNameFor(const TFontData& font);

// The font of the peer's own texts (message boxes): the proportional Japanese gothic, its FLTK
// font number, and its pixel height.
constexpr int kUiFontHeight = 12;
int UiFontNumber();
void SelectUiFont(int pixelHeight);

// Makes font FLTK's current font (fl_font): face, style and pixel height.
void SelectFont(const TFontData& font);

// Measures with the display's fonts. REQUIRES: the display is open.
class TFltkMeasurer : public TTextMeasurer {
 public:
  int TextWidth(const TFontData& font, std::string_view text) override;
  int TextHeight(const TFontData& font) override;
};

}  // namespace fltkpeer
