// Display events made by the program itself and delivered through FLTK's own dispatch, as the
// display's would be: for tests of the window peer and for unattended runs. GUI thread only.
#pragma once

#include "platform/ui/core/forms.h"

namespace fltkpeer {

// A key press (virtual key vk, no shift) reaching form's window while it has the keyboard.
// REQUIRES: the form is shown on the FLTK widget set.
void SendKey(TCustomForm& form, WORD vk);
// What FLTK does with an Escape that no widget takes: it calls the window's callback.
void SendUnhandledEscape(TCustomForm& form);
// A key press for whatever holds the keyboard now: a popped-up menu (FLTK's grab) or the
// focused window.
void SendKeyToDisplay(WORD vk);
// The window manager's close button, of form's window or of the program's topmost window (a
// message box, say).
void SendCloseButton(TCustomForm& form);
void SendCloseButtonToDisplay();

}  // namespace fltkpeer
