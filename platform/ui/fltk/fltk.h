// The window classes on a real display (FLTK 1.3 on X): what a program calls to run its forms on
// the screen. Nothing outside this folder includes an FLTK header; the rest of this folder's
// headers are its own (the peers), except offscreen.h, png.h and screenshots.h, which tests and
// unattended runs use.
//
// Threads: the GUI thread only (the thread that makes the widget set).
#pragma once

#include <memory>
#include <string>

#include "platform/ui/core/graphics.h"
#include "platform/ui/core/peer.h"

namespace fltkpeer {

// Opens the display named by DISPLAY (once per process) and makes the widget set the application
// runs on. Returns null with the reason in *error when no display can be opened. The caller owns
// the result and keeps it beyond the application it is given to. REQUIRES: no other FLTK widget
// set lives.
std::unique_ptr<TWidgetSet> CreateFltkWidgetSet(std::string* error);

// The FLTK font name font is drawn with (its first byte the style: " IPAPGothic"), and the family
// fontconfig actually resolves that font to ("" when it finds none).
std::string FontNameOf(const TFontData& font);
std::string ResolvedFamilyOf(const TFontData& font);

}  // namespace fltkpeer
