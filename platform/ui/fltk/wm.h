// What the window manager and the display are told about a shown window beyond what FLTK tells
// them: the window it belongs to (which the manager keeps it above; a modal one also takes the
// focus when its owner is clicked), and, for a hint, that the mouse goes through it. FLTK makes a
// new X window at every show, so each call follows the show it is for. GUI thread only.
#pragma once

class Fl_Window;

namespace fltkpeer {

// Makes window belong to owner (WM_TRANSIENT_FOR), and marks it modal (_NET_WM_STATE_MODAL) when
// modal holds. Nothing when either is not shown.
void SetTransientFor(Fl_Window* window, Fl_Window* owner, bool modal);

// Gives window an empty input shape: presses and moves reach whatever lies below it. Nothing
// where the display lacks the shape extension.
void MakeMouseTransparent(Fl_Window* window);

}  // namespace fltkpeer
