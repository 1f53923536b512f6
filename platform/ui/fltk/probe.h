// The display as a user sees it, for tests: the windows the window manager manages in their
// stacking order, the display window of a form among them, and the screen's pixels. Each call
// reads through a display connection of its own (named by $DISPLAY), so it works from any thread
// (a test's watcher while the GUI thread is busy) and sees what the server shows, not what the
// program believes.
#pragma once

#include <vector>

#include "platform/ui/core/forms.h"
#include "platform/ui/core/graphics.h"

namespace fltkpeer {

using TDisplayWindow = unsigned long;

// The display window of form's peer (0 while it has none on the display). GUI thread only.
TDisplayWindow DisplayWindowOf(const TCustomForm& form);

// The managed windows, bottom to top (the manager's _NET_CLIENT_LIST_STACKING); empty when no
// window manager runs or the display cannot be opened.
std::vector<TDisplayWindow> ManagedStacking();

// The screen's pixels in rect (0xFFRRGGBB); empty when the display cannot be opened or rect
// leaves the screen.
TBitmap GrabScreen(const TRect& rect);

}  // namespace fltkpeer
