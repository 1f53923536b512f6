// Keys and mouse state of FLTK events in the window classes' terms. GUI thread only (they read
// FLTK's current event).
#pragma once

#include "platform/ui/core/types.h"

namespace fltkpeer {

// The virtual key of FLTK key code, 0 for keys the classes do not know.
WORD VirtualKeyOf(int fltkKey);
// The shift state of the current event (keys and buttons held).
TShiftState CurrentShiftState();

}  // namespace fltkpeer
