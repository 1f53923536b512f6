// Fonts on the display: the faces the forms name, mapped onto the fonts this system installs, and
// the text measurer built on them. A face draws the characters it has; each character it lacks
// (a kana or kanji in a Latin face) is drawn from the proportional IPA gothic in the same style and
// height, as font linking does, so no character an installed font holds shows as a box. Only this
// folder sees FLTK font numbers. GUI thread only.
#pragma once

#include <string>
#include <string_view>

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

// Makes font FLTK's current font (fl_font): face, style and pixel height. fl_height and
// fl_descent then give the line of a text in font, whatever its runs from the fallback face.
void SelectFont(const TFontData& font);

// Draws utf8 in font, in FLTK's current colour, from x on with its baseline at y: each run of
// characters from the face that has them (see above). Returns the width drawn, which is what
// TFltkMeasurer measures. Leaves font current.
int DrawUtf8(const TFontData& font, std::string_view utf8, int x, int baseline);

// Measures with the display's fonts. REQUIRES: the display is open.
class TFltkMeasurer : public TTextMeasurer {
 public:
  int TextWidth(const TFontData& font, std::string_view text) override;
  int TextHeight(const TFontData& font) override;
};

}  // namespace fltkpeer
