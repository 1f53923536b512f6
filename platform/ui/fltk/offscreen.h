// Drawing into pictures instead of onto the screen: a form's window as the form draws it, and a
// text alone. Nothing is read back from a shown window (which is black until its first expose):
// the form paints into an offscreen pixmap through the same paint device its window uses. Only
// what FLTK draws on its own, a popped-up menu, is read back from the screen.
// GUI thread only; REQUIRES: the display is open.
#pragma once

#include <string_view>

#include "platform/ui/core/forms.h"
#include "platform/ui/core/graphics.h"

namespace fltkpeer {

class TFltkWindowPeer;

// The window of peer (its client area and menu bar) as its form draws it now.
TBitmap CapturePeer(TFltkWindowPeer& peer);
// The window of form; an empty picture when the form has no FLTK window (not shown).
TBitmap CaptureForm(TCustomForm& form);
// text (CP932) drawn in font (its colour) on background, in a picture exactly as wide and high
// as the measurer says; an empty picture for an empty text.
TBitmap RenderText(std::string_view text, const TFontData& font, TColor background);

// The screen rectangle of the menu that is popped up now (the one holding the keyboard), once
// FLTK has drawn it (what is due is drawn first); empty while none is up or it is not drawn yet.
TRect PoppedUpMenuRect();
// What the screen shows in rect (screen coordinates, cut to the screen): the windows over it as
// they were last drawn, a popped-up menu included (GrabScreen, once this program's drawing has
// reached the display). GUI thread only.
TBitmap ReadScreen(const TRect& rect);

}  // namespace fltkpeer
