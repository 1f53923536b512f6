// Pop-up menus on FLTK: a menu item tree turned into an Fl_Menu_Item array and shown with FLTK's
// own menu loop. GUI thread only.
#pragma once

#include "platform/ui/core/menus.h"

namespace fltkpeer {

// Shows the visible children of parent with the menu's top left at screen point p, until the
// user chooses (that item is returned, not clicked) or dismisses it (null). Captions are labels:
// "&" marks the shortcut letter, "@" shows as itself. An item with an ImageIndex in its menu's
// Images shows that picture before its caption.
TMenuItem* TrackMenu(TMenuItem& parent, TPoint p);

}  // namespace fltkpeer
